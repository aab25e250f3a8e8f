#include "connection/WakeEvent.h"

#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

WakeEvent::WakeEvent() : native_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
    if (native_ >= 0) ::close(static_cast<int>(native_));
}

void WakeEvent::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(static_cast<int>(native_), &one, sizeof one);
}

void WakeEvent::Reset() {
    uint64_t value;
    [[maybe_unused]] auto n = ::read(static_cast<int>(native_), &value, sizeof value);
}

bool WakeEvent::IsSignalled() const {
    pollfd ready{static_cast<int>(native_), POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}
