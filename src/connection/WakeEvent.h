#pragma once
// A descriptor that poll() can wait on beside a transport's own, signalled by Close from another
// thread. Closing a descriptor does not wake a poll() that waits on it on Linux, so every blocking
// wait of a transport also watches one of these.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Signal(); // stays signalled until Reset
    void Reset();
    bool IsSignalled() const; // without consuming the signal
    int Fd() const { return fd_; }

private:
    int fd_;
};
