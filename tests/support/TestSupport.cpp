#include "TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

bool RunUntil(Handover& ui, const std::function<bool()>& done, int timeoutMs) {
    auto deadline = Handover::Clock::now() + std::chrono::milliseconds(timeoutMs);
    // done() may look at state that another thread changes without Notify: look again every 5 ms.
    while (Handover::Clock::now() < deadline) {
        auto slice = std::min(deadline, Handover::Clock::now() + std::chrono::milliseconds(5));
        if (ui.WaitUntil(done, slice)) return true;
    }
    return done();
}

namespace {
// Reads into pending until it holds a LF, the descriptor ends, or the time runs out.
std::string ReadLineFrom(int fd, std::string& pending, int timeoutMs, bool toEnd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t lf = pending.find('\n');
        if (!toEnd && lf != std::string::npos) {
            std::string line = pending.substr(0, lf + 1);
            pending.erase(0, lf + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[65536];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
    }
    std::string rest = toEnd ? pending : "";
    if (toEnd) pending.clear();
    return rest;
}
} // namespace

TestClient::TestClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TestClient::~TestClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool TestClient::Send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

std::string TestClient::ReadLine(int timeoutMs) {
    return ReadLineFrom(fd_, pending_, timeoutMs, false);
}
std::string TestClient::ReadToEnd(int timeoutMs) {
    return ReadLineFrom(fd_, pending_, timeoutMs, true);
}

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
    return ReadLineFrom(master_, pending_, timeoutMs, false);
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

int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
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
