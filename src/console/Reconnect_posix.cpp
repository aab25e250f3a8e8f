// The serial device's return on POSIX: its node appears in its folder, told by inotify.
#include "console/Reconnect.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <unistd.h>

bool DevicePresent(const std::string& devicePath) {
    std::error_code ignored;
    return std::filesystem::exists(devicePath, ignored);
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

uint32_t FolderWatch::PollMs() const {
    return 0;
}

void FolderWatch::Drain() {
    alignas(inotify_event) char buffer[4096];
    while (fd_ >= 0 && ::read(fd_, buffer, sizeof buffer) > 0) {
    }
}
