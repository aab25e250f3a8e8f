#include "text/Strtools.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>
#include <vector>

namespace {
using namespace std::string_literals;

struct SplitCase {
    std::string text, separator, head, tail;
    bool found;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << '"' << c.text << "\" at \"" << c.separator << '"';
}

class SplitAtFirstTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitAtFirstTest, Splits) {
    const SplitCase& c = GetParam();
    std::string head = "stale", tail = "stale";
    EXPECT_EQ(SplitAtFirst(c.text, head, c.separator, tail), c.found);
    EXPECT_EQ(head, c.head);
    EXPECT_EQ(tail, c.tail);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitAtFirstTest,
                         testing::Values(SplitCase{"tcp:10.0.0.1:23", ":", "tcp", "10.0.0.1:23", true},
                                         SplitCase{"tcp:10.0.0.1:23", "#", "tcp:10.0.0.1:23", "", false},
                                         SplitCase{"a:b", "", "a:b", "", false},
                                         SplitCase{"aXbx", "x", "aXb", "", true},
                                         SplitCase{"a:-b:-:-c", ":-:", "a:-b", "-c", true},
                                         SplitCase{":", ":", "", "", true}));

struct DecodeCase {
    std::string source, bytes;
};

void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << testing::PrintToString(c.source);
}

class DecodeEscapesTest : public testing::TestWithParam<DecodeCase> {};

// Through the buffer interface, so the count and the closing 0 are checked, not just the text.
TEST_P(DecodeEscapesTest, Decodes) {
    const DecodeCase& c = GetParam();
    std::vector<unsigned char> output(c.source.size() + 1, 0xEE);
    const size_t count = DecodeEscapes(c.source.c_str(), output.data(), output.size());
    ASSERT_EQ(count, c.bytes.size());
    EXPECT_EQ(std::string(output.begin(), output.begin() + count), c.bytes);
    EXPECT_EQ(output[count], 0);
}

INSTANTIATE_TEST_SUITE_P(Escapes, DecodeEscapesTest,
                         testing::Values(DecodeCase{"A\\r\\n", "A\r\n"}, DecodeCase{"\\t\\\\x", "\t\\x"},
                                         DecodeCase{"\\x4a\\d066", "JB"}, DecodeCase{"\\xzz", "3"},
                                         DecodeCase{"\\d65A!", "A!"}, DecodeCase{"\\d256", "\0"s},
                                         DecodeCase{"\\d -1", "\xFF"}, DecodeCase{"\\q", "\0"s},
                                         DecodeCase{"a\\x00b", "a\0b"s}, DecodeCase{"\xE9\x7F", "\xE9\x7F"},
                                         // Cut short by the end of the text.
                                         DecodeCase{"ab\\", "ab"}, DecodeCase{"\\x4", ""},
                                         DecodeCase{"z\\d12", "z"}));

TEST(TrimText, RemovesEveryControlCharacterAndBlankAtBothEnds) {
    EXPECT_EQ(TrimText("  STATUS OK\r"), "STATUS OK");
    EXPECT_EQ(TrimText(std::string("\0\x01\t x y \x1f\n", 10)), "x y");
    EXPECT_EQ(TrimText("\r\n"), "");
    EXPECT_EQ(TrimText("\xe4\x7f"), "\xe4\x7f") << "bytes above 32 stay";
}

TEST(DecodeEscapesLimits, NeverWritesPastTheOutput) {
    unsigned char output[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(DecodeEscapes("abcdef", output, 3), 2u);
    EXPECT_EQ(std::string(output, output + 4), "ab\0\xEE"s);
    EXPECT_EQ(DecodeEscapes("abc", output, 0), 0u);
    EXPECT_EQ(output[0], 'a');
}

TEST(DecodeEscapesLimits, StringStopsAtFirstZero) {
    EXPECT_EQ(DecodeEscapes("a\\n\0\\n"s), "a\n");
}

TEST(TimeStamps, FormatsBrokenDownTime) {
    std::tm time{};
    time.tm_year = 2024 - 1900;
    time.tm_mday = 1;
    time.tm_min = 5;
    time.tm_sec = 7;
    EXPECT_EQ(FormatDateTimeStamp(time, 45), "2024-01-01 00:05:07.045");
    time.tm_hour = 14;
    time.tm_min = 3;
    EXPECT_EQ(FormatTimeStamp(time, 999), "14:03:07.999");
}

// How far a stamp's time of day lies from now, in seconds, folded across midnight.
long SecondsFromNow(const std::string& clock) {
    std::tm stamp{}, local{};
    strptime(clock.c_str(), "%H:%M:%S", &stamp);
    const time_t now = time(nullptr);
    localtime_r(&now, &local);
    const long diff = std::labs((stamp.tm_hour - local.tm_hour) * 3600L +
                                (stamp.tm_min - local.tm_min) * 60L + stamp.tm_sec - local.tm_sec);
    return std::min(diff, 86400 - diff);
}

TEST(TimeStamps, ReadLocalClock) {
    const std::string clock = GetTimeStamp();
    EXPECT_TRUE(std::regex_match(clock, std::regex(R"(\d\d:\d\d:\d\d\.\d{3})"))) << clock;
    EXPECT_LE(SecondsFromNow(clock), 1);

    const std::string dated = GetDateTimeStamp();
    EXPECT_TRUE(std::regex_match(dated, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})"))) << dated;
    std::tm stamp{};
    strptime(dated.c_str(), "%Y-%m-%d %H:%M:%S", &stamp);
    stamp.tm_isdst = -1;
    EXPECT_LE(std::labs(mktime(&stamp) - time(nullptr)), 1);
}
} // namespace
