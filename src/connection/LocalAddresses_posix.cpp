// The interfaces' addresses on POSIX: getifaddrs.
#include "connection/LocalAddresses.h"

#include "connection/Sockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
// Calls visit for each IPv4 address of the interfaces, with the interface's entry.
template <typename Visit> void EachIpv4Interface(Visit visit) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return;
    for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        visit(*i, ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr));
    }
    freeifaddrs(interfaces);
}
} // namespace

std::vector<std::string> InterfaceIpv4Addresses() {
    std::vector<std::string> addresses;
    EachIpv4Interface([&](const ifaddrs& i, uint32_t address) {
        if ((i.ifa_flags & IFF_UP) && !(i.ifa_flags & IFF_LOOPBACK))
            AddNewAddress(addresses, Ipv4Text(address));
    });
    return addresses;
}

int InterfaceIndexOf(uint32_t address) {
    int index = 0;
    EachIpv4Interface([&](const ifaddrs& i, uint32_t found) {
        if (index != 0 || found != address) return;
        // An address alias is listed under its label ("eth0:1"); the interface is the part before ':'.
        const std::string name = i.ifa_name;
        index = static_cast<int>(if_nametoindex(name.substr(0, name.find(':')).c_str()));
    });
    return index;
}

uint32_t DirectedBroadcastOf(uint32_t address) {
    uint32_t broadcast = Ipv4Broadcast;
    EachIpv4Interface([&](const ifaddrs& i, uint32_t found) {
        if (found != address || !i.ifa_netmask || i.ifa_netmask->sa_family != AF_INET) return;
        const uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(i.ifa_netmask)->sin_addr.s_addr);
        // A /31 or /32 has no broadcast address of its own.
        if (mask < 0xFFFFFFFEu) broadcast = address | ~mask;
    });
    return broadcast;
}
