#pragma once
// What ends a headless run from outside: SIGINT, SIGTERM and SIGHUP on POSIX, the console's
// control events on Windows. The signal's number is handed to the run through the hand-over
// (Notify); the run ends at its next turn with its last line logged and exit code 128 + number.
// Each system's side is in HeadlessSignals_posix.cpp and HeadlessSignals_win32.cpp.
//
// Windows has no signals: each console event is told as the POSIX signal that means the same.
//   Ctrl+C                     2 (SIGINT)
//   Ctrl+Break                15 (SIGTERM): the one event a program can send to a run it started
//                                in a process group of its own (GenerateConsoleCtrlEvent), as
//                                kill sends SIGTERM here
//   console window closed      1 (SIGHUP): the run's terminal went away
//   logoff, shutdown          15 (SIGTERM), as the system stops programs here
// After the last three the system ends the process as soon as the handler returns (or after its
// own time-out): the handler waits until the watch is gone, that is until the run has ended, so
// the run's last line and log file are complete; the exit code is then the system's.
//
// POSIX: a reader of standard output that goes away makes a write fail (SIGPIPE is ignored), so
// the run says so and ends instead of being killed.
//
// Threads: one watch at a time, made and ended on the run's thread before any other thread exists
// (on POSIX the signals are blocked for every thread started after it).
#include "platform/Handover.h"

#include <atomic>
#include <memory>

class HeadlessSignals {
public:
    explicit HeadlessSignals(Handover& handover);
    ~HeadlessSignals();
    HeadlessSignals(const HeadlessSignals&) = delete;
    HeadlessSignals& operator=(const HeadlessSignals&) = delete;

    // The number of the signal that came, 0 until one did; set under the hand-over's lock.
    const std::atomic<int>& Caught() const { return caught_; }

private:
    struct Watch; //!< The side's own.

    // Any thread: hands signal to the run and wakes it.
    void Tell(int signal) {
        handover_.Notify([this, signal] { caught_ = signal; });
    }

    Handover& handover_;
    std::atomic<int> caught_{0};
    std::unique_ptr<Watch> watch_;
};
