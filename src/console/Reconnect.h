#pragma once
// When the console tries a dropped link again. A TCP link is tried after growing pauses
// (0.5 s, 1 s, 2 s, ... at most 10 s); a serial link as soon as its device node is back, which the
// window learns from the system, so it needs no pause. The plan counts the attempts and is told
// the time, so it runs the same under a test's clock as under the real one.
//
// Threads: one thread at a time (the console's UI thread).
#include "connection/ConnectionKinds.h"

#include <cstdint>
#include <string>

// The kind's way; None for a kind the console does not open.
ReconnectWay ReconnectWayFor(const ConnectionTarget& target);
ReconnectWay ReconnectWayFor(const std::string& connection);
// The device node of a "com" connection ("com:ttyUSB0:baud=9600" is /dev/ttyUSB0).
std::string SerialDevicePath(const ConnectionTarget& target);
std::string SerialDevicePath(const std::string& connection);

// The pause before attempt n (1, 2, ...): 500 ms doubled each time, at most 10 000 ms.
uint32_t ReconnectPauseMs(int attempt);
inline constexpr uint32_t ReconnectFirstPauseMs = 500;
inline constexpr uint32_t ReconnectMaxPauseMs = 10000;

class ReconnectPlan {
public:
    // The link dropped at now: attempts start from 1, the first one due after the first pause.
    // A link that drops within ProbationMs of a successful attempt did not hold: the count goes
    // on from that attempt, the next one due one (longer) pause later.
    void Begin(uint32_t nowMs);
    // The attempt made the link open again: the plan rests, remembering its count for a while.
    void Succeeded(uint32_t nowMs);
    // Gives up (the operator's Disconnect): the count is forgotten.
    void End() {
        active_ = false;
        succeeded_ = false;
    }
    static constexpr uint32_t ProbationMs = 2000;
    bool Active() const { return active_; }

    // How long until the next attempt is due (0 when it is due).
    uint32_t MsUntilDue(uint32_t nowMs) const;
    // Counts an attempt made at now and returns its number; the next is due one (longer) pause later.
    int Attempt(uint32_t nowMs);
    int Attempts() const { return attempts_; }

private:
    bool active_ = false;
    bool succeeded_ = false; //!< The last attempt opened, at succeededMs_.
    uint32_t succeededMs_ = 0;
    int attempts_ = 0;
    uint32_t dueMs_ = 0;
};

// Whether a serial device is there: its node exists (POSIX); on Windows the system knows the port
// named at the end of the path (QueryDosDevice of "COM3" for "\\.\COM3" or "COM3").
bool DevicePresent(const std::string& devicePath);

// Tells the owner when to look whether a dropped serial device is back. On POSIX it watches the
// device node's folder (inotify): the owner waits for Fd() to be readable (no polling loop), then
// calls Drain(). A COM port is no entry of a folder that Windows lets anyone watch: there Fd() is
// -1 and the owner looks again every PollMs(). Its side per system is in Reconnect_posix.cpp and
// Reconnect_win32.cpp.
class FolderWatch {
public:
    FolderWatch() = default;
    ~FolderWatch() { Stop(); }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False when the folder cannot be watched: Failure() gives the system's reason. Windows does
    // not look at the folder.
    bool Start(const std::string& folder);
    void Stop();
    int Fd() const { return fd_; }
    // How long the owner waits before it looks again; 0 when Fd() tells instead.
    uint32_t PollMs() const;
    // Reads the pending events (their content does not matter: the owner looks at the path).
    void Drain();
    const std::string& Failure() const { return failure_; }

private:
    int fd_ = -1;
    std::string failure_;
};
