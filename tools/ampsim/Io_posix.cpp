#include "Io.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "SysError.h"

namespace ampsim {
namespace {

constexpr int kDrainReads = 16; // bounds the time one closing peer holds the loop

int Fd(IoHandle handle) {
    return static_cast<int>(handle);
}

void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The address to bind: the host's first IPv4 address with the endpoint's port.
bool ResolveEndpoint(const TcpEndpoint& endpoint, sockaddr_in& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found); rc != 0) {
        error = "tcp " + endpoint.host + ":" + std::to_string(endpoint.port) + ": " + ::gai_strerror(rc);
        return false;
    }
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    address.sin_port = htons(endpoint.port);
    return true;
}

IoResult Outcome(ssize_t n) {
    if (n > 0) return {IoStatus::Data, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::Ended, 0};
    if (errno == EINTR) return {IoStatus::Interrupted, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WouldBlock, 0};
    return {IoStatus::Failed, 0};
}

} // namespace

std::string UnsupportedOption(const Options&) {
    return {};
}

bool PrepareIo(std::string&) {
    return true;
}

IoHandle ListenTcp(const TcpEndpoint& endpoint, std::string& announcement, std::string& error) {
    sockaddr_in address{};
    if (!ResolveEndpoint(endpoint, address, error)) return kNoHandle;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SysError("socket", errno);
        return kNoHandle;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = SysError("tcp " + endpoint.host + ":" + std::to_string(endpoint.port), errno);
        ::close(fd);
        return kNoHandle;
    }
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    announcement = "tcp " + std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
    return fd;
}

AcceptResult AcceptClient(IoHandle listener) {
    int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
        SetNoDelay(fd);
        return {AcceptStatus::Accepted, fd, {}};
    }
    if (errno == EINTR || errno == ECONNABORTED) return {AcceptStatus::Again, kNoHandle, {}};
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        return {AcceptStatus::Exhausted, kNoHandle, SysError("accept", errno)};
    return {};
}

IoHandle OpenPty(std::string& path, std::string& error) {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = SysError("posix_openpt", errno);
        return kNoHandle;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    char name[128];
    termios raw{};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0 ||
        ::tcgetattr(fd, &raw) != 0) {
        error = SysError("pty", errno);
        ::close(fd);
        return kNoHandle;
    }
    // Raw on the line discipline, so no byte is echoed, translated or held back for a whole line.
    ::cfmakeraw(&raw);
    if (::tcsetattr(fd, TCSANOW, &raw) != 0) {
        error = SysError("pty raw mode", errno);
        ::close(fd);
        return kNoHandle;
    }
    path = name;
    return fd;
}

// EIO on the pty master means no slave is open; the server sees that as POLLHUP and resets the pty.
IoResult ReadSome(IoHandle handle, LinkKind kind, char* buffer, std::size_t size) {
    ssize_t n = ::read(Fd(handle), buffer, size);
    if (n < 0 && kind == LinkKind::Pty && errno == EIO) return {IoStatus::WouldBlock, 0};
    return Outcome(n);
}

// A write that takes nothing is a failure, not an end.
IoResult WriteSome(IoHandle handle, LinkKind kind, const char* data, std::size_t size) {
    ssize_t n = kind == LinkKind::Socket ? ::send(Fd(handle), data, size, MSG_NOSIGNAL | MSG_DONTWAIT)
                                         : ::write(Fd(handle), data, size);
    if (n == 0) return {IoStatus::Failed, 0};
    return Outcome(n);
}

void EndSending(IoHandle socket) {
    ::shutdown(Fd(socket), SHUT_WR);
    char buffer[4096];
    for (int i = 0; i < kDrainReads; ++i)
        if (::read(Fd(socket), buffer, sizeof buffer) <= 0) return;
}

void CloseIo(IoHandle handle) {
    if (handle != kNoHandle) ::close(Fd(handle));
}

} // namespace ampsim
