#pragma once
// A sink that keeps what a search hands it, from any thread, and lets a test wait for it.
#include "finder/InstrumentSearch.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

struct RecordingSink : InstrumentSink {
    void Found(const FoundInstrument& row) override {
        Record([&] { found[row.key] = row; });
    }
    void Note(const std::string& text) override {
        Record([&] { notes.push_back(text); });
    }
    template <class Change> void Record(Change change) {
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }
    // Waits until done() holds; the limit only ends a test that would otherwise hang.
    template <class Done> bool WaitFor(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::minutes(1), done);
    }

    std::mutex mutex; //!< Protects found and notes.
    std::condition_variable changed;
    std::map<std::string, FoundInstrument> found; // by key
    std::vector<std::string> notes;
};
