// The serial device's return on Windows: a COM port is a name the system knows or does not, with
// no folder entry to watch, so the owner looks again now and then.
#include "console/Reconnect.h"

#include "platform/Win32Text.h"

namespace {
// Often enough that a plugged-in adapter is taken within half a second; a query costs little.
constexpr uint32_t LookAgainMs = 500;
} // namespace

bool DevicePresent(const std::string& devicePath) {
    const size_t separator = devicePath.find_last_of("\\/");
    const std::wstring name =
        WideFromUtf8(separator == std::string::npos ? devicePath : devicePath.substr(separator + 1));
    if (name.empty()) return false;
    // The target ("\Device\Serial0") is not needed, only whether there is one.
    wchar_t target[MAX_PATH] = {};
    return QueryDosDeviceW(name.c_str(), target, MAX_PATH) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

bool FolderWatch::Start(const std::string&) {
    failure_.clear();
    return true;
}

void FolderWatch::Stop() {}

uint32_t FolderWatch::PollMs() const {
    return LookAgainMs;
}

void FolderWatch::Drain() {}
