#pragma once
// This machine's IPv4 addresses as dotted text, for choosing the local end of a connection. Each
// system's side is in LocalAddresses_posix.cpp and LocalAddresses_win32.cpp. Any thread may call.
#include <cstdint>
#include <string>
#include <vector>

// The addresses the host name resolves to (the system's host name, then the resolver for IPv4), in
// the order the resolver returns them. Empty when there is no host name or it does not resolve.
std::vector<std::string> HostNameIpv4Addresses();

// The IPv4 addresses of the interfaces that are up, loopback left out, in the system's order.
std::vector<std::string> InterfaceIpv4Addresses();

// The host name's addresses first, then the interfaces' addresses that are not listed yet. On
// Linux the host name often resolves only to 127.0.1.1 (Debian's /etc/hosts entry), which is no
// interface an instrument can reach; the interfaces supply the real addresses.
std::vector<std::string> LocalIpv4Addresses();

// The index of the interface that holds address (host byte order), up or not; 0 when none does.
int InterfaceIndexOf(uint32_t address);

// The directed broadcast address of the subnet of the interface that holds address (both in host
// byte order): 10.77.0.255 for 10.77.0.1/24. The limited broadcast 255.255.255.255 when no
// interface holds address or the system tells no mask.
uint32_t DirectedBroadcastOf(uint32_t address);

// For both sides of this unit: appends address unless it is empty or listed already.
void AddNewAddress(std::vector<std::string>& list, const std::string& address);
