#include "connection/FdIo.h"

#include "connection/FdIo_sys.h"
#include "connection/Winsock.h"

#include <algorithm>
#include <chrono>

namespace fd_sys {
void SetNonBlocking(int fd) {
    u_long on = 1;
    ::ioctlsocket(SocketOf(fd), FIONBIO, &on);
}

void CloseDescriptor(int fd) {
    ::closesocket(SocketOf(fd));
}

ssize_t ReadSome(int fd, void* buffer, size_t size) {
    const int n = ::recv(SocketOf(fd), static_cast<char*>(buffer), static_cast<int>(size), 0);
    return n >= 0 ? n : TakeSocketError();
}

// Winsock stamps no arrivals.
ssize_t ReceiveSome(int fd, void* buffer, size_t size, int64_t& arrivalNs) {
    arrivalNs = 0;
    return ReadSome(fd, buffer, size);
}

ssize_t WriteSome(int fd, const void* data, size_t size) {
    const int n = ::send(SocketOf(fd), static_cast<const char*>(data), static_cast<int>(size), 0);
    return n >= 0 ? n : TakeSocketError();
}
} // namespace fd_sys

namespace {
bool IsSocket(int fd) {
    int type = 0;
    int length = sizeof type;
    return ::getsockopt(SocketOf(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

// select() fails for all when one socket is closed: those are ready and closed, the rest waits.
int MarkClosed(WaitItem* items, size_t count) {
    int closed = 0;
    for (size_t i = 0; i < count; ++i) {
        WaitItem& item = items[i];
        item.ready = item.closed = item.fd >= 0 && !IsSocket(item.fd);
        closed += item.closed ? 1 : 0;
    }
    return closed > 0 ? closed : -1;
}

// Readiness now, level-triggered: select() with no wait for the sockets, the events' state for the
// wakes.
int MarkReady(WaitItem* items, size_t count) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    bool anySocket = false;
    for (size_t i = 0; i < count; ++i) {
        if (items[i].fd < 0) continue;
        FD_SET(SocketOf(items[i].fd), items[i].write ? &writable : &readable);
        FD_SET(SocketOf(items[i].fd), &failed); // a failed connect shows only here
        anySocket = true;
    }
    timeval now{0, 0};
    if (anySocket && ::select(0, &readable, &writable, &failed, &now) == SOCKET_ERROR)
        return MarkClosed(items, count);
    int ready = 0;
    for (size_t i = 0; i < count; ++i) {
        WaitItem& item = items[i];
        const SOCKET s = SocketOf(item.fd);
        item.closed = false;
        item.ready = item.fd >= 0 ? FD_ISSET(s, &readable) || FD_ISSET(s, &writable) || FD_ISSET(s, &failed)
                                  : item.wake && item.wake->IsSignalled();
        ready += item.ready ? 1 : 0;
    }
    return ready;
}

// Sleeps until a socket reports a network event or a wake is signalled, at most ms. Each socket is
// tied to an event of its own for this wait only (which also keeps it non-blocking). A socket has
// one such tie at a time: a write's wait in another thread can take the reader's away, and room to
// write is told once rather than while it lasts, so no sleep here is longer than SliceMs; the
// caller looks at the sockets again after it.
bool Sleep(const WaitItem* items, size_t count, int ms) {
    constexpr DWORD SliceMs = 100;
    HANDLE handles[MaxWaitItems];
    WSAEVENT ties[MaxWaitItems] = {};
    DWORD n = 0;
    bool anyTie = false;
    for (size_t i = 0; i < count; ++i) {
        const WaitItem& item = items[i];
        if (item.fd < 0) {
            if (item.wake) handles[n++] = reinterpret_cast<HANDLE>(item.wake->Native());
            continue;
        }
        const long events =
            item.write ? FD_WRITE | FD_CONNECT | FD_CLOSE : FD_READ | FD_ACCEPT | FD_CLOSE | FD_OOB;
        ties[i] = ::WSACreateEvent();
        if (ties[i] == WSA_INVALID_EVENT || ::WSAEventSelect(SocketOf(item.fd), ties[i], events) != 0)
            continue;
        handles[n++] = ties[i];
        anyTie = true;
    }
    DWORD limit = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
    if (anyTie || n == 0) limit = std::min(limit, SliceMs);
    const DWORD waited =
        n == 0 ? (::Sleep(limit), WAIT_TIMEOUT) : ::WaitForMultipleObjects(n, handles, FALSE, limit);
    for (size_t i = 0; i < count; ++i) {
        if (items[i].fd < 0) continue;
        ::WSAEventSelect(SocketOf(items[i].fd), nullptr, 0);
        if (ties[i] != WSA_INVALID_EVENT && ties[i] != nullptr) ::WSACloseEvent(ties[i]);
    }
    return waited != WAIT_FAILED;
}
} // namespace

// The program's own tick (platform/Tick.h) shares its name with the system's, so the time left is
// counted here with the clock it is made of.
int WaitAny(WaitItem* items, size_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    count = std::min(count, MaxWaitItems);
    const Clock::time_point start = Clock::now();
    for (;;) {
        const int ready = MarkReady(items, count);
        if (ready != 0) return ready;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        const int left = timeoutMs < 0 ? -1 : static_cast<int>(std::max<long long>(timeoutMs - spent, 0));
        if (left == 0) return 0;
        if (!Sleep(items, count, left)) return -1;
    }
}
