#pragma once
// Descriptor I/O shared by the transports. The reader thread blocks in WaitReadable while the UI
// thread may write to the descriptor or close it; GuardedFd makes that safe: every read, write and
// close happens under its lock, so a descriptor is never closed (and its number reused by another
// open) while a read or write on it is under way. Waits happen outside the lock and also watch a
// WakeEvent, which Close signals.
#include "connection/WakeEvent.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <sys/types.h>

class GuardedFd {
public:
    GuardedFd() = default;
    GuardedFd(const GuardedFd&) = delete;
    GuardedFd& operator=(const GuardedFd&) = delete;
    ~GuardedFd() { Close(); }

    bool IsOpen() const { return fd_.load() >= 0; }
    // The descriptor number for poll(); may be stale by the time it is used, which is harmless
    // because the I/O itself rechecks under the lock.
    int Fd() const { return fd_.load(); }
    // Takes ownership of fd (non-blocking mode is set).
    void Attach(int fd);
    // Closes the descriptor; false when none was open.
    bool Close();

    // One non-blocking read or write; -1 with errno EBADF when closed.
    ssize_t ReadSome(void* buffer, size_t size);
    ssize_t WriteSome(const void* data, size_t size);

private:
    mutable std::mutex lock_; //!< Held across each I/O call and Close, never across a wait.
    std::atomic<int> fd_{-1}; //!< Written under lock_; read without it for IsOpen and poll.
};

enum class WaitResult { Ready, Timeout, Woken, Failed };

// Waits for fd to become readable (hang-up and errors count as readable, so the read reports them),
// for the wake event, or for timeoutMs (-1: no limit). EINTR is retried.
WaitResult WaitReadable(int fd, const WakeEvent& wake, int timeoutMs);

// Tries non-blocking reads for SoonMicros before the caller blocks in a wait. A reply usually
// follows a command within tens of microseconds; catching it while still awake saves the wake-up
// of a sleeping reader thread, which costs far more when it crosses CPUs (measured on 2 vCPUs:
// TIO's query rate against the simulator more than tripled). Returns the bytes read, or 0 when
// nothing came or the descriptor reported an end or error (the caller's blocking read sees that
// again and handles it).
constexpr int SoonMicros = 150;
ssize_t ReadSoon(GuardedFd& fd, void* buffer, size_t size);

// How long a write may wait for room without any byte taken. Writes come from the UI thread, and
// the reader thread waits for the UI thread with every line: a peer that stops reading (hardware
// handshake held, a receive window that stays shut) must not hold the window, and with it the
// reader, for ever. A peer that is merely slow (4 KB at 9600 baud take over 4 s) keeps taking bytes.
constexpr int WriteTimeoutMs = 2000;

// Writes all of data, waiting for room as the descriptor needs; the time-out of WriteTimeoutMs
// starts again with every byte taken. Returns size, or -1 when the descriptor is or becomes
// closed, a write fails (errno kept) or no byte was taken for WriteTimeoutMs (errno ETIMEDOUT).
ssize_t WriteAll(GuardedFd& fd, const WakeEvent& wake, const void* data, size_t size);

// Milliseconds left of a time-out of timeoutMs started at startTick (-1 stays -1; 0 when expired).
int RemainingMs(int timeoutMs, unsigned startTick);
