#include "connection/FdIo.h"

#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <poll.h>
#include <sys/socket.h>
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

ssize_t GuardedFd::ReceiveSome(void* buffer, size_t size, int64_t& arrivalNs) {
    arrivalNs = 0;
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    iovec data{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(scm_timestamping))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_, &message, 0);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); n > 0 && c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING) continue;
        scm_timestamping stamps{};
        std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
        // The first is the system's own (software) stamp.
        arrivalNs = static_cast<int64_t>(stamps.ts[0].tv_sec) * 1000000000 + stamps.ts[0].tv_nsec;
    }
    return n;
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
