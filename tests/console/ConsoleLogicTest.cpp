// The console's window-free decisions: trimming, statistics, history.
#include "console/ConsoleLogic.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(ConsoleLogic, TrimRemovesEveryControlCharacterAndBlankAtBothEnds) {
    EXPECT_EQ(TrimText("  STATUS OK\r"), "STATUS OK");
    EXPECT_EQ(TrimText(std::string("\0\x01\t x y \x1f\n", 10)), "x y");
    EXPECT_EQ(TrimText("\r\n"), "");
    EXPECT_EQ(TrimText("\xe4\x7f"), "\xe4\x7f") << "bytes above 32 stay";
}

TEST(ConsoleLogic, LogLineTexts) {
    EXPECT_EQ(StampedLine("14:03:07.045", "Tx: STATUS?"), "[14:03:07.045] Tx: STATUS?");
    EXPECT_EQ(ConnectedText("tcp:127.0.0.1:2500", "14:03:07.045", 4294967295u),
              "Connected to \"tcp:127.0.0.1:2500\". Time=14:03:07.045 Ticks=4294967295");
}

TEST(ReplyStatistics, CountsRepliesButNotTheBusyOne) {
    ReplyStatistics stats;
    EXPECT_EQ(stats.Caption(), "000/000/0000ms");
    EXPECT_TRUE(stats.Add("OK", 12));
    EXPECT_TRUE(stats.Add("OK", 30));
    EXPECT_EQ(stats.Caption(), "030/021/0030ms");
    EXPECT_FALSE(stats.Add("ERROR_AMP_BUSY", 500));
    EXPECT_EQ(stats.Caption(), "030/021/0030ms");
    EXPECT_TRUE(stats.Add("error_amp_busy", 3));
    EXPECT_EQ(stats.Count(), 3u);
    EXPECT_EQ(stats.Caption(), "003/015/0030ms");
    EXPECT_TRUE(stats.Add("late", 12345));
    EXPECT_EQ(stats.Caption(), "12345/3097/12345ms") << "wider numbers are not cut";
    stats.Reset();
    EXPECT_EQ(stats.Caption(), "000/000/0000ms");
}

TEST(CommandHistory, DistinctEntriesAndRecall) {
    CommandHistory history;
    std::string text = "typed";
    EXPECT_FALSE(history.Previous(text));
    EXPECT_FALSE(history.Next(text));
    EXPECT_EQ(text, "typed");
    history.Add("A");
    history.Add("B");
    history.Add("A");
    EXPECT_EQ(history.Entries(), (std::vector<std::string>{"B", "A"}));
    ASSERT_TRUE(history.Previous(text));
    EXPECT_EQ(text, "A");
    ASSERT_TRUE(history.Previous(text));
    EXPECT_EQ(text, "B");
    EXPECT_FALSE(history.Previous(text)) << "at the oldest";
    ASSERT_TRUE(history.Next(text));
    EXPECT_EQ(text, "A");
    EXPECT_FALSE(history.Next(text)) << "at the newest the line keeps its text";
    EXPECT_EQ(text, "A");
    history.Add("C");
    EXPECT_EQ(history.Index(), 3u);
}

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
