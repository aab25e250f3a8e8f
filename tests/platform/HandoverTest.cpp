// The synchronous hand-over from worker threads to the UI thread.
#include "platform/Handover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

TEST(Handover, WorkerWaitsUntilTheUiThreadHasRunItsStep) {
    Handover ui;
    std::atomic<int> wakeups{0};
    ui.SetWakeup([&] { ++wakeups; });
    std::thread::id ranOn;
    bool workerSawIt = false;
    std::thread worker([&] {
        int value = 0;
        ui.Synchronize([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        ui.Notify([&] { workerSawIt = value == 42; });
    });
    EXPECT_TRUE(ui.WaitUntil([&] { return workerSawIt; }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_GE(wakeups.load(), 1);
}

TEST(Handover, StepsOfOneWorkerRunInOrderAndOnTheUiThreadDirectly) {
    Handover ui;
    std::vector<int> order;
    ui.Synchronize([&] { order.push_back(0); }); // on the UI thread: at once
    std::thread worker([&] {
        for (int i = 1; i <= 100; ++i)
            ui.Synchronize([&, i] { order.push_back(i); });
    });
    EXPECT_TRUE(ui.WaitUntil([&] { return order.size() == 101; }));
    worker.join();
    for (int i = 0; i <= 100; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(Handover, AnExceptionInAStepGoesBackToTheWorker) {
    Handover ui;
    bool caught = false;
    bool done = false;
    std::thread worker([&] {
        try {
            ui.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        ui.Notify([&] { done = true; });
    });
    EXPECT_TRUE(ui.WaitUntil([&] { return done; }));
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(Handover, WaitUntilGivesUpAtItsDeadline) {
    Handover ui;
    auto start = Handover::Clock::now();
    EXPECT_FALSE(ui.WaitUntil([] { return false; }, start + std::chrono::milliseconds(20)));
    EXPECT_GE(Handover::Clock::now() - start, std::chrono::milliseconds(20));
}

TEST(Handover, LingeringRunsStepsThatArriveMeanwhileAndReturnsWithinItsBudget) {
    using std::chrono::microseconds;
    Handover ui;
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0};
    // A worker hands over step after step, as a reader thread does in a flood.
    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        while (!stop)
            ui.Synchronize([&] { ++ran; });
        workerDone = true;
    });
    while (ran == 0)
        ui.RunPending();
    // The steps keep coming: one call runs many of them, yet it returns (its budget is 200 ms,
    // room for a few steps also on a loaded machine under a sanitizer).
    int before = ran;
    int steps = ui.RunPendingLingering(microseconds(1000000), microseconds(200000));
    EXPECT_GT(steps, 1);
    EXPECT_EQ(ran - before, steps);
    stop = true;
    while (!workerDone)
        ui.RunPending(); // the worker may have one more step on its way
    worker.join();
}
