#include "console/RecentConnections.h"

#include <gtest/gtest.h>

#include <algorithm>

// Newest first, each once, eight at most; through the settings and back unchanged.
TEST(RecentConnections, NewestFirstEachOnceAtMostEight) {
    std::vector<std::string> recent;
    for (int i = 0; i < 10; ++i)
        AddRecentConnection(recent, "tcp:127.0.0.1:" + std::to_string(i));
    AddRecentConnection(recent, "tcp:127.0.0.1:5");
    ASSERT_EQ(recent.size(), RecentConnectionsKept);
    EXPECT_EQ(recent.front(), "tcp:127.0.0.1:5");
    EXPECT_EQ(recent[1], "tcp:127.0.0.1:9");
    EXPECT_EQ(std::count(recent.begin(), recent.end(), "tcp:127.0.0.1:5"), 1);
    EXPECT_EQ(SplitRecentConnections(JoinRecentConnections(recent)), recent);
    EXPECT_TRUE(SplitRecentConnections("").empty());
}

// A connection's lines read back as written, its connection holding spaces; a line that is not
// one (an older form, a hand edit) is no connection's lines.
TEST(RecentConnections, ConnectionLinesReadBackAsWritten) {
    const ConnectionLines lines{{TxLineEnd::Cr, RxLineEnd::Any, 200}, true};
    const std::string serial = "com:/dev/ttyUSB0:baud=9600 parity=N data=8 stop=1";
    std::string connection;
    ConnectionLines read;
    ASSERT_TRUE(ParseConnectionLines(ConnectionLinesText(serial, lines), connection, read));
    EXPECT_EQ(connection, serial);
    EXPECT_EQ(read, lines);
    for (const char* text : {"tcp:127.0.0.1:2500", "cr lf 0 0", "cr lf 99999 0 tcp:x", "cr lf -1 0 tcp:x"})
        EXPECT_FALSE(ParseConnectionLines(text, connection, read)) << text;
}
