#include "console/UnendedBytes.h"

#include <gtest/gtest.h>

// Bytes without a line end are told once they have waited two seconds, once per wait: more bytes
// begin a new wait, and a wait that ended (its line came) is forgotten. Ticks wrap as the
// system's do.
TEST(UnendedBytes, WaitingBytesAreToldOncePerWaitAfterTwoSeconds) {
    UnendedBytes watch;
    const uint32_t last = 0xFFFFFF00u;
    EXPECT_EQ(watch.Check(12, last, last + UnendedBytes::WaitMs - 1), "");
    EXPECT_EQ(watch.Check(12, last, last + UnendedBytes::WaitMs),
              "12 bytes without a line end: check the receive line end");
    EXPECT_EQ(watch.Check(12, last, last + 9000), "") << "told once";
    EXPECT_EQ(watch.Check(13, last + 9000, last + 9000 + UnendedBytes::WaitMs),
              "13 bytes without a line end: check the receive line end");
    EXPECT_EQ(watch.Check(0, 0, last + 20000), "");
    EXPECT_EQ(watch.Check(1, last + 9000, last + 20000),
              "1 byte without a line end: check the receive line end")
        << "the same tick after the line ended is a new wait";
}
