#include "console/Reconnect.h"

#include "connection/ConnectionString.h"
#include "connection/SerialConnection.h"
#include "platform/Tick.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

ReconnectWay ReconnectWayFor(const ConnectionTarget& target) {
    return target.Kind ? target.Kind->Reconnect : ReconnectWay::None;
}

ReconnectWay ReconnectWayFor(const std::string& connection) {
    return ReconnectWayFor(ParseConnection(connection));
}

std::string SerialDevicePath(const ConnectionTarget& target) {
    std::string name, mode;
    SplitSerialParams(target.Params, name, mode);
    return TSerialConnection::DevicePath(name);
}

std::string SerialDevicePath(const std::string& connection) {
    return SerialDevicePath(ParseConnection(connection));
}

uint32_t ReconnectPauseMs(int attempt) {
    uint32_t pause = ReconnectFirstPauseMs;
    for (int i = 1; i < attempt && pause < ReconnectMaxPauseMs; ++i)
        pause *= 2;
    return pause < ReconnectMaxPauseMs ? pause : ReconnectMaxPauseMs;
}

void ReconnectPlan::Begin(uint32_t nowMs) {
    if (!succeeded_ || TickDiff(nowMs, succeededMs_) >= ProbationMs) attempts_ = 0;
    succeeded_ = false;
    active_ = true;
    dueMs_ = nowMs + ReconnectPauseMs(attempts_ + 1);
}

void ReconnectPlan::Succeeded(uint32_t nowMs) {
    active_ = false;
    succeeded_ = true;
    succeededMs_ = nowMs;
}

uint32_t ReconnectPlan::MsUntilDue(uint32_t nowMs) const {
    // Tick arithmetic: a due time in the past (also across the 32-bit wrap) is due now.
    const auto left = static_cast<int32_t>(dueMs_ - nowMs);
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

int ReconnectPlan::Attempt(uint32_t nowMs) {
    ++attempts_;
    dueMs_ = nowMs + ReconnectPauseMs(attempts_ + 1);
    return attempts_;
}

bool FolderWatch::Start(const std::string& folder) {
    Stop();
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // A device node is created, renamed into place (udev's symlinks) or gets its permissions.
    if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB) < 0) {
        failure_ = std::strerror(errno);
        Stop();
        return false;
    }
    return true;
}

void FolderWatch::Stop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void FolderWatch::Drain() {
    alignas(inotify_event) char buffer[4096];
    while (fd_ >= 0 && ::read(fd_, buffer, sizeof buffer) > 0) {
    }
}
