// What the local addresses mean on every system; the system's own queries are in
// LocalAddresses_posix.cpp and LocalAddresses_win32.cpp.
#include "connection/LocalAddresses.h"

#include "connection/Sockets.h"
#include "platform/System.h"

#include <algorithm>

void AddNewAddress(std::vector<std::string>& list, const std::string& address) {
    if (!address.empty() && std::find(list.begin(), list.end(), address) == list.end())
        list.push_back(address);
}

std::vector<std::string> HostNameIpv4Addresses() {
    std::vector<std::string> addresses;
    const std::string name = SystemHostName();
    std::vector<uint32_t> found;
    if (name.empty() || ResolveIpv4(name, found) != 0) return addresses;
    for (uint32_t address : found)
        AddNewAddress(addresses, Ipv4Text(address));
    return addresses;
}

std::vector<std::string> LocalIpv4Addresses() {
    std::vector<std::string> addresses = HostNameIpv4Addresses();
    for (const auto& address : InterfaceIpv4Addresses())
        AddNewAddress(addresses, address);
    return addresses;
}
