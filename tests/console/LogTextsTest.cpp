#include "console/LogTexts.h"

#include <gtest/gtest.h>

TEST(LogTexts, StampedAndConnectedLines) {
    EXPECT_EQ(StampedLine("14:03:07.045", "Tx: STATUS?"), "[14:03:07.045] Tx: STATUS?");
    EXPECT_EQ(ConnectedText("tcp:127.0.0.1:2500", "14:03:07.045", 4294967295u),
              "Connected to \"tcp:127.0.0.1:2500\". Time=14:03:07.045 Ticks=4294967295");
}
