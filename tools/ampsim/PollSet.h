#pragma once
// Waiting on several handles at once, as poll() does: poll() here, WSAPoll() on Windows (where only
// sockets can be waited on this way). One side per system; this header names no system type.
#include <cstddef>
#include <string>
#include <vector>

#include "Io.h"

namespace ampsim {

// What to wait for, and what happened. Hang-up, error and invalid are reported without being asked.
inline constexpr unsigned kPollIn = 1;
inline constexpr unsigned kPollOut = 2;
inline constexpr unsigned kPollHangUp = 4;
inline constexpr unsigned kPollError = 8;
inline constexpr unsigned kPollInvalid = 16;

enum class PollOutcome { Ready, Interrupted, Failed };

class PollSet {
public:
    // Adds a handle; the index it returns is the handle's in Events().
    std::size_t Add(IoHandle handle, unsigned events) {
        entries_.push_back({handle, events, 0});
        return entries_.size() - 1;
    }
    std::size_t Size() const { return entries_.size(); }
    IoHandle Handle(std::size_t index) const { return entries_[index].handle; }
    // What happened to the handle in the last Wait; 0 when nothing did.
    unsigned Events(std::size_t index) const { return entries_[index].happened; }

    // Waits up to timeoutMs (-1: without limit) until something happens to one of the handles.
    // Ready also when the time ran out; Failed with error.
    PollOutcome Wait(int timeoutMs, std::string& error);

private:
    struct Entry {
        IoHandle handle;
        unsigned wanted;
        unsigned happened;
    };
    std::vector<Entry> entries_;
};

} // namespace ampsim
