#include "RecvThreadSupport.h"

#include "connection/Sockets.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

UdpSocket::UdpSocket(const std::string& address, int port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &bound.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

UdpSocket::~UdpSocket() {
    if (fd_ >= 0) ::close(fd_);
}

int UdpSocket::Port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

bool UdpSocket::SendTo(const std::string& address, int port, const std::string& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

std::string UdpSocket::Receive(std::string& from, int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return "";
    char buffer[2048];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (n < 0) return "";
    from = EndpointText({ntohl(sender.sin_addr.s_addr), ntohs(sender.sin_port)});
    return std::string(buffer, static_cast<size_t>(n));
}
