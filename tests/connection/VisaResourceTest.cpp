// VISA resource strings read into the program's connection strings, and what is refused.
#include "connection/VisaResource.h"

#include <gtest/gtest.h>

namespace {
struct VisaCase {
    const char* visa;
    const char* connection; // "" when refused
};

class VisaResources : public testing::TestWithParam<VisaCase> {};

TEST_P(VisaResources, AreReadIntoTheProgramsConnectionStrings) {
    const VisaContext context{"Simulator",
                              [](int n) { return n <= 2 ? "ttyS" + std::to_string(n - 1) : ""; }};
    std::string connection, error;
    const bool read = VisaToConnection(GetParam().visa, context, connection, error);
    EXPECT_EQ(read ? connection : "", GetParam().connection) << error;
    EXPECT_EQ(error.empty(), read) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VisaResources,
    testing::Values(VisaCase{"TCPIP0::10.0.0.5::5025::SOCKET", "tcp:10.0.0.5:5025"},
                    VisaCase{"tcpip::amp.lab::5025::socket", "tcp:amp.lab:5025"},
                    VisaCase{"TCPIP0::10.0.0.5::inst0::INSTR", "vxi11:10.0.0.5:inst0"},
                    VisaCase{"TCPIP::10.0.0.5::INSTR", "vxi11:10.0.0.5:inst0"},
                    VisaCase{"TCPIP1::10.0.0.5::gpib0,5::INSTR", "vxi11:10.0.0.5:gpib0,5"},
                    VisaCase{"TCPIP::127.0.0.1::hislip0,4880::INSTR", "hislip:127.0.0.1:hislip0,4880"},
                    VisaCase{"TCPIP0::10.0.0.5::hislip0::INSTR", "hislip:10.0.0.5:hislip0"},
                    VisaCase{"ASRL2::INSTR", "com:ttyS1"},
                    VisaCase{"ASRL/dev/ttyUSB0::INSTR", "com:/dev/ttyUSB0"},
                    VisaCase{"GPIB0::7::INSTR", "gpib:0,7:Simulator"},
                    VisaCase{"GPIB1::5::INSTR", "gpib:1,5:Simulator"},
                    // refused: no port, a port out of range, an unknown board, a serial port that
                    // is not there, a secondary address, a hislip port that is no number
                    VisaCase{"TCPIP0::10.0.0.5::SOCKET", ""}, VisaCase{"TCPIP0::10.0.0.5::70000::SOCKET", ""},
                    VisaCase{"USB0::0x1234::INSTR", ""}, VisaCase{"ASRL3::INSTR", ""},
                    VisaCase{"GPIB0::7::96::INSTR", ""}, VisaCase{"TCPIP::h::hislip0,x::INSTR", ""}));

TEST(VisaResource, AnInstrumentsConnectionReadsBackAsItsResource) {
    EXPECT_EQ(VisaOfInstrument("vxi11:10.0.0.5:inst0"), "TCPIP::10.0.0.5::inst0::INSTR");
    EXPECT_EQ(VisaOfInstrument("hislip:h:hislip0,4880"), "TCPIP::h::hislip0,4880::INSTR");
    EXPECT_EQ(VisaOfInstrument("tcp:10.0.0.5:5025"), "");
}

TEST(VisaResource, ARefusalSaysWhatWasExpected) {
    std::string connection, error;
    EXPECT_TRUE(LooksLikeVisaResource("USB0::0x1234::INSTR"));
    EXPECT_FALSE(LooksLikeVisaResource("tcp:10.0.0.5:5025"));
    EXPECT_FALSE(VisaToConnection("USB0::0x1234::INSTR", {}, connection, error));
    EXPECT_EQ(error.substr(0, 65), "'USB0::0x1234::INSTR' cannot be read: a VISA resource is TCPIP[n]");
    EXPECT_FALSE(VisaToConnection("GPIB0::7::INSTR", {}, connection, error));
    EXPECT_EQ(error, "a GPIB resource needs the name of the GPIB driver to load");
}
} // namespace
