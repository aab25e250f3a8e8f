#include "Discovery.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SysError.h"

namespace ampsim {
namespace {

// Whether an interface of this host holds address.
bool IsLocal(in_addr address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        found = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
                reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address.s_addr;
    }
    ::freeifaddrs(list);
    return found;
}

// Each reply leaves from the given address (IP_PKTINFO's source), not from whatever address the
// route to the finder would pick. A broadcast reply leaves by the interface the hello came in on:
// without one, Linux would pick the interface of the source address.
void SendReply(int fd, const std::string& reply, sockaddr_in to, in_addr local, int outInterface) {
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<char*>(reply.data()), reply.size()};
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
    info.ipi_spec_dst = local;
    info.ipi_ifindex = outInterface;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ::sendmsg(fd, &message, 0);
}

} // namespace

DiscoveryResponder::~DiscoveryResponder() {
    CloseIo(socket_);
}

bool DiscoveryResponder::Open(std::string& error) {
    in_addr local{};
    if (::inet_pton(AF_INET, options_.address.c_str(), &local) != 1) {
        error = "--discovery: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    if (!IsLocal(local)) {
        error = "--discovery: no local interface has the address " + options_.address;
        return false;
    }
    local_ = local.s_addr;
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
    int room = 1 << 20; // a burst of replies for hundreds of amplifiers
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kDiscoveryPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        error = SysError("udp bind port 8001", errno);
        return false;
    }
    Prepare(ntohl(local.s_addr));
    return true;
}

void DiscoveryResponder::Handle() {
    const int fd = static_cast<int>(socket_);
    for (;;) {
        char data[64];
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
        ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0) return; // EAGAIN: all read; anything else: try again at the next poll
        if (n != static_cast<ssize_t>(sizeof kDiscoveryHello - 1) || std::string(data, 5) != kDiscoveryHello)
            continue;
        in_pktinfo arrival{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
        sockaddr_in to = from;
        if (options_.broadcast) {
            to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            to.sin_port = htons(kDiscoveryPort);
        }
        in_addr local{};
        local.s_addr = local_;
        for (const std::string& reply : replies_)
            SendReply(fd, reply, to, local, options_.broadcast ? arrival.ipi_ifindex : 0);
    }
}

} // namespace ampsim
