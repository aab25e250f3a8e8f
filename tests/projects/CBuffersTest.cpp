#include "projects/CBuffers.h"

#include <gtest/gtest.h>

namespace {
struct CopyCase {
    std::string text;
    int size;
    std::string bytes; // the buffer of 8 afterwards; it starts as 8 "X"
};

void PrintTo(const CopyCase& c, std::ostream* out) {
    *out << '"' << c.text << "\" into " << c.size;
}

class CopyToCBufferTest : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyToCBufferTest, WritesWithinTheSizeAndZeroFills) {
    char buffer[8];
    std::fill(buffer, buffer + 8, 'X');
    CopyToCBuffer(GetParam().text, buffer, GetParam().size);
    EXPECT_EQ(std::string(buffer, 8), GetParam().bytes);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(Sizes, CopyToCBufferTest,
                         testing::Values(CopyCase{"139501", 4, "139\0XXXX"s},
                                         CopyCase{"ab", 6, "ab\0\0\0\0XX"s}, CopyCase{"abc", 4, "abc\0XXXX"s},
                                         CopyCase{"abc", 1, "\0XXXXXXX"s}, CopyCase{"abc", 0, "XXXXXXXX"s},
                                         CopyCase{"abc", -5, "XXXXXXXX"s},
                                         CopyCase{"a\xC3\xA4z", 3, "a\0\0XXXXX"s},
                                         CopyCase{"a\xE2\x82\xAC", 4, "a\0\0\0XXXX"s},
                                         CopyCase{"a\xE2\x82\xAC", 5, "a\xE2\x82\xAC\0XXX"s}));

TEST(ReadCBuffer, StopsAtTheZeroOrTheSize) {
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(ReadCBuffer(unterminated, 4), "abcd");
    EXPECT_EQ(ReadCBuffer("ab\0cd", 5), "ab");
    EXPECT_EQ(ReadCBuffer(nullptr, 5), "");
    EXPECT_EQ(ReadCBuffer("ab", 0), "");
}
} // namespace
