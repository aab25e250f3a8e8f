#pragma once
// A sink that keeps what a search hands it, from any thread, and lets a test wait for it.
#include "finder/InstrumentSearch.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class RecordingSink : public InstrumentSink {
public:
    void Found(const FoundInstrument& instrument) override {
        Record([&] { found[instrument.key] = instrument; });
    }
    void Note(const std::string& text) override {
        Record([&] { notes.push_back(text); });
    }

    // Waits until done() holds under the lock; the limit only ends a test that would hang.
    bool WaitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), done);
    }

    std::mutex mutex;                             //!< Protects found and notes.
    std::map<std::string, FoundInstrument> found; // by key
    std::vector<std::string> notes;

private:
    void Record(const std::function<void()>& change) {
        std::lock_guard lock(mutex);
        change();
        changed.notify_all();
    }
    std::condition_variable changed;
};
