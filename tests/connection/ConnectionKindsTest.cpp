// Every kind of connection string read through the one table, an unknown kind and the kinds that
// only the receive thread knows included.
#include "connection/ConnectionKinds.h"

#include <gtest/gtest.h>

namespace {
struct KindRow {
    std::string text;
    std::string kindName;
    std::string params;
    bool known;
    ConGroup group;
    std::string displayName;
    bool transport; //!< TIO opens it
    ReconnectWay reconnect;
    RecvKind recv;
};

class ConnectionKindsTest : public testing::TestWithParam<KindRow> {};

TEST_P(ConnectionKindsTest, ParsesOnceIntoTheKindsRow) {
    const KindRow& row = GetParam();
    const ConnectionTarget target = ParseConnection(row.text);
    EXPECT_EQ(target.Text, row.text);
    EXPECT_EQ(target.KindName, row.kindName);
    EXPECT_EQ(target.Params, row.params);
    ASSERT_EQ(target.Kind != nullptr, row.known);
    if (!target.Kind) return;
    EXPECT_EQ(target.Kind->Name, row.kindName);
    EXPECT_EQ(target.Kind->Group, row.group);
    EXPECT_EQ(target.Kind->DisplayName, row.displayName);
    EXPECT_EQ(target.Kind->MakeTransport != nullptr, row.transport);
    EXPECT_EQ(target.Kind->Reconnect, row.reconnect);
    EXPECT_EQ(target.Kind->Recv, row.recv);
    // The dialog builds each group's string with the kind it was read from.
    EXPECT_EQ(ConnectionKindOf(row.group), row.group == ConGroup::None ? nullptr : target.Kind);
}

using G = ConGroup;
using W = ReconnectWay;
using R = RecvKind;
INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectionKindsTest,
    testing::Values(
        KindRow{"com:ttyUSB0:baud=9600", "com", "ttyUSB0:baud=9600", true, G::Serial, "Serial", true,
                W::WhenDevice, R::Serial},
        KindRow{"tcp:127.0.0.1:5025", "tcp", "127.0.0.1:5025", true, G::Tcp, "LAN", true, W::AfterPause,
                R::TcpClient},
        KindRow{"tcpsrv::2500", "tcpsrv", ":2500", true, G::TcpSrv, "LAN", true, W::None, R::None},
        KindRow{"gpib:0,7:Simulator", "gpib", "0,7:Simulator", true, G::Gpib, "GPIB", false, W::None,
                R::None},
        KindRow{"server::4000", "server", ":4000", true, G::None, "", false, W::None, R::TcpServer},
        KindRow{"udpclient:127.0.0.1:8001", "udpclient", "127.0.0.1:8001", true, G::None, "", false, W::None,
                R::Udp},
        KindRow{"bogus:x:y", "bogus", "x:y", false, G::None, "", false, W::None, R::None},
        KindRow{"TCP:127.0.0.1:5025", "TCP", "127.0.0.1:5025", false, G::None, "", false, W::None, R::None}));
} // namespace
