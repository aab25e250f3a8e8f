// The local addresses on Windows: Winsock's resolver for the host name, the IP helper's adapter
// list for the interfaces.
#include "connection/LocalAddresses.h"

// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

namespace {
// Winsock counts its start-ups, so a start of our own around a lookup works whether or not the
// program has started the socket layer, and leaves its count as it was.
class WinsockUse {
public:
    WinsockUse() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUse() {
        if (started_) WSACleanup();
    }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

std::string Dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    return inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) ? text : "";
}

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
} // namespace

std::vector<std::string> HostNameIpv4Addresses() {
    std::vector<std::string> addresses;
    WinsockUse winsock;
    char name[256] = {};
    if (!winsock.Started() || gethostname(name, sizeof name - 1) != 0) return addresses;
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
    std::vector<unsigned char> list = AdapterList();
    if (list.empty()) return addresses;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data()); adapter;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address && address->sa_family == AF_INET) AddNewAddress(addresses, Dotted(address));
        }
    }
    return addresses;
}
