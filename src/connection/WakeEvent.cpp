#include "connection/WakeEvent.h"

#include "CorvaneConfig.h"

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

void WakeEvent::Reset() {
    uint64_t value;
    [[maybe_unused]] auto n = ::read(fd_, &value, sizeof value);
}

bool WakeEvent::IsSignalled() const {
    pollfd ready{fd_, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}
