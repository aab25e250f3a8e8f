#include "TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A read of fd that waits up to timeoutMs: bytes, 0 at the time-out, -1 at the end.
long ReadFd(int fd, char* buffer, size_t size, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return 0;
    ssize_t n = ::read(fd, buffer, size);
    return n > 0 ? n : -1;
}
} // namespace

PtyPair::PtyPair(Start start) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, start == Start::Raw ? &raw : nullptr, nullptr) == 0)
        slavePath_ = name;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
    CloseMaster();
    CloseSlave();
}

bool PtyPair::Write(const std::string& text) {
    return ::write(master_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::string PtyPair::ReadLine(int timeoutMs) {
    return ReadLineWith(
        [this](char* buffer, size_t size, int ms) { return ReadFd(master_, buffer, size, ms); }, pending_,
        timeoutMs, false);
}

std::string PtyPair::ReadBytes(size_t count, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pending_.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[65536];
        ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - pending_.size()));
        if (n <= 0) break;
        pending_.append(buffer, static_cast<size_t>(n));
    }
    std::string got = pending_.substr(0, std::min(count, pending_.size()));
    pending_.erase(0, got.size());
    return got;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void PtyPair::CloseSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

FullListener::FullListener() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 0);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    // A backlog of 0 still queues one connection; two fill it for certain.
    for (int i = 0; i < 2; ++i) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
        idle_.push_back(s);
    }
    // Let the handshakes settle into the queue before a test connects.
    for (int s : idle_) {
        pollfd writable{s, POLLOUT, 0};
        ::poll(&writable, 1, 200);
    }
}

FullListener::~FullListener() {
    for (int s : idle_)
        ::close(s);
    ::close(listener_);
}
