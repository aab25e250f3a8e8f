// What the open-connection dialog shows for a connection string and what it builds back.
#include "connection/OpenComModel.h"

#include <gtest/gtest.h>

namespace {
const std::vector<std::string> kPorts{"ttyS0", "ttyUSB0", "ttyUSB1"};

struct Row {
    std::string connection;
    std::vector<std::string> ports;
    ConGroup checked;
    std::string kindName;
    std::string rebuilt; // what OK without changes builds
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.connection;
}

class ApplyAndBuild : public testing::TestWithParam<Row> {};

TEST_P(ApplyAndBuild, ShowsTheStringAndBuildsItBack) {
    const Row& row = GetParam();
    OpenComState state;
    ApplyConnectionString(state, row.connection, row.ports);
    EXPECT_EQ(state.checked, row.checked);
    EXPECT_EQ(state.connectionKindName, row.kindName);
    EXPECT_EQ(state.ports, row.ports);
    std::string built = "unchanged";
    BuildConnectionString(state, built);
    EXPECT_EQ(built, row.rebuilt);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ApplyAndBuild,
    testing::Values(
        // A listed port is selected; the mode may itself hold ":" since it is the last field.
        Row{"com:ttyUSB0:baud=38400 parity=N data=8 stop=1", kPorts, ConGroup::Serial, "Serial",
            "com:ttyUSB0:baud=38400 parity=N data=8 stop=1"},
        Row{"com:ttyS0:a:b", kPorts, ConGroup::Serial, "Serial", "com:ttyS0:a:b"},
        // An unlisted port (an adapter not plugged in, a path) stays as given: the list's last
        // port would be another device.
        Row{"com:ttyUSB7:baud=9600", kPorts, ConGroup::Serial, "Serial", "com:ttyUSB7:baud=9600"},
        Row{"com:ttyusb0:baud=9600", kPorts, ConGroup::Serial, "Serial", "com:ttyusb0:baud=9600"},
        Row{"com:/dev/pts/7:baud=9600", {}, ConGroup::Serial, "Serial", "com:/dev/pts/7:baud=9600"},
        Row{"com:COM3", {"COM3"}, ConGroup::Serial, "Serial", "com:COM3:"},
        Row{"com:COM3:", {"COM3"}, ConGroup::Serial, "Serial", "com:COM3:"},
        // Texts are taken as typed: nothing is trimmed.
        Row{"tcp:192.168.1.20:2501", kPorts, ConGroup::Tcp, "LAN", "tcp:192.168.1.20:2501"},
        Row{"tcp: amp-7 : 2500 ", kPorts, ConGroup::Tcp, "LAN", "tcp: amp-7 : 2500 "},
        Row{"tcp:amp-7", kPorts, ConGroup::Tcp, "LAN", "tcp:amp-7:"},
        Row{"tcpsrv::2500", kPorts, ConGroup::TcpSrv, "LAN", "tcpsrv::2500"},
        Row{"tcpsrv:127.0.0.1:4000", kPorts, ConGroup::TcpSrv, "LAN", "tcpsrv:127.0.0.1:4000"},
        Row{"gpib:2,9:NationalInstruments", kPorts, ConGroup::Gpib, "GPIB", "gpib:2,9:NationalInstruments"},
        Row{"gpib:0,7:Simulator", kPorts, ConGroup::Gpib, "GPIB", "gpib:0,7:Simulator"},
        // Not numbers: adapter 0, address 7; an unknown driver leaves none selected.
        Row{"gpib:x,y:Other", kPorts, ConGroup::Gpib, "GPIB", "gpib:0,7:"},
        Row{"gpib: 3,:agilent", kPorts, ConGroup::Gpib, "GPIB", "gpib:3,7:"},
        // The positions keep to the up-down range 0 to 31.
        Row{"gpib:40,-2:Agilent", kPorts, ConGroup::Gpib, "GPIB", "gpib:31,0:Agilent"}));

TEST(ApplyConnectionString, GpibFieldsThatAreNotNumbersTakeTheDefaults) {
    OpenComState state;
    state.gpibAdapter = 5;
    state.gpibAddress = 20;
    ApplyConnectionString(state, "gpib:x,y:Other", kPorts);
    EXPECT_EQ(state.gpibAdapter, 0);
    EXPECT_EQ(state.gpibAddress, 7);
    EXPECT_FALSE(state.gpibDriver.has_value());
    EXPECT_EQ(GpibDriverName(state), "");
}

TEST(ApplyConnectionString, AnUnknownKindKeepsEverythingButThePortList) {
    OpenComState state;
    state.checked = ConGroup::Gpib;
    state.host = "amp-3";
    state.tcpPort = "2600";
    state.srvAddress = "10.0.0.1";
    state.portMode = "baud=9600";
    state.gpibAdapter = 4;
    state.gpibDriver = 1;
    state.connectionKindName = "GPIB";
    const OpenComState before = state;

    for (const char* connection : {"udp:1.2.3.4:8001", "COM:ttyS0:baud=9600", "", "tcpserver::4000"}) {
        ApplyConnectionString(state, connection, kPorts);
        EXPECT_EQ(state.checked, before.checked) << connection;
        EXPECT_EQ(state.host, before.host);
        EXPECT_EQ(state.tcpPort, before.tcpPort);
        EXPECT_EQ(state.srvAddress, before.srvAddress);
        EXPECT_EQ(state.portMode, before.portMode);
        EXPECT_EQ(state.gpibAdapter, before.gpibAdapter);
        EXPECT_EQ(state.gpibDriver, before.gpibDriver);
        EXPECT_EQ(state.connectionKindName, "GPIB");
        EXPECT_EQ(state.ports, kPorts);
        EXPECT_EQ(state.portName, "ttyUSB1");
    }
}

TEST(BuildConnectionString, NoGroupCheckedLeavesTheString) {
    OpenComState state;
    state.checked = ConGroup::None;
    std::string connection = "tcp:amp:2500";
    BuildConnectionString(state, connection);
    EXPECT_EQ(connection, "tcp:amp:2500");
}

} // namespace
