// The simulated amplifier's command model, driven directly.
#include <cstdio>
#include <gtest/gtest.h>
#include <set>

#include "AmpModel.h"

using ampsim::AmpModel;
using ampsim::Reply;

namespace {

// The single line a command answers with; "<n lines>" when it answers otherwise.
std::string one(AmpModel& model, const std::string& command) {
    Reply reply = model.Handle(command);
    if (reply.lines.size() != 1 || reply.run.count != 0 || reply.close) return "<not one line>";
    return reply.lines[0];
}

} // namespace

// Points come back in the layout the console parses with "%*s %02x %02x %04x %04x %c", and y keeps
// its 16-bit pattern so a signed table reads back negative and an unsigned one large.
TEST(AmpModel, ConversionTableRoundTrip) {
    AmpModel model;
    EXPECT_EQ(one(model, "SVC CONV UP 03 00 0064 fff6 S?"), "OK");
    EXPECT_EQ(one(model, "SVC CONV UP 03 13 FFFF 7FFF S?\r"), "OK");
    EXPECT_EQ(one(model, "SVC CONV UP 04 01 1 ffff U?"), "OK");

    std::string reply = one(model, "SVC CONV DN 03 00?");
    EXPECT_EQ(reply, "CONV 03 00 0064 fff6 S");
    unsigned table = 99, index = 99, x = 0, y = 0;
    char tag = 0;
    ASSERT_EQ(std::sscanf(reply.c_str(), "%*s %02x %02x %04x %04x %c", &table, &index, &x, &y, &tag), 5);
    EXPECT_EQ(table, 3u);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(x, 100u);
    EXPECT_EQ(static_cast<int16_t>(y), -10);
    EXPECT_EQ(tag, 'S');

    EXPECT_EQ(one(model, "SVC CONV DN 03 13?"), "CONV 03 13 ffff 7fff S");
    EXPECT_EQ(one(model, "SVC CONV DN 04 01?"), "CONV 04 01 0001 ffff U");
    EXPECT_EQ(one(model, "SVC CONV DN 03 05?"), "CONV 03 05 0000 0000 U");
    EXPECT_EQ(one(model, "SVC CONV DN 07 00?"), "CONV 07 00 0000 0000 U");
}

TEST(AmpModel, RoutingPrefixKeepsBoardsApart) {
    AmpModel model;
    EXPECT_EQ(one(model, "SVC QB 2 SVC CONV UP 00 00 0010 0020 U?"), "OK");
    EXPECT_EQ(one(model, "SVC CONV UP 00 00 0030 0040 U?"), "OK");
    EXPECT_EQ(one(model, "SVC QB 2 SVC CONV DN 00 00?"), "CONV 00 00 0010 0020 U");
    EXPECT_EQ(one(model, "SVC CONV DN 00 00?"), "CONV 00 00 0030 0040 U");
    EXPECT_EQ(one(model, "SVC QB 12 SVC CONV DN 00 00?"), "CONV 00 00 0000 0000 U");
    EXPECT_EQ(model.Point("2", 0, 0).x, 0x10);
    EXPECT_EQ(model.Point("", 0, 0).x, 0x30);
}

// The fault options hit one point index on every board and table, up and down; the other
// points answer as usual.
TEST(AmpModel, ConversionFaultsHitTheChosenPointOnly) {
    AmpModel model(AmpModel::Options{}, AmpModel::ConvFaults{2, 4, {}, {}, 0});
    EXPECT_TRUE(model.Handle("SVC CONV UP 00 02 0010 0020 U?").Empty()) << "lost";
    EXPECT_TRUE(model.Handle("SVC QB 3 SVC CONV DN 07 02?").Empty());
    EXPECT_EQ(model.Point("", 0, 2).x, 0) << "a lost request stores nothing";
    EXPECT_EQ(one(model, "SVC CONV UP 00 04 0010 0020 U?"), "CONV 00 04 GARBLED");
    EXPECT_EQ(model.Point("", 0, 4).x, 0x10) << "carried out, only the reply is garbled";
    EXPECT_EQ(one(model, "SVC QB 3 SVC CONV DN 0a 04?"), "CONV 0a 04 GARBLED");
    EXPECT_EQ(one(model, "SVC CONV UP 00 03 0010 0020 U?"), "OK");
    EXPECT_EQ(one(model, "SVC CONV DN 00 03?"), "CONV 00 03 0010 0020 U");
    EXPECT_EQ(one(model, "SVC CONV DN 00 02 x?"), "ERROR_BAD_ARGUMENT") << "malformed requests stay refused";
}

struct BadCommand {
    const char* command;
    std::string_view reply;
};

void PrintTo(const BadCommand& row, std::ostream* out) {
    *out << '"' << row.command << '"';
}

class AmpModelBadCommand : public testing::TestWithParam<BadCommand> {};

// A refused upload must leave the table as it was.
TEST_P(AmpModelBadCommand, IsRefusedAndChangesNothing) {
    AmpModel model;
    EXPECT_EQ(one(model, GetParam().command), GetParam().reply);
    EXPECT_EQ(one(model, "SVC CONV DN 01 00?"), "CONV 01 00 0000 0000 U");
}

constexpr std::string_view kBad = ampsim::kErrorBadArgument;
constexpr std::string_view kUnknown = ampsim::kErrorUnknownCommand;

INSTANTIATE_TEST_SUITE_P(
    Commands, AmpModelBadCommand,
    testing::Values(
        BadCommand{"SVC CONV UP 01 14 0001 0001 U?", kBad}, // index 20
        BadCommand{"SVC CONV UP 100 00 0001 0001 U?", kBad},
        BadCommand{"SVC CONV UP 01 00 11170 0001 U?", kBad},
        BadCommand{"SVC CONV UP 01 00 0001 0001 X?", kBad}, BadCommand{"SVC CONV UP 01 00 0001 0001 U", kBad},
        BadCommand{"SVC CONV UP 01 00 00g1 0001 U?", kBad}, BadCommand{"SVC CONV UP 01 00 0001 U?", kBad},
        BadCommand{"SVC CONV DN 01 00", kBad}, BadCommand{"SVC CONV DN 01 00 00?", kBad},
        BadCommand{"SVC QB  SVC CONV UP 01 00 0001 0001 U?", kBad}, BadCommand{"SVC QB 2", kBad},
        BadCommand{"SVC QB 2 STATUS?", kUnknown}, BadCommand{"SVC CONV XX 01 00?", kUnknown},
        BadCommand{"DIAG CHAN_123A?", kBad}, BadCommand{"DIAG CHAN_1AB?", kBad}, BadCommand{"MULTI? 0", kBad},
        BadCommand{"FLOOD x", kBad}, BadCommand{"status?", kUnknown}));

TEST(AmpModel, BusyEveryRefusesEveryNthCommandWithoutRunningIt) {
    AmpModel model(AmpModel::Options{"X", 3});
    EXPECT_EQ(one(model, "ECHO a"), "a");
    EXPECT_TRUE(model.Handle("").Empty()); // empty lines are no commands and do not count
    EXPECT_EQ(one(model, "ECHO b"), "b");
    EXPECT_EQ(one(model, "SVC CONV UP 00 00 0001 0001 U?"), ampsim::kErrorAmpBusy);
    EXPECT_EQ(one(model, "SVC CONV DN 00 00?"), "CONV 00 00 0000 0000 U");
    EXPECT_EQ(one(model, "ECHO c"), "c");
    EXPECT_EQ(one(model, "ECHO d"), ampsim::kErrorAmpBusy);
}

TEST(AmpModel, AnswersItsCommandSet) {
    AmpModel model(AmpModel::Options{"SN42", 0});
    EXPECT_TRUE(one(model, "STATUS?").starts_with("STATUS OK FWD="));
    EXPECT_EQ(one(model, "*IDN?\r"), "Veltrask,AmpSim,SN42,1.0");
    EXPECT_EQ(one(model, "ECHO  two  blanks "), " two  blanks ");
    EXPECT_EQ(one(model, "DIAG CHAN_12B2?").substr(0, 17), "DIAG CHAN_12B2 = ");
    EXPECT_EQ(one(model, "DIAG CHAN_1a3?"), one(model, "DIAG CHAN_1a3?"));
    EXPECT_EQ(one(model, "bogus"), ampsim::kErrorUnknownCommand);
    EXPECT_TRUE(model.Handle("NOREPLY").Empty());
    EXPECT_TRUE(model.Handle("\r").Empty());

    Reply multi = model.Handle("MULTI? 3");
    EXPECT_EQ(multi.run.count, 3u);
    EXPECT_EQ(multi.run.Line(1), "MULTI 1/3");
    EXPECT_EQ(multi.run.Line(3), "MULTI 3/3");
    Reply flood = model.Handle("FLOOD 1000000");
    EXPECT_EQ(flood.run.count, 1000000u);
    EXPECT_EQ(flood.run.Line(1000000), "FLOOD 1000000");
    Reply drop = model.Handle("DROP");
    EXPECT_EQ(drop.partial, "PARTIAL");
    EXPECT_TRUE(drop.close);
    EXPECT_TRUE(drop.lines.empty());
}

// The readings drift and jitter but stay near their level, so a plot of them moves; READ? answers
// all three.
TEST(AmpModel, ReadingsDriftAroundTheirLevel) {
    AmpModel model;
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        double fwd = 0;
        ASSERT_EQ(std::sscanf(one(model, "FWD?").c_str(), "FWD %lf dBm", &fwd), 1);
        EXPECT_NEAR(fwd, 45, 1);
        seen.insert(one(model, "FWD?"));
    }
    EXPECT_GT(seen.size(), 10u);
    const Reply all = model.Handle("READ?");
    ASSERT_EQ(all.lines.size(), 3u);
    EXPECT_TRUE(all.lines[0].starts_with("FWD ") && all.lines[1].starts_with("REFL ") &&
                all.lines[2].starts_with("TEMP ") && all.lines[2].ends_with(" C"));
}
