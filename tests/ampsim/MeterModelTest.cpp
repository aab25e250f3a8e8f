// The simulated power meter's command model, driven directly.
#include <cmath>
#include <gtest/gtest.h>
#include <regex>
#include <set>

#include "MeterModel.h"

using ampsim::MeterModel;

namespace {

// The single line a command answers with; "<not one line>" when it answers otherwise.
std::string one(MeterModel& meter, const std::string& command) {
    ampsim::Reply reply = meter.Handle(command);
    if (reply.lines.size() != 1 || reply.run.count != 0 || reply.close) return "<not one line>";
    return reply.lines[0];
}

double reading(MeterModel& meter) {
    return std::stod(one(meter, "MEAS:POW?"));
}

} // namespace

TEST(MeterModel, AnswersItsCommandSet) {
    MeterModel meter(MeterModel::Options{"SN7", 0});
    EXPECT_EQ(one(meter, "*IDN?\r"), "Veltrask,PowerSim,SN7,1.0");
    EXPECT_EQ(one(meter, "ZERO"), "ZERO OK");
    EXPECT_TRUE(meter.Handle("").Empty());
    EXPECT_EQ(one(meter, "UNIT?"), "DBM");
    EXPECT_EQ(one(meter, "FREQ?"), "1000000000");
    EXPECT_EQ(one(meter, "OFFS?"), "0.00");

    for (const char* setting : {"UNIT W", "FREQ 2.4e9", "OFFS  -30.5 "})
        EXPECT_TRUE(meter.Handle(setting).Empty()) << setting;
    EXPECT_EQ(one(meter, "UNIT?"), "W");
    EXPECT_EQ(one(meter, "FREQ?"), "2400000000");
    EXPECT_EQ(one(meter, "OFFS?"), "-30.50");
    EXPECT_TRUE(meter.Handle("*RST").Empty());
    EXPECT_EQ(one(meter, "UNIT?"), "DBM");
    EXPECT_EQ(one(meter, "FREQ?"), "1000000000");
    EXPECT_EQ(one(meter, "OFFS?"), "0.00");

    MeterModel busy(MeterModel::Options{"SN7", 2});
    EXPECT_NE(one(busy, "POW?"), ampsim::kErrorAmpBusy);
    EXPECT_EQ(one(busy, "POW?"), ampsim::kErrorAmpBusy);
}

// The reading wanders around the amplifier's 45 dBm with two decimals, and the same every run: two
// meters read alike, so tests and scripts can count on the numbers.
TEST(MeterModel, ReadingWandersAroundTheAmplifiersLevelTheSameEveryRun) {
    MeterModel meter, twin;
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string text = one(meter, i % 2 ? "POW?" : "MEAS:POW?");
        ASSERT_TRUE(std::regex_match(text, std::regex(R"(4[456]\.\d\d)"))) << text;
        EXPECT_NEAR(std::stod(text), 45, 1);
        EXPECT_EQ(one(twin, "POW?"), text);
        seen.insert(text);
    }
    EXPECT_GT(seen.size(), 20u);
}

// Settings take no reading, so a meter and its twin keep reading the same power and the difference
// is the setting's alone.
TEST(MeterModel, SettingsActOnTheReading) {
    MeterModel plain, tuned;
    EXPECT_TRUE(tuned.Handle("FREQ 3e9").Empty());
    EXPECT_NEAR(reading(plain) - reading(tuned), 0.2, 0.011) << "0.1 dB per GHz above 1 GHz";
    EXPECT_TRUE(tuned.Handle("FREQ 500e6").Empty());
    EXPECT_NEAR(reading(plain) - reading(tuned), 0, 0.001) << "flat below 1 GHz";
    EXPECT_TRUE(tuned.Handle("OFFS 20").Empty());
    EXPECT_NEAR(reading(tuned) - reading(plain), 20, 0.011);

    EXPECT_TRUE(tuned.Handle("*RST").Empty());
    EXPECT_TRUE(tuned.Handle("UNIT W").Empty());
    const double dbm = reading(plain);
    const std::string watts = one(tuned, "POW?");
    EXPECT_TRUE(std::regex_match(watts, std::regex(R"(\d\d\.\d)"))) << watts;
    EXPECT_NEAR(std::stod(watts), std::pow(10, (dbm - 30) / 10), 0.1);
    EXPECT_TRUE(tuned.Handle("OFFS -40").Empty());
    const std::string small = one(tuned, "POW?");
    EXPECT_TRUE(std::regex_match(small, std::regex(R"(0\.00[1-9]\d\d)"))) << small << ": 3 digits, not 0.0";
}

struct BadMeterCommand {
    const char* command;
    std::string_view reply;
};

void PrintTo(const BadMeterCommand& row, std::ostream* out) {
    *out << '"' << row.command << '"';
}

class MeterModelBadCommand : public testing::TestWithParam<BadMeterCommand> {};

TEST_P(MeterModelBadCommand, IsRefusedAndChangesNothing) {
    MeterModel meter;
    EXPECT_EQ(one(meter, GetParam().command), GetParam().reply);
    EXPECT_EQ(one(meter, "UNIT?"), "DBM");
    EXPECT_EQ(one(meter, "FREQ?"), "1000000000");
    EXPECT_EQ(one(meter, "OFFS?"), "0.00");
}

constexpr std::string_view kBad = ampsim::kErrorBadArgument;
constexpr std::string_view kUnknown = ampsim::kErrorUnknownCommand;

INSTANTIATE_TEST_SUITE_P(
    Commands, MeterModelBadCommand,
    testing::Values(BadMeterCommand{"UNIT", kBad}, BadMeterCommand{"UNIT dBm", kBad},
                    BadMeterCommand{"UNIT W W", kBad}, BadMeterCommand{"FREQ 0", kBad},
                    BadMeterCommand{"FREQ 2e11", kBad}, BadMeterCommand{"FREQ 1GHz", kBad},
                    BadMeterCommand{"FREQ inf", kBad}, BadMeterCommand{"OFFS 100.5", kBad},
                    BadMeterCommand{"OFFS nan", kBad}, BadMeterCommand{"*RST now", kBad},
                    BadMeterCommand{"POW? 1", kBad}, BadMeterCommand{"MEAS:POW", kUnknown},
                    BadMeterCommand{"meas:pow?", kUnknown}, BadMeterCommand{"FWD?", kUnknown}));
