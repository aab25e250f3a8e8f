#pragma once
// What ends ampsim's loop: SIGTERM or SIGINT on POSIX, a console's Ctrl+C, Ctrl+Break or close on
// Windows; and, when asked, the end of standard input (a parent's pipe closing). They join the
// loop's poll set like any other handle. One side per system; this header names no system type.
// The server's thread makes every call.
#include <memory>
#include <string>

#include "PollSet.h"

namespace ampsim {

class StopSources {
public:
    StopSources();
    ~StopSources();
    StopSources(const StopSources&) = delete;
    StopSources& operator=(const StopSources&) = delete;

    // Starts listening for them; false with error on failure.
    bool Open(bool watchStdin, std::string& error);
    // Puts their handles into the set for the next wait.
    void AddTo(PollSet& set);
    // After that wait: whether a stop was asked. Takes in what woke the set.
    bool Stopped(const PollSet& set);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace ampsim
