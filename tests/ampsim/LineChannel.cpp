#include "LineChannel.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LineChannel LineChannel::tcp(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    return LineChannel(fd);
}

LineChannel LineChannel::pty(const std::string& path) {
    return LineChannel(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

LineChannel::LineChannel(LineChannel&& other) noexcept
    : fd_(other.fd_), buffer_(std::move(other.buffer_)), ended_(other.ended_) {
    other.fd_ = -1;
}

LineChannel::~LineChannel() {
    close();
}

void LineChannel::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool LineChannel::send(std::string_view bytes, int timeoutMs) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (n == 0 || (errno != EAGAIN && errno != EINTR) || ::poll(&p, 1, timeoutMs) <= 0) return false;
    }
    return true;
}

bool LineChannel::fill(int timeoutMs) {
    if (ended_ || fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char chunk[64 * 1024];
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) {
        ended_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
}

std::optional<std::string> LineChannel::readLine(int timeoutMs) {
    size_t searched = 0;
    for (;;) {
        size_t lf = buffer_.find('\n', searched);
        if (lf != std::string::npos) {
            std::string line = buffer_.substr(0, lf);
            buffer_.erase(0, lf + 1);
            return line;
        }
        searched = buffer_.size();
        if (!fill(timeoutMs)) return std::nullopt;
    }
}

std::optional<std::string> LineChannel::readToEnd(int timeoutMs) {
    while (fill(timeoutMs)) {
    }
    if (!ended_) return std::nullopt;
    return std::move(buffer_);
}
