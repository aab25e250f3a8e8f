#include "PktinfoSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "SysError.h"

namespace ampsim {

bool OpenPktinfoSocket(std::uint16_t port, IoHandle& socket, std::string& error) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SysError("socket", errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    int room = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        error = SysError("udp bind port " + std::to_string(port), errno);
        CloseIo(fd);
        return false;
    }
    socket = fd;
    return true;
}

bool ReceiveArrival(IoHandle socket, std::size_t maxBytes, UdpArrival& arrival) {
    for (;;) {
        arrival.data.resize(maxBytes);
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        sockaddr_in from{};
        iovec io{arrival.data.data(), maxBytes};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(static_cast<int>(socket), &message, 0);
        if (n < 0) return false; // EAGAIN: all read; anything else: try again at the next poll
        if (message.msg_flags & MSG_TRUNC) continue;
        arrival.data.resize(static_cast<std::size_t>(n));
        in_pktinfo info{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
        arrival.fromAddress = ntohl(from.sin_addr.s_addr);
        arrival.fromPort = ntohs(from.sin_port);
        // ipi_addr is the header's destination, ipi_spec_dst the local address it came in for.
        arrival.destination = ntohl(info.ipi_addr.s_addr);
        arrival.localAddress = ntohl(info.ipi_spec_dst.s_addr);
        arrival.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        return true;
    }
}

// IP_PKTINFO's ipi_spec_dst is the source on sending. A broadcast leaves by outInterface: without
// one, Linux would pick the interface of the source address.
void SendFrom(IoHandle socket, const std::string& data, std::uint32_t toAddress, std::uint16_t toPort,
              std::uint32_t fromAddress, unsigned outInterface) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(toAddress);
    to.sin_port = htons(toPort);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<char*>(data.data()), data.size()};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(fromAddress);
    info.ipi_ifindex = static_cast<int>(outInterface);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ::sendmsg(static_cast<int>(socket), &message, 0);
}

bool IsLocalAddress(std::uint32_t address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        found = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
                ntohl(reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr) == address;
    }
    ::freeifaddrs(list);
    return found;
}

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

} // namespace ampsim
