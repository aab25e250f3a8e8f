#include "connection/FdIo.h"

#include "connection/FdIo_sys.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <poll.h>
#include <sys/socket.h>
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

// The socket's arrival stamp (SO_TIMESTAMPING), when the system gave one with the bytes.
ssize_t ReceiveSome(int fd, void* buffer, size_t size, int64_t& arrivalNs) {
    iovec data{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(scm_timestamping))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &message, 0);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); n > 0 && c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING) continue;
        scm_timestamping stamps{};
        std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
        // The first is the system's own (software) stamp.
        arrivalNs = static_cast<int64_t>(stamps.ts[0].tv_sec) * 1000000000 + stamps.ts[0].tv_nsec;
    }
    return n;
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
