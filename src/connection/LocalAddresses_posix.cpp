// The local addresses on POSIX: the resolver for the host name, getifaddrs for the interfaces.
#include "connection/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::string Dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? text : "";
}
} // namespace

std::vector<std::string> HostNameIpv4Addresses() {
    std::vector<std::string> addresses;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return addresses;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* a = found; a; a = a->ai_next)
        AddNewAddress(addresses, Dotted(a->ai_addr));
    freeaddrinfo(found);
    return addresses;
}

std::vector<std::string> InterfaceIpv4Addresses() {
    std::vector<std::string> addresses;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return addresses;
    for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        AddNewAddress(addresses, Dotted(i->ifa_addr));
    }
    freeifaddrs(interfaces);
    return addresses;
}
