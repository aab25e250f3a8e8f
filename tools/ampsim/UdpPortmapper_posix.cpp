#include "UdpPortmapper.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "SysError.h"

namespace ampsim {
namespace {

// The reply leaves from the amplifier's own address (IP_PKTINFO's source), so the client sees
// each amplifier as a host of its own.
void SendFrom(int fd, const std::string& reply, const sockaddr_in& to, std::uint32_t from) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<char*>(reply.data()), reply.size()};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
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
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ::sendmsg(fd, &message, 0);
}

} // namespace

UdpPortmapper::~UdpPortmapper() {
    CloseIo(socket_);
}

bool UdpPortmapper::Open(std::string& error) {
    in_addr first{};
    if (::inet_pton(AF_INET, options_.address.c_str(), &first) != 1) {
        error = "--portmapper-udp: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    first_ = ntohl(first.s_addr);
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = SysError("socket", errno);
        return false;
    }
    socket_ = fd;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    int room = 1 << 20; // a burst of answers for hundreds of amplifiers
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kPortmapperPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        error = SysError("udp bind port 111", errno);
        return false;
    }
    announcement_ = "portmap-udp " + options_.address + ":" + std::to_string(kPortmapperPort);
    return true;
}

void UdpPortmapper::Handle() {
    const int fd = static_cast<int>(socket_);
    for (;;) {
        char data[512];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        sockaddr_in from{};
        iovec io{data, sizeof data};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0) return; // EAGAIN: all read; anything else: try again at the next poll
        in_pktinfo arrival{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
        const std::string reply =
            AnswerPortmapCall({data, static_cast<std::size_t>(n)}, options_.corePort, options_.garbled);
        if (reply.empty()) continue;
        // ipi_addr is the header's destination, ipi_spec_dst the local address it came in for: the
        // same for a unicast call, a broadcast address against the interface's for a broadcast.
        const bool unicast = arrival.ipi_addr.s_addr == arrival.ipi_spec_dst.s_addr;
        for (unsigned i = 0; i < options_.amps; ++i)
            if (Answers(first_ + i, ntohl(arrival.ipi_addr.s_addr), unicast))
                SendFrom(fd, reply, from, first_ + i);
    }
}

} // namespace ampsim
