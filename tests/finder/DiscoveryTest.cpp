// The discovery reply parser, the amplifier list with its ageing, and the checks before the finder's
// menu starts a program.
#include "finder/Discovery.h"
#include "finder/FinderLaunch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct ReplyCase {
    const char* name;
    std::string text;
    bool accepted;
    // Mac, Flag, Ip, Extra1, Extra2, Name
    std::vector<std::string> fields;
    bool flag;
};

class DiscoveryReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(DiscoveryReply, IsReadAsTheFieldWidthsSay) {
    const ReplyCase& c = GetParam();
    std::optional<AmpInfo> info = ParseDiscoveryReply(c.text);
    ASSERT_EQ(info.has_value(), c.accepted);
    if (!info) return;
    EXPECT_EQ(info->Mac, c.fields[0]);
    EXPECT_EQ(info->RowKey, c.fields[0]);
    EXPECT_EQ(info->Flag, c.flag);
    EXPECT_EQ(info->Ip, c.fields[1]);
    EXPECT_EQ(info->Extra1, c.fields[2]);
    EXPECT_EQ(info->Extra2, c.fields[3]);
    EXPECT_EQ(info->Name, c.fields[4]);
}

const std::string Long60(60, '9');

INSTANTIATE_TEST_SUITE_P(
    Cases, DiscoveryReply,
    testing::Values(ReplyCase{"SixTokens",
                              "0050C2000001 1 10.77.0.2 255.255.255.0 1.0.1 AmpSim-0001",
                              true,
                              {"0050C2000001", "10.77.0.2", "255.255.255.0", "1.0.1", "AmpSim-0001"},
                              true},
                    ReplyCase{"FlagOtherThanOne",
                              "0050C2000001 0 10.77.0.2 a b n",
                              true,
                              {"0050C2000001", "10.77.0.2", "a", "b", "n"},
                              false},
                    ReplyCase{"FiveTokensIgnored", "0050C2000001 1 10.77.0.2 a b", false, {}, false},
                    ReplyCase{"SeventhTokenDropped",
                              "0050C2000001 1 10.77.0.2 a b name extra",
                              true,
                              {"0050C2000001", "10.77.0.2", "a", "b", "name"},
                              true},
                    // The 13th character becomes the flag, the 14th the IP; the rest shift by two fields.
                    ReplyCase{"FourteenCharacterMacShifts",
                              "0050C2A1B2C314 1 10.0.0.5 a b name",
                              true,
                              {"0050C2A1B2C3", "4", "1", "10.0.0.5", "a"},
                              true},
                    ReplyCase{"TheFindersOwnHelloIgnored", "0 1 A", false, {}, false},
                    ReplyCase{"BlankRunsTabsAndLineEnd",
                              "  M1 \t1   1.2.3.4  x  y   name\r\n",
                              true,
                              {"M1", "1.2.3.4", "x", "y", "name"},
                              true},
                    ReplyCase{
                        "TextEndsAtItsFirstZero", std::string("M 1 1.2.3.4 x y\0name", 20), false, {}, false},
                    // A 60-character "IP" is cut at 15; the rest fill the following fields.
                    ReplyCase{"OverlongIpIsCut",
                              "M 1 " + Long60 + " n",
                              true,
                              {"M", std::string(15, '9'), std::string(15, '9'), std::string(15, '9'),
                               std::string(15, '9')},
                              true},
                    ReplyCase{"Empty", "", false, {}, false}),
    [](const testing::TestParamInfo<ReplyCase>& row) { return std::string(row.param.name); });

AmpInfo Reply(const std::string& mac, const std::string& ip, const std::string& name = "amp") {
    return *ParseDiscoveryReply(mac + " 1 " + ip + " x y " + name);
}

std::vector<std::string> Keys(const AmpList& list) {
    std::vector<std::string> keys;
    for (const AmpInfo* row : list.Rows())
        keys.push_back(row->RowKey);
    return keys;
}
} // namespace

TEST(AmpList, ALaterReplyRefreshesItsRowAndReplacesTheStoredRecord) {
    AmpList list;
    EXPECT_EQ(list.Update(Reply("A", "10.0.0.1"), 100).change, AmpList::Change::Added);
    list.Update(Reply("B", "10.0.0.2"), 100);
    AmpList::UpdateResult result = list.Update(Reply("A", "10.0.0.9", "renamed"), 300);
    EXPECT_EQ(result.change, AmpList::Change::Refreshed);
    EXPECT_TRUE(result.ipChanged);
    EXPECT_TRUE(result.nameChanged);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"A", "B"})) << "one row per MAC, order kept";
    EXPECT_EQ(list.Find("A")->Ip, "10.0.0.9") << "the address handed on is the current one";
    EXPECT_EQ(list.Find("A")->Name, "renamed");
    EXPECT_EQ(list.Find("A")->LastSeen, 300u);

    result = list.Update(Reply("A", "10.0.0.9", "renamed"), 400);
    EXPECT_FALSE(result.ipChanged);
    EXPECT_FALSE(result.nameChanged);
    EXPECT_EQ(list.Find("a"), nullptr) << "keys are case-sensitive";
}

TEST(AmpList, RowsSilentForMoreThanTheLimitGoTogether) {
    AmpList list;
    list.Update(Reply("A", "1.1.1.1"), 1000);
    list.Update(Reply("B", "1.1.1.2"), 1000);
    list.Update(Reply("C", "1.1.1.3"), 1000);
    list.Update(Reply("B", "1.1.1.2"), 2500);
    EXPECT_TRUE(list.RemoveStale(2000, 3000).empty()) << "exactly 2000 ms of silence is kept";
    EXPECT_EQ(list.RemoveStale(2000, 3001), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"B"}));
    list.Update(Reply("A", "1.1.1.1"), 3002);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"B", "A"})) << "a returning amplifier is a new row";
}

TEST(AmpList, AgeingSurvivesTheTickWrapping) {
    AmpList list;
    list.Update(Reply("Old", "1.1.1.1"), 0xFFFFFC00u); // 1024 ms before the wrap
    list.Update(Reply("New", "1.1.1.2"), 0x00000010u);
    EXPECT_TRUE(list.RemoveStale(2000, 0x00000100u).empty()) << "no row is older than 1300 ms";
    EXPECT_EQ(list.RemoveStale(2000, 0x000003D1u), (std::vector<std::string>{"Old"}));
    EXPECT_EQ(list.Size(), 1u);
}

struct AddressCase {
    const char* text;
    bool valid;
};
class LaunchAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(LaunchAddress, OnlyADottedIpv4AddressReachesALauncher) {
    const AddressCase& c = GetParam();
    EXPECT_EQ(IsDottedIpv4(c.text), c.valid);
    for (const LaunchPlan& plan : {PingPlan(c.text), TelnetPlan(c.text, "2500"), WebPlan(c.text)}) {
        EXPECT_EQ(plan.Ok(), c.valid);
        if (!c.valid) {
            EXPECT_TRUE(plan.argv.empty());
            EXPECT_TRUE(plan.url.empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchAddress,
    testing::Values(AddressCase{"10.77.0.2", true}, AddressCase{"255.255.255.255", true},
                    AddressCase{"1.2.3.4;rm", false}, AddressCase{"$(reboot)", false},
                    AddressCase{"1.2.3.4;rm -rf ~", false}, AddressCase{"1.2.3", false},
                    AddressCase{"256.1.1.1", false}, AddressCase{"-1.2.3.4", false},
                    AddressCase{" 1.2.3.4", false}, AddressCase{"1.2.3.4 ", false},
                    AddressCase{"localhost", false}, AddressCase{"", false}, AddressCase{"01.2.3.4", false},
                    AddressCase{"1.2.3.4.", false}, AddressCase{"1..2.3", false},
                    AddressCase{"0.0.0.0", true},
                    AddressCase{"999999999999999999999999999999999999999999999999999999999999", false}));

TEST(LaunchPlans, TheProgramAndItsArgumentsAreSeparate) {
    EXPECT_EQ(PingPlan("10.0.0.5").argv, (std::vector<std::string>{"ping", "10.0.0.5"}));
    EXPECT_EQ(WebPlan("10.0.0.5").url, "http://10.0.0.5");
}

struct PortCase {
    const char* text;
    std::vector<std::string> argv; // empty: refused
};
class TelnetPort : public testing::TestWithParam<PortCase> {};

TEST_P(TelnetPort, IsANumberFrom1To65535OrNothing) {
    LaunchPlan plan = TelnetPlan("10.0.0.5", GetParam().text);
    EXPECT_EQ(plan.argv, GetParam().argv);
    EXPECT_EQ(plan.Ok(), !GetParam().argv.empty());
}

const std::vector<std::string> TelnetDefault{"telnet", "10.0.0.5"};
INSTANTIATE_TEST_SUITE_P(Cases, TelnetPort,
                         testing::Values(PortCase{"2500", {"telnet", "10.0.0.5", "2500"}},
                                         PortCase{" 23 ", {"telnet", "10.0.0.5", "23"}},
                                         PortCase{"1", {"telnet", "10.0.0.5", "1"}},
                                         PortCase{"65535", {"telnet", "10.0.0.5", "65535"}},
                                         PortCase{"", TelnetDefault}, PortCase{"  ", TelnetDefault},
                                         PortCase{"0", {}}, PortCase{"65536", {}},
                                         PortCase{"99999999999", {}}, PortCase{"23;reboot", {}},
                                         PortCase{"-23", {}}, PortCase{"abc", {}}, PortCase{"23 24", {}}));
