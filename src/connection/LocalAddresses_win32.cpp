// The interfaces' addresses on Windows: the IP helper's adapter list.
#include "connection/LocalAddresses.h"

#include "connection/Sockets.h"
#include "connection/Winsock.h"

#include <iphlpapi.h>

namespace {
// The adapter list, asked again with the size the system says while it grows between the calls.
std::vector<unsigned char> AdapterList() {
    constexpr ULONG Flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer; // operator new's alignment suits IP_ADAPTER_ADDRESSES
    for (int tries = 0; tries < 3; ++tries) {
        buffer.resize(size);
        const ULONG result = GetAdaptersAddresses(
            AF_INET, Flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (result == NO_ERROR) return buffer;
        if (result != ERROR_BUFFER_OVERFLOW) break;
    }
    return {};
}

// Calls visit for each IPv4 address of the adapters, with the adapter.
template <typename Visit> void EachIpv4Interface(Visit visit) {
    const std::vector<unsigned char> list = AdapterList();
    if (list.empty()) return;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data()); adapter;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address && address->sa_family == AF_INET)
                visit(*adapter, ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr));
        }
    }
}
} // namespace

std::vector<std::string> InterfaceIpv4Addresses() {
    std::vector<std::string> addresses;
    EachIpv4Interface([&](const IP_ADAPTER_ADDRESSES& adapter, uint32_t address) {
        if (adapter.OperStatus == IfOperStatusUp && adapter.IfType != IF_TYPE_SOFTWARE_LOOPBACK)
            AddNewAddress(addresses, Ipv4Text(address));
    });
    return addresses;
}

int InterfaceIndexOf(uint32_t address) {
    int index = 0;
    EachIpv4Interface([&](const IP_ADAPTER_ADDRESSES& adapter, uint32_t found) {
        if (index == 0 && found == address) index = static_cast<int>(adapter.IfIndex);
    });
    return index;
}

uint32_t DirectedBroadcastOf(uint32_t address) {
    uint32_t broadcast = Ipv4Broadcast;
    const std::vector<unsigned char> list = AdapterList();
    if (list.empty()) return broadcast;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data()); adapter;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr* found = unicast->Address.lpSockaddr;
            if (!found || found->sa_family != AF_INET ||
                ntohl(reinterpret_cast<const sockaddr_in*>(found)->sin_addr.s_addr) != address)
                continue;
            // A /31 or /32 has no broadcast address of its own.
            const unsigned prefix = unicast->OnLinkPrefixLength;
            if (prefix >= 1 && prefix < 31) broadcast = address | (0xFFFFFFFFu >> prefix);
        }
    }
    return broadcast;
}
