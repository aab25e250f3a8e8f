// How a log line is shown with control bytes made visible, and the widths the log keeps for it.
#include "log/ControlChars.h"
#include "log/LogLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct RenderCase {
    const char* name;
    std::string line;
    ControlCharMode mode;
    std::string shown;
    std::vector<EscapeSpan> escapes;
};

void PrintTo(const RenderCase& c, std::ostream* out) {
    *out << c.name;
}

class RenderControlCharsTest : public testing::TestWithParam<RenderCase> {};

using M = ControlCharMode;
const RenderCase RenderCases[] = {
    {"OffKeepsEveryByte", std::string("a\tb\x01\x7f\xe9", 6), M::Off, std::string("a\tb\x01\x7f\xe9", 6), {}},
    {"PlainTextUnchanged", "Rx: 1.234 V", M::Controls, "Rx: 1.234 V", {}},
    {"EmptyLine", "", M::ControlsAndHigh, "", {}},
    {"NulAndEscInTheMiddle", std::string("A\0B\x1b", 4), M::Controls, "A\\x00B\\x1b", {{1, 4}, {6, 4}}},
    {"TabIsAControlByte", "a\tb", M::Controls, "a\\x09b", {{1, 4}}},
    {"NeighboursFormOneRun", "\x02\x03\x7f", M::Controls, "\\x02\\x03\\x7f", {{0, 12}}},
    {"BoundaryBytes", "\x1f\x20\x7e\x7f", M::Controls, "\\x1f ~\\x7f", {{0, 4}, {6, 4}}},
    {"HighBytesKeptWithoutTheOption", "\x80\xff", M::Controls, "\x80\xff", {}},
    {"HighBytesEscapedWithIt", "x\x80\xe9\xff", M::ControlsAndHigh, "x\\x80\\xe9\\xff", {{1, 12}}},
    {"BackslashTextIsNotAnEscape", "\\x41", M::ControlsAndHigh, "\\x41", {}},
};

TEST_P(RenderControlCharsTest, MapsTheLineAndMarksTheEscapes) {
    const RenderCase& c = GetParam();
    DisplayLine shown = RenderControlChars(c.line, c.mode);
    EXPECT_EQ(shown.text, c.shown);
    EXPECT_EQ(shown.escapes, c.escapes);
    // The measured width of the mode is the width of what is shown (no tabs are left to expand).
    if (c.mode != M::Off) {
        EXPECT_EQ(MeasureLine(c.line, LogLines::TabWidth).In(c.mode), shown.text.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, RenderControlCharsTest, testing::ValuesIn(RenderCases),
                         [](const testing::TestParamInfo<RenderCase>& param) {
                             return std::string(param.param.name);
                         });
} // namespace

TEST(ControlCharMode, SettingValuesRoundTripAndUnknownValuesAreOff) {
    for (M mode : {M::Off, M::Controls, M::ControlsAndHigh})
        EXPECT_EQ(ControlCharModeFromSetting(ControlCharModeSetting(mode)), mode);
    for (int odd : {-1, 3, 1000})
        EXPECT_EQ(ControlCharModeFromSetting(odd), M::Off);
}

// Each mode's widest line is kept on its own: the widest line shown plainly need not be the
// widest once its bytes are escaped, and Clear forgets all three.
TEST(LogLinesWidths, EachModeKeepsItsOwnWidestLine) {
    LogLines lines;
    lines.Append("0123456789", 0);           // plain 10, escaped 10
    lines.Append("\t\t", 0);                 // plain 16, escaped 8
    lines.Append("\x01\x02\x03\xe9\xe9", 0); // plain 5, controls 14, all 20
    EXPECT_EQ(lines.LongestWidth(), 16u);
    EXPECT_EQ(lines.LongestWidth(M::Off), 16u);
    EXPECT_EQ(lines.LongestWidth(M::Controls), 14u);
    EXPECT_EQ(lines.LongestWidth(M::ControlsAndHigh), 20u);
    lines.Clear();
    EXPECT_EQ(lines.LongestWidth(M::ControlsAndHigh), 0u);
}
