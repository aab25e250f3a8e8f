#include "Discovery.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SysError.h"

namespace ampsim {
namespace {

constexpr std::uint16_t kDiscoveryPort = 8001;
constexpr char kHello[] = "0 1 A";

// Whether an interface of this host holds address.
bool IsLocal(in_addr address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    bool found = false;
    for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        found = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
                reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address.s_addr;
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace

std::string DiscoveryReply(const std::string& address, unsigned n) {
    in_addr base{};
    ::inet_pton(AF_INET, address.c_str(), &base);
    in_addr ip{};
    ip.s_addr = htonl(ntohl(base.s_addr) + (n - 1));
    char ipText[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &ip, ipText, sizeof ipText);
    char line[128];
    std::snprintf(line, sizeof line, "0050C2%06X 1 %s 255.255.255.0 1.0.%u AmpSim-%04u", n & 0xFFFFFFu,
                  ipText, n, n);
    return line;
}

DiscoveryResponder::~DiscoveryResponder() {
    if (fd_ >= 0) ::close(fd_);
}

bool DiscoveryResponder::Open(std::string& error) {
    if (::inet_pton(AF_INET, options_.address.c_str(), &local_) != 1) {
        error = "--discovery: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    if (!IsLocal(local_)) {
        error = "--discovery: no local interface has the address " + options_.address;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = SysError("socket", errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    int room = 1 << 20; // a burst of replies for hundreds of amplifiers
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kDiscoveryPort);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        error = SysError("udp bind port 8001", errno);
        return false;
    }
    for (unsigned i = 0; i < options_.amps; ++i)
        replies_.push_back(DiscoveryReply(options_.address, options_.firstAmp + i));
    announcement_ = "udp " + options_.address + ":" + std::to_string(kDiscoveryPort);
    return true;
}

void DiscoveryResponder::Handle() {
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
        ssize_t n = ::recvmsg(fd_, &message, 0);
        if (n < 0) return; // EAGAIN: all read; anything else: try again at the next poll
        if (n != static_cast<ssize_t>(sizeof kHello - 1) || std::string(data, 5) != kHello) continue;
        in_pktinfo arrival{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
        Answer(from, arrival.ipi_ifindex);
    }
}

// Each reply leaves from the given address (IP_PKTINFO's source), not from whatever address the
// route to the finder would pick. A broadcast reply leaves by the interface the hello came in on:
// without one, Linux would pick the interface of the source address.
void DiscoveryResponder::Answer(const sockaddr_in& sender, int arrivalInterface) {
    sockaddr_in to = sender;
    if (options_.broadcast) {
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        to.sin_port = htons(kDiscoveryPort);
    }
    for (const std::string& reply : replies_) {
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
        info.ipi_spec_dst = local_;
        if (options_.broadcast) info.ipi_ifindex = arrivalInterface;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        ::sendmsg(fd_, &message, 0);
    }
}

} // namespace ampsim
