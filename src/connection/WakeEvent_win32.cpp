#include "connection/WakeEvent.h"

#include <windows.h>

namespace {
HANDLE EventOf(intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}
} // namespace

// Manual reset: a signal stays until Reset, however many waits see it.
WakeEvent::WakeEvent() : native_(reinterpret_cast<intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

WakeEvent::~WakeEvent() {
    if (native_ != 0) ::CloseHandle(EventOf(native_));
}

void WakeEvent::Signal() {
    ::SetEvent(EventOf(native_));
}

void WakeEvent::Reset() {
    ::ResetEvent(EventOf(native_));
}

bool WakeEvent::IsSignalled() const {
    return ::WaitForSingleObject(EventOf(native_), 0) == WAIT_OBJECT_0;
}
