#include "console/ExtraTools.h"

#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>

namespace {
using namespace std::string_literals;

TEST(SignatureLine, JoinsUserDomainComputerStampAndConnection) {
    EXPECT_EQ(
        SignatureLine("anna", "lab.veltrask.com", "bench7", "2024-03-05 14:07:09.123", "tcp:127.0.0.1:2500"),
        "anna@lab.veltrask.com\\bench7, 2024-03-05 14:07:09.123, Connection=tcp:127.0.0.1:2500");
    EXPECT_TRUE(std::regex_match(SignatureLine("com:ttyUSB0"),
                                 std::regex(R"([^@]*@[^\\]*\\[^,]*, \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}, )"
                                            R"(Connection=com:ttyUSB0)")))
        << SignatureLine("com:ttyUSB0");
}

TEST(ProposedLogFileName, CarriesTheKindAndTheLocalTime) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 7;
    t.tm_sec = 9;
    EXPECT_EQ(ProposedLogFileName("LAN", t), "RemoteControlTest_LAN_2024-03-05-14-07-09.txt");
    EXPECT_TRUE(std::regex_match(ProposedLogFileName("GPIB"),
                                 std::regex(R"(RemoteControlTest_GPIB_\d{4}(-\d\d){5}\.txt)")));
}

TEST(WriteTextFile, WritesTheTextAndReportsTheSystemsReason) {
    std::string path = testing::TempDir() + "corvane-extra-tools.txt";
    std::string error;
    ASSERT_TRUE(WriteTextFile(path, "a\r\nb\r\n", error)) << error;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a\r\nb\r\n");
    std::remove(path.c_str());

    EXPECT_FALSE(WriteTextFile("/dev/full", "log line\r\n", error));
    EXPECT_EQ(error, "Cannot write \"/dev/full\": " + GetSystemErrorText(ENOSPC));
    EXPECT_FALSE(WriteTextFile("/nonexistent-folder/x.txt", "x", error));
    EXPECT_EQ(error, "Cannot write \"/nonexistent-folder/x.txt\": " + GetSystemErrorText(ENOENT));
}

struct TextCase {
    std::string input, output;
};
void PrintTo(const TextCase& c, std::ostream* out) {
    *out << '"' << c.input << '"';
}

class FormatNumberListTest : public testing::TestWithParam<TextCase> {};
TEST_P(FormatNumberListTest, Formats) {
    EXPECT_EQ(FormatNumberList(GetParam().input), GetParam().output);
}
INSTANTIATE_TEST_SUITE_P(Lists, FormatNumberListTest,
                         testing::Values(TextCase{"100 -10\r\n2000 35",
                                                  "{  100,   -10 }, \\\r\n{ 2000,    35 }, \\\r\n"},
                                         TextCase{"  7\t8  \n\nx 1\n5\n3 y\r9 -9\r",
                                                  "{    7,     8 }, \\\r\n{    9,    -9 }, \\\r\n"},
                                         TextCase{"100-10", "{  100,   -10 }, \\\r\n"},
                                         TextCase{"123456 1.5", "{123456,     1 }, \\\r\n"},
                                         TextCase{"-5 1", "{   -5,     1 }, \\\r\n"}, TextCase{"", ""}));

class GenerateChannelListTest : public testing::TestWithParam<TextCase> {};
TEST_P(GenerateChannelListTest, Expands) {
    EXPECT_EQ(GenerateChannelList(GetParam().input), GetParam().output);
}
INSTANTIATE_TEST_SUITE_P(
    Lists, GenerateChannelListTest,
    testing::Values(TextCase{"1A3 12B2 #xyz C1", "DIAG CHAN_1A1?\r\nDIAG CHAN_1A2?\r\nDIAG CHAN_1A3?\r\n"
                                                 "DIAG CHAN_12B1?\r\nDIAG CHAN_12B2?\r\nDIAG CHAN_12C1?\r\n"},
                    TextCase{"1232", "DIAG CHAN_1231?\r\nDIAG CHAN_1232?\r\n"}, // group 12, letter 3
                    TextCase{"A2", "DIAG CHAN_1A1?\r\nDIAG CHAN_1A2?\r\n"}, TextCase{"3A0 4B/", ""},
                    // Cut short: after the group, after the letter, inside a "#" skip.
                    TextCase{"12", ""}, TextCase{"5A", ""}, TextCase{"123", ""},
                    TextCase{"A1 #x", "DIAG CHAN_1A1?\r\n"}, TextCase{"#", ""}, TextCase{"", ""},
                    TextCase{"\0"
                             "2"s,
                             "DIAG CHAN_1\0"
                             "1?\r\nDIAG CHAN_1\0"
                             "2?\r\n"s}));
} // namespace
