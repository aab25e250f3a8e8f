#include "finder/DiscoverySocket.h"

#include "connection/LocalAddresses.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Hundreds of amplifiers answer each hello at once: room for that burst while the window works
// through the answers before it.
constexpr int ReceiveRoom = 1 << 20;

int BoundSocket(uint32_t address, int port) {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &ReceiveRoom, sizeof ReceiveRoom);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// The interface a datagram arrived on, from its IP_PKTINFO; 0 when the message carries none.
int ArrivalInterface(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        return info.ipi_ifindex;
    }
    return 0;
}
} // namespace

bool DiscoverySocket::Open(const std::string& localAddress, int port) {
    Close();
    in_addr address{};
    if (port < 0 || port > 65535 || ::inet_pton(AF_INET, localAddress.c_str(), &address) != 1) return false;
    const int index = InterfaceIndexOf(ntohl(address.s_addr));
    if (index == 0) return false;
    unicast_ = BoundSocket(address.s_addr, port);
    broadcast_ = BoundSocket(htonl(INADDR_ANY), port);
    if (unicast_ < 0 || broadcast_ < 0) {
        Close();
        return false;
    }
    local_ = address.s_addr;
    interface_ = index;
    port_ = port;
    return true;
}

void DiscoverySocket::Close() {
    for (int* fd : {&unicast_, &broadcast_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

int DiscoverySocket::Broadcast(const void* data, size_t length) {
    if (!IsOpen()) return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(static_cast<uint16_t>(port_));
    // From a socket bound to one address, Linux sends a limited broadcast out of that address's
    // interface.
    ssize_t sent = ::sendto(unicast_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? 0 : static_cast<int>(sent);
}

size_t DiscoverySocket::ReadWaiting(int fd, size_t maxCount, const DataHandler& onData) {
    if (!IsOpen() || (fd != unicast_ && fd != broadcast_)) return 0;
    size_t count = 0;
    for (; count < maxCount; ++count) {
        char data[MaxDatagram + 1];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        sockaddr_in from{};
        iovec io{data, MaxDatagram};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT);
        if (n < 0) break; // EAGAIN: all read; anything else: the notifier tries again
        if (Keep(fd, from.sin_addr.s_addr, ntohs(from.sin_port), ArrivalInterface(message)))
            onData(std::string(data, static_cast<size_t>(n)));
    }
    return count;
}
