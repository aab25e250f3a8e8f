// When a dropped link is tried again: the pauses, the attempt count, the device node to wait for.
#include "console/Reconnect.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <poll.h>

TEST(ReconnectTest, PausesDoubleFromHalfASecondUpToTenSeconds) {
    const std::vector<uint32_t> expected{500, 1000, 2000, 4000, 8000, 10000, 10000};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(ReconnectPauseMs(static_cast<int>(i) + 1), expected[i]) << "attempt " << i + 1;
    EXPECT_EQ(ReconnectPauseMs(1000), ReconnectMaxPauseMs);
}

TEST(ReconnectTest, EachAttemptIsCountedAndTheNextIsDueOneLongerPauseLater) {
    ReconnectPlan plan;
    EXPECT_FALSE(plan.Active());
    const uint32_t dropped = 0xFFFFFF00u; // the tick count wraps during the pauses
    plan.Begin(dropped);
    EXPECT_TRUE(plan.Active());
    EXPECT_EQ(plan.MsUntilDue(dropped), 500u);
    EXPECT_EQ(plan.MsUntilDue(dropped + 499), 1u);
    EXPECT_EQ(plan.MsUntilDue(dropped + 500), 0u);
    EXPECT_EQ(plan.MsUntilDue(dropped + 5000), 0u); // late is due, never a huge wait

    uint32_t now = dropped + 500;
    EXPECT_EQ(plan.Attempt(now), 1);
    EXPECT_EQ(plan.MsUntilDue(now), 1000u);
    now += 1000;
    EXPECT_EQ(plan.Attempt(now), 2);
    EXPECT_EQ(plan.MsUntilDue(now), 2000u);
    EXPECT_EQ(plan.Attempts(), 2);

    // A new drop starts counting again.
    plan.Begin(now);
    EXPECT_EQ(plan.Attempt(now + 500), 1);
    plan.End();
    EXPECT_FALSE(plan.Active());
}

// A peer that accepts and drops at once: the attempt that opened counts as failed, and the next
// one waits the next, longer pause, neither given up nor hammered.
TEST(ReconnectTest, ADropRightAfterASuccessfulAttemptGoesOnCounting) {
    ReconnectPlan plan;
    uint32_t now = 1000;
    plan.Begin(now);
    EXPECT_EQ(plan.Attempt(now += 500), 1);
    plan.Succeeded(now);
    EXPECT_FALSE(plan.Active());
    plan.Begin(now += 100);
    EXPECT_EQ(plan.MsUntilDue(now), 1000u);
    EXPECT_EQ(plan.Attempt(now += 1000), 2);
    plan.Succeeded(now);
    plan.Begin(now + ReconnectPlan::ProbationMs); // it held long enough: a new drop
    EXPECT_EQ(plan.MsUntilDue(now + ReconnectPlan::ProbationMs), 500u);
}

TEST(ReconnectTest, TheDeviceNodeOfASerialStringIsUnderDevUnlessAPath) {
    EXPECT_EQ(SerialDevicePath("com:ttyUSB0:baud=9600 parity=N"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("com:/tmp/x/link:baud=115200"), "/tmp/x/link");
    EXPECT_EQ(SerialDevicePath("com:/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0:baud=9600"),
              "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0");
}

TEST(ReconnectTest, AFolderWatchWakesWhenAnEntryAppears) {
    TempDir dir;
    FolderWatch watch;
    ASSERT_TRUE(watch.Start(dir.Path().string())) << watch.Failure();
    pollfd ready{watch.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 0), 0);
    std::ofstream(dir.Path() / "ttyUSB0") << "";
    ASSERT_EQ(::poll(&ready, 1, 5000), 1);
    watch.Drain();
    EXPECT_EQ(::poll(&ready, 1, 0), 0);

    FolderWatch missing;
    EXPECT_FALSE(missing.Start((dir.Path() / "gone").string()));
    EXPECT_EQ(missing.Fd(), -1);
    EXPECT_FALSE(missing.Failure().empty());
}
