// Finding lines in the log store: direction and wrap-around, case, the kind of line, patterns, and
// the count over many chunks while lines keep coming.
#include "console/LogSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// The line found from from, or -1 for none; the find is stepped one chunk at a time.
std::ptrdiff_t FindFrom(LogSearch& search, std::ptrdiff_t from, bool forward) {
    search.BeginFind(from, forward);
    for (;;) {
        switch (search.StepFind(1)) {
        case LogSearch::Progress::Found:
            return static_cast<std::ptrdiff_t>(search.FoundLine());
        case LogSearch::Progress::NotFound:
            return -1;
        case LogSearch::Progress::Pending:
            break;
        }
    }
}

std::size_t CountAll(LogSearch& search) {
    while (!search.StepCount(1)) {
    }
    return search.Total().value();
}

void Fill(LogLines& lines, const std::vector<std::pair<std::string, uint32_t>>& entries) {
    for (const auto& [text, colour] : entries)
        lines.Append(text, colour);
}
} // namespace

TEST(LogSearch, FindsForwardAndBackwardAndWrapsAroundTheEnds) {
    LogLines lines;
    Fill(lines, {{"STATUS?", LogColours::Tx}, {"ok", LogColours::Rx}, {"STATUS?", LogColours::Tx}, {"x", 0}});
    LogSearch search(lines);
    ASSERT_EQ(search.SetQuery({"STATUS", false, true, FindLines::All}), "");
    EXPECT_EQ(FindFrom(search, -1, true), 0);
    EXPECT_EQ(FindFrom(search, 0, true), 2);
    EXPECT_EQ(FindFrom(search, 2, true), 0);
    EXPECT_EQ(FindFrom(search, -1, false), 2);
    EXPECT_EQ(FindFrom(search, 2, false), 0);
    EXPECT_EQ(FindFrom(search, 0, false), 2);
    // The only match is found again from itself.
    ASSERT_EQ(search.SetQuery({"ok", false, true, FindLines::All}), "");
    EXPECT_EQ(FindFrom(search, 1, true), 1);
}

TEST(LogSearch, ATextRunningIntoTheNextLineIsNoMatch) {
    LogLines lines;
    Fill(lines, {{"ab", 0}, {"", 0}, {"cd", 0}, {"xbc", 0}});
    LogSearch search(lines);
    for (const char* query : {"bc", "b\\s*c"}) {
        search.SetQuery({query, query[1] != 'c', true, FindLines::All});
        EXPECT_EQ(FindFrom(search, -1, true), 3) << query;
        EXPECT_EQ(CountAll(search), 1U) << query;
    }
    // Anchored to the line, not to the chunk the lines lie in.
    search.SetQuery({"\\Acd\\z", true, true, FindLines::All});
    EXPECT_EQ(FindFrom(search, -1, true), 2);
}

TEST(LogSearch, CaseMattersOnlyWhenAskedForLatin1LettersToo) {
    LogLines lines;
    Fill(lines, {{"Temp 25 \xC9T\xC9", 0}});
    LogSearch search(lines);
    search.SetQuery({"temp 25 \xE9t\xE9", false, false, FindLines::All});
    EXPECT_EQ(FindFrom(search, -1, true), 0);
    search.SetQuery({"temp", false, true, FindLines::All});
    EXPECT_EQ(FindFrom(search, -1, true), -1);
    search.SetQuery({"TEMP\\s+\\d+", true, false, FindLines::All});
    EXPECT_EQ(FindFrom(search, -1, true), 0);
    search.SetQuery({"TEMP\\s+\\d+", true, true, FindLines::All});
    EXPECT_EQ(FindFrom(search, -1, true), -1);
}

TEST(LogSearch, OnlyLinesOfTheChosenKindAreFound) {
    LogLines lines;
    Fill(lines, {{"VOLT 5", LogColours::Tx}, {"VOLT 5", LogColours::Rx}, {"VOLT 5", LogColours::Status}});
    LogSearch search(lines);
    for (bool pattern : {false, true}) {
        search.SetQuery({"VOLT", pattern, true, FindLines::Rx});
        EXPECT_EQ(FindFrom(search, -1, true), 1);
        EXPECT_EQ(CountAll(search), 1U);
        search.SetQuery({"VOLT", pattern, true, FindLines::Tx});
        EXPECT_EQ(FindFrom(search, 0, true), 0);
        EXPECT_TRUE(search.Matches(0));
        EXPECT_FALSE(search.Matches(2));
    }
}

TEST(LogSearch, APatternFindsByRe2AndABadOneSaysWhyAndFindsNothing) {
    LogLines lines;
    Fill(lines, {{"VOLT 5", 0}, {"CURR 1.5", 0}, {"VOLT 12.5", 0}});
    LogSearch search(lines);
    ASSERT_EQ(search.SetQuery({"^VOLT \\d+\\.\\d$", true, true, FindLines::All}), "");
    EXPECT_EQ(FindFrom(search, -1, true), 2);
    const std::string problem = search.SetQuery({"VOLT (\\d", true, true, FindLines::All});
    EXPECT_NE(problem.find("parenthesis"), std::string::npos) << problem;
    EXPECT_FALSE(search.Ready());
    EXPECT_EQ(FindFrom(search, -1, true), -1);
}

TEST(LogSearch, CountsOverManyChunksWithLinesAddedAndAfterAClear) {
    LogLines lines;
    // About 30 bytes a line: several chunks of the store.
    for (int i = 0; i < 40000; ++i)
        lines.Append("[12:00:00.000] Rx: VOLT " + std::to_string(i), LogColours::Rx);
    ASSERT_GT(lines.ChunkCount(), 3U);
    LogSearch search(lines);
    search.SetQuery({"VOLT 1", false, true, FindLines::All});
    ASSERT_FALSE(search.StepCount(1));
    EXPECT_FALSE(search.Total());
    // 1, 10-19, 100-199, 1000-1999, 10000-19999.
    EXPECT_EQ(CountAll(search), 11111U);
    EXPECT_EQ(search.Number(10000), 1112U);
    EXPECT_EQ(FindFrom(search, 1999, true), 10000);

    // Lines that come while counting are counted too, in new chunks as in the newest.
    search.SetQuery({"VOLT 4", false, true, FindLines::All});
    search.StepCount(1);
    for (int i = 40000; i < 80000; ++i)
        lines.Append("[12:00:01.000] Rx: VOLT " + std::to_string(i), LogColours::Rx);
    // 4, 40-49, 400-499, 4000-4999, 40000-49999.
    EXPECT_EQ(CountAll(search), 11111U);
    lines.Append("VOLT 4", LogColours::Tx);
    EXPECT_EQ(search.Total(), 11112U);

    lines.Clear();
    lines.Append("VOLT 4", LogColours::Rx);
    EXPECT_EQ(CountAll(search), 1U);
    EXPECT_EQ(FindFrom(search, 5, true), 0);
}
