#pragma once
// A waitable object that a transport's blocking waits watch beside its own socket or port, signalled
// by Close from another thread: closing a descriptor does not wake a poll() that waits on it on
// Linux, and closing a socket or port handle does not end a wait on it on Windows either. An eventfd
// here, a manual-reset event there.
#include <cstdint>

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Signal(); // stays signalled until Reset
    void Reset();
    bool IsSignalled() const; // without consuming the signal
    // The system's object for the waits in FdIo: a descriptor here, an event handle on Windows.
    intptr_t Native() const { return native_; }

private:
    intptr_t native_;
};
