// Series from replies without a window: the patterns (RE2), the numbers, the times, the storage, the
// reduction to pixel columns and the CSV.
#include "TempDir.h"
#include "connection/LineFramer.h"
#include "plot/PlotAxes.h"
#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"
#include "plot/SeriesCsv.h"
#include "plot/SeriesExport.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {
constexpr int64_t Day = 19000 * MsPerDay; // some day's midnight
constexpr int64_t Noon = Day + 12 * 3600000;

std::string FileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<SeriesDefinition> FwdAndTemp() {
    return {{"FWD", "^FWD ([-+0-9.eE]+)"}, {"TEMP", "TEMP=([0-9.]+)C"}};
}

struct PatternCase {
    const char* pattern;
    const char* problem; // "" when usable
};
class PatternProblemTest : public testing::TestWithParam<PatternCase> {};

TEST_P(PatternProblemTest, ACompilingPatternWithOneGroupIsTakenElseTheReasonIsGiven) {
    EXPECT_EQ(PatternProblem(GetParam().pattern), GetParam().problem);
}
INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternProblemTest,
    testing::Values(
        PatternCase{"^FWD ([-+0-9.eE]+)", ""}, PatternCase{"(?:V|v)=(\\d+)", ""},
        PatternCase{"^FWD ([0-9.]+", "a parenthesis is not closed or not opened"},
        PatternCase{"([0-9", "a [ ] bracket is not closed"},
        PatternCase{"FWD [0-9.]+",
                    "the pattern needs exactly one capture group ( ) around the number; it has 0"},
        PatternCase{"(a)(b)", "the pattern needs exactly one capture group ( ) around the number; it has 2"},
        PatternCase{"", "the pattern is empty"},
        PatternCase{"V=(\\d+) V=\\1", "the back-reference \\1 is not supported in RE2 syntax"},
        PatternCase{"(?=FWD)\\w+ (\\d+)", "the look-ahead (?= is not supported in RE2 syntax"},
        PatternCase{"(?!REFL)\\w+ (\\d+)", "the look-ahead (?! is not supported in RE2 syntax"},
        PatternCase{"(?<=FWD )(\\d+)", "the look-behind (?<= is not supported in RE2 syntax"},
        PatternCase{"(?<!REFL )(\\d+)", "the look-behind (?<! is not supported in RE2 syntax"}));

TEST(DefinitionsProblem, NamesTheSeriesAndWhy) {
    EXPECT_EQ(DefinitionsProblem(FwdAndTemp()), "");
    EXPECT_EQ(DefinitionsProblem({{"", "(1)"}}), "series 1 has no name");
    EXPECT_EQ(DefinitionsProblem({{"A", "(1)"}, {"A", "(2)"}}), "two series are named \"A\"");
    EXPECT_EQ(DefinitionsProblem({{"A", "(1"}}), "series \"A\": a parenthesis is not closed or not opened");
    EXPECT_EQ(DefinitionsProblem(std::vector<SeriesDefinition>(9, {"A", "(1)"})),
              "at most 8 series can be plotted");
}

struct NumberCase {
    const char* text;
    bool ok;
    double value;
};
class SeriesNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(SeriesNumberTest, ReadsWhatInstrumentsSend) {
    double value = 0;
    ASSERT_EQ(ParseSeriesNumber(GetParam().text, value), GetParam().ok) << GetParam().text;
    if (GetParam().ok) {
        EXPECT_EQ(value, GetParam().value);
    }
}
INSTANTIATE_TEST_SUITE_P(Numbers, SeriesNumberTest,
                         testing::Values(NumberCase{"45.25", true, 45.25}, NumberCase{" +1.5e3 ", true, 1500},
                                         NumberCase{"-0.5", true, -0.5}, NumberCase{"", false, 0},
                                         NumberCase{"1.2.3", false, 0}, NumberCase{"+-1", false, 0},
                                         NumberCase{"nan", false, 0}, NumberCase{"inf", false, 0}));

struct StampCase {
    const char* stamp;
    int64_t now;
    std::optional<int64_t> time;
};
class StampTimeTest : public testing::TestWithParam<StampCase> {};

// A line framed just before midnight and handled just after it belongs to the day before.
TEST_P(StampTimeTest, PlacesTheStampOnItsDay) {
    EXPECT_EQ(StampTime(GetParam().stamp, GetParam().now), GetParam().time);
    if (GetParam().time) {
        EXPECT_EQ(FormatStampTime(*GetParam().time), GetParam().stamp);
    }
}
INSTANTIATE_TEST_SUITE_P(Stamps, StampTimeTest,
                         testing::Values(StampCase{"12:00:00.250", Noon + 300, Noon + 250},
                                         StampCase{"23:59:59.990", Day + 10, Day - 10},
                                         StampCase{"00:00:00.000", Day + 5, Day},
                                         StampCase{"24:00:00.000", Noon, std::nullopt},
                                         StampCase{"12:00:00", Noon, std::nullopt}));

// A match adds the line's time and number to its series; a line that matches no series, or whose
// group is no number, adds nothing.
TEST(ReplySeries, TakesTheNumberAndTheArrivalTimeOfEachMatch) {
    ReplySeries series;
    std::string reason;
    EXPECT_FALSE(series.Take("FWD 1", "12:00:00.000", Noon)) << "no series, nothing is run";
    ASSERT_TRUE(series.SetDefinitions(FwdAndTemp(), reason)) << reason;
    const uint64_t version = series.Version();
    EXPECT_TRUE(series.Take("FWD 45.5 dBm", "12:00:00.100", Noon + 200));
    EXPECT_TRUE(series.Take("STATUS OK FWD=45.2dBm TEMP=38C", "12:00:00.150", Noon + 200));
    EXPECT_FALSE(series.Take("FWD ---", "12:00:00.160", Noon + 200));
    EXPECT_FALSE(series.Take("ECHO", "12:00:00.170", Noon + 200));
    EXPECT_GT(series.Version(), version);
    ASSERT_EQ(series.Points(0).Size(), 1u);
    EXPECT_EQ(series.Points(0).At(0).timeMs, Noon + 100);
    EXPECT_EQ(series.Points(0).At(0).value, 45.5);
    ASSERT_EQ(series.Points(1).Size(), 1u);
    EXPECT_EQ(series.Points(1).At(0).timeMs, Noon + 100) << "TEMP joins the open row, at its time";
    EXPECT_EQ(series.Points(1).At(0).value, 38);
}

// Matching keeps no stack per character: lines up to the framer's limit give their number.
TEST(ReplySeries, LinesUpToTheLineLimitGiveTheirNumber) {
    for (const size_t length : {size_t{28000}, LineFramer::MaxLine}) {
        for (const char* pattern : {"^FWD ([0-9]+)", "^FWD ([-+0-9.eE]+)"}) {
            ReplySeries series;
            std::string reason;
            ASSERT_TRUE(series.SetDefinitions({{"FWD", pattern}}, reason)) << reason;
            EXPECT_TRUE(series.Take("FWD " + std::string(length - 6, '0') + "42", "12:00:00.000", Noon))
                << pattern << " on " << length;
            ASSERT_EQ(series.Points(0).Size(), 1u);
            EXPECT_EQ(series.Points(0).At(0).value, 42);
        }
    }
}

// Matching takes time linear in the line: nested repeats that a backtracking matcher tries in
// exponentially many ways still return on a long line.
TEST(ReplySeries, NestedRepeatsOnALongLineReturn) {
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions({{"N", "^([0-9]+)+$"}}, reason)) << reason;
    EXPECT_FALSE(series.Take(std::string(LineFramer::MaxLine - 1, '1') + "x", "12:00:00.000", Noon));
    EXPECT_EQ(series.Points(0).Size(), 0u);
}

// A series whose definition stays keeps its points; a changed one starts empty; a refused set
// changes nothing.
TEST(ReplySeries, NewDefinitionsKeepTheUnchangedSeries) {
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions(FwdAndTemp(), reason));
    series.Take("FWD 1 TEMP=2C", "12:00:00.000", Noon);
    EXPECT_FALSE(series.SetDefinitions({{"FWD", "(("}}, reason));
    EXPECT_EQ(series.Definitions(), FwdAndTemp());
    ASSERT_TRUE(series.SetDefinitions({{"TEMP", "TEMP=(\\d+)"}, FwdAndTemp()[0]}, reason));
    EXPECT_EQ(series.Points(0).Size(), 0u);
    EXPECT_EQ(series.Points(1).Size(), 1u);
}

TEST(SeriesStore, KeepsPointsAcrossChunksInUnder24BytesEach) {
    SeriesStore store;
    const size_t count = 3 * SeriesStore::ChunkPoints + 7;
    for (size_t i = 0; i < count; ++i)
        store.Append({static_cast<int64_t>(i) * 10, static_cast<double>(i)});
    ASSERT_EQ(store.Size(), count);
    EXPECT_EQ(store.At(SeriesStore::ChunkPoints).value, static_cast<double>(SeriesStore::ChunkPoints));
    EXPECT_EQ(store.LowerBound(25), 3u);
    EXPECT_EQ(store.LowerBound(1000000000), count);
    EXPECT_LT(store.MemoryBytes(), 24 * count);
}

// However many points, at most two per column plus the neighbours of the span come out, in time
// order, and a one-point spike survives.
TEST(ReduceToColumns, KeepsEachColumnsExtremesInTimeOrder) {
    SeriesStore store;
    for (int64_t t = 0; t < 100000; ++t)
        store.Append({t, t == 43210 ? 1000.0 : std::sin(static_cast<double>(t) / 1000.0)});
    const std::vector<PlotPoint> reduced = ReduceToColumns(store, 1000, 99000, 100);
    EXPECT_LE(reduced.size(), 202u);
    EXPECT_EQ(reduced.front().timeMs, 999);
    EXPECT_EQ(reduced.back().timeMs, 99000);
    EXPECT_TRUE(std::is_sorted(reduced.begin(), reduced.end(),
                               [](const PlotPoint& a, const PlotPoint& b) { return a.timeMs < b.timeMs; }));
    EXPECT_TRUE(
        std::any_of(reduced.begin(), reduced.end(), [](const PlotPoint& p) { return p.value == 1000; }));
    EXPECT_TRUE(ReduceToColumns(store, 5, 5, 100).empty());
}

// The numbers of one reply form one row with the reply's first stamp, dated; a second number for a
// series the row holds, or a pause, starts the next. The export and the stream write the same rows.
TEST(SeriesCsv, OneRowPerReplyInTheExportAndTheStream) {
    TempDir dir;
    const std::string streamed = (dir.Path() / "live.csv").string(),
                      exported = (dir.Path() / "all.csv").string();
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions(
        {{"FWD", "^FWD ([-+0-9.eE]+)"}, {"T, \"C\"", "TEMP=([0-9.]+)C"}, {"REFL", "^REFL ([0-9.]+)"}},
        reason));
    ASSERT_EQ(series.StartCsv(streamed, reason), CsvStream::Opened::Yes) << reason;
    series.Take("FWD 45.25", "12:00:00.100", Noon + 500);
    series.Take("REFL 1.5", "12:00:00.101", Noon + 500);
    series.Take("TEMP=38.5C", "12:00:00.102", Noon + 500);
    series.Take("REFL 1.25", "12:00:00.200", Noon + 500);
    series.Take("FWD 0.1 TEMP=39C", "12:00:00.300", Noon + 500);
    series.Take("FWD 0.2", "12:00:00.400", Noon + 500);
    series.Take("TEMP=40C", "12:00:00.651", Noon + 700);
    series.StopCsv();
    const std::string date = FormatDate(Noon) + " ";
    const std::string expected = "Time,FWD,\"T, \"\"C\"\"\",REFL\r\n" + date +
                                 "12:00:00.100,45.25,38.5,1.5\r\n" + date + "12:00:00.200,0.1,39,1.25\r\n" +
                                 date + "12:00:00.400,0.2,,\r\n" + date + "12:00:00.651,,40,\r\n";
    EXPECT_EQ(FileText(streamed), expected);
    ASSERT_TRUE(ExportCsv(series, exported, reason)) << reason;
    EXPECT_EQ(FileText(exported), expected);
}

TEST(PlotTime, DatesAndTheExportNameAreLocalCalendarDays) {
    EXPECT_EQ(FormatStampDateTime(20795 * MsPerDay + 55801123), "2026-12-08 15:30:01.123");
    EXPECT_EQ(FormatStampDateTime(-1), "1969-12-31 23:59:59.999");
    EXPECT_EQ(SuggestedExportName(20795 * MsPerDay + 55801123), "corvane-plot-2026-12-08-1530.csv");
}

// An old "NAME=PATTERN" still means a series without a unit; a pattern keeps its own '=' and
// brackets.
TEST(ParseSeriesOption, TakesAUnitInBracketsAfterTheName) {
    EXPECT_EQ(ParseSeriesOption("FWD=^FWD ([0-9.]+)"), (SeriesDefinition{"FWD", "^FWD ([0-9.]+)", ""}));
    EXPECT_EQ(ParseSeriesOption("FWD[dBm]=^FWD=([0-9.]+)[a]"),
              (SeriesDefinition{"FWD", "^FWD=([0-9.]+)[a]", "dBm"}));
    EXPECT_EQ(ParseSeriesOption("[dBm]=(1)"), (SeriesDefinition{"[dBm]", "(1)", ""}));
}

TEST(GroupByUnit, SeriesOfOneUnitShareAnAxisInTheOrderTheUnitsAppear) {
    const std::vector<UnitAxis> axes = GroupByUnit({{"FWD", "(1)", "dBm"},
                                                    {"TEMP", "(1)",
                                                     "\xB0"
                                                     "C"},
                                                    {"N", "(1)"},
                                                    {"REFL", "(1)", "dBm "}});
    EXPECT_EQ(axes, (std::vector<UnitAxis>{{"dBm", {0, 3}},
                                           {"\xB0"
                                            "C",
                                            {1}},
                                           {"", {2}}}));
    EXPECT_EQ(AxisTitle(axes[2]), "no unit");
}

struct TicksCase {
    int64_t from, to;
    int width;
    std::vector<std::string> labels; // the first three
    size_t count;
};
class TimeTicksTest : public testing::TestWithParam<TicksCase> {};

TEST_P(TimeTicksTest, RoundTimesAsFineAsTheWidthAllowsAndTheDateAcrossMidnight) {
    const std::vector<TimeTick> ticks = TimeTicks(GetParam().from, GetParam().to, GetParam().width);
    ASSERT_EQ(ticks.size(), GetParam().count);
    for (size_t i = 0; i < GetParam().labels.size(); ++i)
        EXPECT_EQ(ticks[i].label, GetParam().labels[i]);
    for (size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_TRUE(ticks[i].timeMs >= GetParam().from && ticks[i].timeMs <= GetParam().to) << ticks[i].label;
        if (i > 0) {
            EXPECT_NE(ticks[i].label, ticks[i - 1].label);
        }
    }
}
const int64_t Dec8 = 20795 * MsPerDay;
INSTANTIATE_TEST_SUITE_P(
    Spans, TimeTicksTest,
    testing::Values(
        TicksCase{Noon + 30, Noon + 60030, 800, {"12:00:10", "12:00:20", "12:00:30"}, 6},
        TicksCase{Noon - 10, Noon + 800, 800, {"12:00:00.000", "12:00:00.100"}, 9},
        TicksCase{Noon, Noon + 3 * 3600000, 400, {"12:00", "13:00", "14:00"}, 4},
        TicksCase{Dec8 - 3600000, Dec8 + 3600000, 800, {"2026-12-07 23:00", "23:30", "2026-12-08 00:00"}, 5},
        TicksCase{Dec8, Dec8 + 3 * MsPerDay, 1300, {"2026-12-08 00:00", "2026-12-08 12:00"}, 7},
        TicksCase{Noon, Noon, 800, {}, 0}));

// Each series' point nearest the cursor, the earlier of two as near; a series without points is
// left out.
TEST(CursorReadOut, EachSeriesNearestValueWithItsNameAndUnit) {
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions({{"FWD", "^FWD ([0-9.]+)", "dBm"},
                                       {"N", "^N ([0-9]+)"},
                                       {"TEMP", "^TEMP ([0-9.]+)",
                                        "\xB0"
                                        "C"}},
                                      reason));
    series.Take("FWD 40", "12:00:00.000", Noon);
    series.Take("FWD 41.5", "12:00:01.000", Noon + 1000);
    series.Take("TEMP 30", "12:00:01.000", Noon + 1000);
    EXPECT_EQ(CursorReadOut(series, Noon + 500), "12:00:00.500   FWD 40 dBm   TEMP 30 \xB0"
                                                 "C");
    EXPECT_EQ(CursorReadOut(series, Noon + 501), "12:00:00.501   FWD 41.5 dBm   TEMP 30 \xB0"
                                                 "C");
    EXPECT_EQ(CursorReadOut(series, Noon + 9000), "12:00:09.000   FWD 41.5 dBm   TEMP 30 \xB0"
                                                  "C");
}

} // namespace
