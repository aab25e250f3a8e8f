#include "connection/FdIo.h"

#include "connection/FdIo_sys.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace fd_sys {
void SetNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseDescriptor(int fd) {
    ::close(fd);
}

ssize_t ReadSome(int fd, void* buffer, size_t size) {
    return ::read(fd, buffer, size);
}

ssize_t WriteSome(int fd, const void* data, size_t size) {
    return ::write(fd, data, size);
}
} // namespace fd_sys

int WaitAny(WaitItem* items, size_t count, int timeoutMs) {
    pollfd fds[MaxWaitItems];
    count = std::min(count, MaxWaitItems);
    for (size_t i = 0; i < count; ++i) {
        const WaitItem& item = items[i];
        const int fd = item.fd >= 0 ? item.fd : item.wake ? static_cast<int>(item.wake->Native()) : -1;
        fds[i] = {fd, static_cast<short>(item.fd >= 0 && item.write ? POLLOUT : POLLIN), 0}; // -1 is skipped
    }
    const unsigned start = GetTickCount();
    int n = 0;
    do {
        n = ::poll(fds, count, RemainingMs(timeoutMs, start));
    } while (n < 0 && errno == EINTR);
    for (size_t i = 0; i < count; ++i) {
        items[i].ready = fds[i].revents != 0;
        items[i].closed = (fds[i].revents & POLLNVAL) != 0;
    }
    return n;
}
