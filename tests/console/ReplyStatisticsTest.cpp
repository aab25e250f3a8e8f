#include "console/ReplyStatistics.h"

#include <gtest/gtest.h>

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
