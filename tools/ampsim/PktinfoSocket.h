#pragma once
// The UDP socket of ampsim's responders (the discovery hello, the portmapper's GETPORT): bound to
// one port of every address, as a broadcast never reaches a socket bound to one unicast address,
// it tells for each datagram where it was sent and on which interface it came in, and sends each
// answer from a chosen local address, so every simulated amplifier answers as a host of its own.
// Single-threaded. One side per system (PktinfoSocket_posix.cpp, PktinfoSocket_win32.cpp); this
// header names no system type, and every address here is in host byte order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Io.h"

namespace ampsim {

struct UdpArrival {
    std::string data;
    std::uint32_t fromAddress = 0;
    std::uint16_t fromPort = 0;
    std::uint32_t destination = 0; // the datagram's destination: an address of ours, or a broadcast
    // The local address the datagram came in for, which a broadcast's destination is not; 0 where
    // the system does not tell it (Windows).
    std::uint32_t localAddress = 0;
    unsigned interfaceIndex = 0;
};

// Opens socket: non-blocking, bound to port of every address, broadcasts and arrival details on,
// room for a burst of answers from hundreds of amplifiers. False with error on failure (socket
// then kNoHandle).
bool OpenPktinfoSocket(std::uint16_t port, IoHandle& socket, std::string& error);
// The next waiting datagram of at most maxBytes (a longer one is read and dropped: it is no call
// we answer); false when none waits.
bool ReceiveArrival(IoHandle socket, std::size_t maxBytes, UdpArrival& arrival);
// Sends data to toAddress:toPort from the local fromAddress, out of outInterface (0: where the
// route leads).
void SendFrom(IoHandle socket, const std::string& data, std::uint32_t toAddress, std::uint16_t toPort,
              std::uint32_t fromAddress, unsigned outInterface);
// Whether an interface of this host holds address.
bool IsLocalAddress(std::uint32_t address);
// A dotted IPv4 address; false for any other text.
bool ParseIpv4(const std::string& text, std::uint32_t& address);

} // namespace ampsim
