#include "console/CommandHistory.h"

#include <gtest/gtest.h>

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
