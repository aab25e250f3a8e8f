// Typed hex read into bytes, and a log line laid out by the hex view.
#include "log/HexBytes.h"
#include "log/LogLines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {
struct ParseCase {
    const char* name;
    std::string typed;
    std::string bytes; //!< Expected when fault is empty.
    std::string fault;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << c.name;
}

class ParseHexBytesTest : public testing::TestWithParam<ParseCase> {};

const ParseCase ParseCases[] = {
    {"PairsWithBlanks", "02 53 54 03", "\x02ST\x03", ""},
    {"BlanksOptionalAndAround", " \t0253  5403 ", "\x02ST\x03", ""},
    {"EitherCase", "aB Cd", "\xab\xcd", ""},
    {"NulAndFf", "00 ff", std::string("\x00\xff", 2), ""},
    {"Empty", "", "", ""},
    {"BlanksOnly", "   ", "", ""},
    {"NotADigitFirst", "02 G3", "", "'G' at column 4 is not a hex digit"},
    {"NotADigitSecond", "025x", "", "'x' at column 4 is not a hex digit"},
    {"ControlCharacterNamedByCode", "02\x01", "", "byte 0x01 at column 3 is not a hex digit"},
    {"OddDigitAtTheEnd", "02 535", "", "'5' at column 6 has no second digit: bytes are pairs of hex digits"},
    {"BlankInsideAPair", "0 2", "", "'0' at column 1 has no second digit: bytes are pairs of hex digits"},
};

TEST_P(ParseHexBytesTest, ReadsPairsOrSaysWhatIsWrongAndWhere) {
    const ParseCase& c = GetParam();
    std::string bytes = "stale";
    std::string fault = "stale";
    EXPECT_EQ(ParseHexBytes(c.typed, bytes, fault), c.fault.empty());
    EXPECT_EQ(fault, c.fault);
    EXPECT_EQ(bytes, c.bytes) << "nothing to send after a fault";
}

INSTANTIATE_TEST_SUITE_P(Typed, ParseHexBytesTest, testing::ValuesIn(ParseCases),
                         [](const testing::TestParamInfo<ParseCase>& param) {
                             return std::string(param.param.name);
                         });
} // namespace

TEST(HexRow, StampAndDirectionStayTextAndTheBytesShowInHexAndAsText) {
    EXPECT_EQ(HexRowCells("[14:03:07.045] Rx: \x02ST\x03\r", 0, SIZE_MAX),
              "[14:03:07.045] Rx: 02 53 54 03 0D  .ST..");
    EXPECT_EQ(HexRowCells(std::string("Tx: \x00\x7f\x80\xff~", 9), 0, SIZE_MAX), "Tx: 00 7F 80 FF 7E  ....~");
    EXPECT_EQ(HexRowCells("[14:03:07.045] Rx: ", 0, SIZE_MAX), "[14:03:07.045] Rx: ");
    // Status lines, batch lines and the like are not shown in hex.
    for (const char* other :
         {"[14:03:07.045] Connected to \"tcp:127.0.0.1:5025\".", "Rx:1", "[no stamp Rx: 1"}) {
        EXPECT_EQ(HexPayloadStart(other), std::string::npos) << other;
        EXPECT_EQ(HexRowWidth(other), 0u) << other;
        EXPECT_EQ(HexRowCells(other, 0, SIZE_MAX), "") << other;
    }
}

// A line longer than a block goes on to the right block by block; any window of the row is the
// same cells as the whole row has there, and the width is the whole row's.
TEST(HexRow, LongLinesContinueInBlocksAndAnyWindowMatchesTheWholeRow) {
    std::string line = "[14:03:07.045] Tx: ";
    for (int i = 0; i < 40; ++i)
        line += static_cast<char>('0' + i);
    const std::string row = HexRowCells(line, 0, SIZE_MAX);
    EXPECT_EQ(row.substr(19, 68), "30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F  0123456789:;<=>? | ");
    EXPECT_EQ(row.substr(19 + 68), "40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F  @ABCDEFGHIJKLMNO | "
                                   "50 51 52 53 54 55 56 57  PQRSTUVW");
    EXPECT_EQ(HexRowWidth(line), row.size());
    for (std::size_t first = 0; first <= row.size() + 1; ++first) {
        for (std::size_t count : {0u, 1u, 5u, 30u, 70u, 200u})
            ASSERT_EQ(HexRowCells(line, first, count), first < row.size() ? row.substr(first, count) : "")
                << first << "+" << count;
    }

    LogLines lines;
    lines.Append("[14:03:07.046] Disconnected.", LogColours::Blue);
    lines.Append(line, LogColours::Tx);
    EXPECT_EQ(lines.LongestHexWidth(), row.size());
    lines.Clear();
    EXPECT_EQ(lines.LongestHexWidth(), 0u);
}
