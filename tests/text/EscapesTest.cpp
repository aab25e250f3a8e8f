// Escapes in commands: what each becomes, and how a malformed one is refused.
#include "text/Escapes.h"

#include <gtest/gtest.h>

namespace {
struct EscapeCase {
    const char* typed;
    bool ok;
    std::string result; // the bytes, or the error
};

class Escapes : public testing::TestWithParam<EscapeCase> {};

TEST_P(Escapes, BecomeTheirBytesOrAreRefusedWithWhereAndWhy) {
    std::string bytes = "untouched";
    std::string error;
    ASSERT_EQ(ExpandEscapes(GetParam().typed, bytes, error), GetParam().ok) << error;
    EXPECT_EQ(GetParam().ok ? bytes : error, GetParam().result);
    if (!GetParam().ok) {
        EXPECT_EQ(bytes, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Escapes,
    testing::Values(
        EscapeCase{"STATUS?", true, "STATUS?"},
        EscapeCase{"\\x02STATUS?\\x03", true, std::string("\x02STATUS?\x03")},
        EscapeCase{"ECHO a\\x41b\\r\\n", true, "ECHO aAb\r\n"},
        EscapeCase{"\\t\\\\\\xff\\x00", true, std::string("\t\\\xff\0", 4)},
        EscapeCase{"A\\qB", false, "the escape \\q at column 2 is not one of \\r \\n \\t \\xhh \\\\"},
        EscapeCase{"A\\x4", false, "the escape \\x4 at column 2 is not one of \\r \\n \\t \\xhh \\\\"},
        EscapeCase{"A\\xg1", false, "the escape \\xg1 at column 2 is not one of \\r \\n \\t \\xhh \\\\"},
        EscapeCase{"A\\", false, "the escape \\ at column 2 is not one of \\r \\n \\t \\xhh \\\\"}));
} // namespace
