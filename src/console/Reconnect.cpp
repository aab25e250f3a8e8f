// When a dropped link is tried again, alike on every system; what tells that a serial device is
// back is in Reconnect_posix.cpp and Reconnect_win32.cpp.
#include "console/Reconnect.h"

#include "connection/ConnectionString.h"
#include "connection/SerialConnection.h"
#include "platform/Tick.h"

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
