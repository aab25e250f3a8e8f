// The finder's list of what the searches beside the hello found, and the queue that hands findings
// from search threads to the window.
#include "finder/InstrumentList.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
FoundInstrument Row(const std::string& key, const std::string& name = "", const std::string& how = "VXI-11") {
    return {name, "10.0.0." + key, how, "TCPIP::10.0.0." + key + "::inst0::INSTR", key};
}
} // namespace

TEST(InstrumentList, MergesAFindingOfAKnownKeyIntoItsRowAndKeepsANameALaterFindingLacks) {
    InstrumentList list;
    size_t index = 9;
    EXPECT_EQ(list.Merge(Row("1"), index), InstrumentList::Change::Added);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(list.Merge(Row("2"), index), InstrumentList::Change::Added);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(list.Merge(Row("1", "Veltrask,AmpSim"), index), InstrumentList::Change::Updated);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(list.Merge(Row("1"), index), InstrumentList::Change::Unchanged) << "a repeated answer";
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list.At(0).name, "Veltrask,AmpSim");
}

TEST(InstrumentList, RemovesTheRowsOfASearchAndStillFindsTheOthersByKey) {
    InstrumentList list;
    size_t index = 0;
    list.Merge(Row("1"), index);
    list.Merge(Row("2", "", "mDNS _lxi._tcp"), index);
    list.Merge(Row("3"), index);
    list.Merge(Row("4", "", "mDNS _hislip._tcp"), index);
    EXPECT_EQ(list.RemoveFoundBy("mDNS"), (std::vector<std::string>{"2", "4"}));
    ASSERT_EQ(list.Size(), 2u);
    ASSERT_NE(list.Find("3"), nullptr);
    EXPECT_EQ(list.Find("3")->address, "10.0.0.3");
    EXPECT_EQ(list.Find("2"), nullptr);
    EXPECT_EQ(list.Merge(Row("3", "named"), index), InstrumentList::Change::Updated);
    EXPECT_EQ(index, 1u) << "the position after the removal";
    EXPECT_TRUE(list.Remove("1"));
    EXPECT_FALSE(list.Remove("1"));
    EXPECT_EQ(list.Merge(Row("3", "again"), index), InstrumentList::Change::Updated);
    EXPECT_EQ(index, 0u);
}

// Several search threads at once (run under ThreadSanitizer too); the window drains in batches,
// each thread's findings in the order it found them.
TEST(FindingQueue, HandsOverEveryFindingOfSeveralThreadsInBatches) {
    FindingQueue queue;
    constexpr int Threads = 4, Each = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < Each; ++i)
                queue.Found(Row(std::to_string(t) + "." + std::to_string(i)));
            queue.Note("thread " + std::to_string(t) + " done");
        });
    std::vector<FoundInstrument> found;
    std::vector<std::string> notes;
    while (found.size() < Threads * Each) {
        const size_t before = found.size();
        queue.Drain(100, found, notes);
        ASSERT_LE(found.size() - before, 100u);
    }
    for (std::thread& thread : threads)
        thread.join();
    queue.Drain(100, found, notes);
    EXPECT_TRUE(queue.Empty());
    ASSERT_EQ(found.size(), static_cast<size_t>(Threads * Each));
    EXPECT_EQ(notes.size(), static_cast<size_t>(Threads));
    std::vector<int> next(Threads, 0);
    for (const FoundInstrument& f : found) {
        const int thread = std::stoi(f.key);
        EXPECT_EQ(f.key, std::to_string(thread) + "." + std::to_string(next[thread]++));
    }
}
