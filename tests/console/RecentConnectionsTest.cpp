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
