#include "connection/FdIo.h"

#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

void GuardedFd::Attach(int fd) {
    std::lock_guard guard(lock_);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    fd_ = fd;
}

bool GuardedFd::Close() {
    std::lock_guard guard(lock_);
    int fd = fd_.exchange(-1);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

ssize_t GuardedFd::ReadSome(void* buffer, size_t size) {
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return ::read(fd_, buffer, size);
}

ssize_t GuardedFd::WriteSome(const void* data, size_t size) {
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return ::write(fd_, data, size);
}

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
