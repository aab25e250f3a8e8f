#pragma once
// Descriptor I/O shared by the transports (on Windows: socket I/O; a serial port there has its own
// overlapped I/O). The reader thread blocks in WaitReadable while the UI
// thread may write to the descriptor or close it; GuardedFd makes that safe: every read, write and
// close happens under its lock, so a descriptor is never closed (and its number reused by another
// open) while a read or write on it is under way. Waits happen outside the lock and also watch a
// WakeEvent, which Close signals.
#include "connection/WakeEvent.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
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
    // Takes ownership of fd (non-blocking mode is set). On Windows fd is a socket: its handle fits
    // in an int, as the system keeps handles within 32 bits for 32-bit programs.
    void Attach(int fd);
    // Closes the descriptor; false when none was open.
    bool Close();

    // One non-blocking read or write; -1 with errno EBADF when closed, EAGAIN when it would wait,
    // else the system's code (a Winsock code on Windows).
    ssize_t ReadSome(void* buffer, size_t size);
    ssize_t WriteSome(const void* data, size_t size);
    // ReadSome on a socket, with when its bytes arrived as the system stamped them (ns since the
    // epoch): a reader that comes late still knows when the line came. 0 when the system did not
    // stamp them (arrival stamps off, Windows).
    ssize_t ReceiveSome(void* buffer, size_t size, int64_t& arrivalNs);

private:
    mutable std::mutex lock_; //!< Held across each I/O call and Close, never across a wait.
    std::atomic<int> fd_{-1}; //!< Written under lock_; read without it for IsOpen and poll.
};

enum class WaitResult { Ready, Timeout, Woken, Failed };

// Waits for fd to become readable (hang-up and errors count as readable, so the read reports them),
// for the wake event, or for timeoutMs (-1: no limit). EINTR is retried.
WaitResult WaitReadable(int fd, const WakeEvent& wake, int timeoutMs);
// The same for room to write (or the end of a connect under way).
WaitResult WaitWritable(int fd, const WakeEvent& wake, int timeoutMs);

// One thing a wait watches: a descriptor (a socket on Windows) or a wake event.
struct WaitItem {
    int fd = -1;                     //!< -1: none
    const WakeEvent* wake = nullptr; //!< Used when fd is -1.
    bool write = false;              //!< fd: wait for room to write instead of input.
    bool ready = false;              //!< Set by WaitAny.
    bool closed = false;             //!< Set by WaitAny, with ready: fd is no open descriptor.
};

// Waits until any item is ready or timeoutMs passes (-1: no limit); items with neither are skipped,
// and those past MaxWaitItems too.
// Returns how many are ready, 0 at the time-out, -1 when the wait itself failed. Hang-up and errors
// count as ready, so the read or write that follows reports them; so does an fd that is no open
// descriptor (closed by another thread meanwhile), marked closed.
constexpr size_t MaxWaitItems = 8;
int WaitAny(WaitItem* items, size_t count, int timeoutMs);

// Tries non-blocking reads for SoonMicros before the caller blocks in a wait. A reply usually
// follows a command within tens of microseconds; catching it while still awake saves the wake-up
// of a sleeping reader thread, which costs far more when it crosses CPUs (measured on 2 vCPUs:
// TIO's query rate against the simulator more than tripled). Returns the bytes read, or 0 when
// nothing came or the descriptor reported an end or error (the caller's blocking read sees that
// again and handles it).
constexpr int SoonMicros = 150;
ssize_t ReadSoon(GuardedFd& fd, void* buffer, size_t size);

// How a thread that reads in a loop of its own (TIO's pull mode) waits for a reply: awake first,
// trying non-blocking reads for up to SoonMicros without ever yielding the CPU (a thread that
// yields can hand it to a lower-priority load for that one's whole time slice, and a reply that
// comes meanwhile does not bring it back, as it never slept), or asleep at once. Which is quicker
// depends on where the scheduler runs the peer: on another CPU, a sleeping reader must be woken,
// which on an idle virtual CPU costs about as much as the reply itself; on the reader's own CPU,
// the peer cannot run while the reader spins. So each read's wait, from its start to its bytes,
// goes into a running average for its way, the quicker way is taken, and the other is tried
// again now and then. As long as they are even, the reader sleeps: no CPU is spent on nothing.
// One object per reading thread.
class AwakeReads {
public:
    static constexpr int ProbeEvery = 128;
    // A longer wait counts as this long: a slow peer or an idle link says nothing of the way.
    static constexpr int CapMicros = 2000;
    // Whether the next read stays awake first.
    bool Awake();
    // Tries non-blocking reads of fd for up to SoonMicros. The bytes read (> 0), or 0: nothing
    // came, or the descriptor reported an end or error (the caller's blocking read sees that again).
    static ssize_t Spin(GuardedFd& fd, void* buffer, size_t size);
    // A read that stayed awake first (awake) or not got its bytes after waited.
    void Took(bool awake, std::chrono::steady_clock::duration waited);

private:
    double micros_[2] = {0, 0}; //!< The running averages, asleep [0] and awake [1]; 0: none yet.
    unsigned reads_ = 0;
};

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
