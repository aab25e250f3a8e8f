#include "Discovery.h"

#include <cstdio>

#include "PktinfoSocket.h"

namespace ampsim {

std::string DiscoveryReply(std::uint32_t address, unsigned n) {
    const std::uint32_t ip = address + (n - 1);
    char line[128];
    std::snprintf(line, sizeof line, "0050C2%06X 1 %u.%u.%u.%u 255.255.255.0 1.0.%u AmpSim-%04u",
                  n & 0xFFFFFFu, ip >> 24, (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu, n, n);
    return line;
}

void DiscoveryResponder::Prepare(std::uint32_t address) {
    for (unsigned i = 0; i < options_.amps; ++i)
        replies_.push_back(DiscoveryReply(address, options_.firstAmp + i));
    announcement_ = "udp " + options_.address + ":" + std::to_string(kDiscoveryPort);
}

DiscoveryResponder::~DiscoveryResponder() {
    CloseIo(socket_);
}

bool DiscoveryResponder::Open(std::string& error) {
    if (!ParseIpv4(options_.address, local_)) {
        error = "--discovery: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    if (!IsLocalAddress(local_)) {
        error = "--discovery: no local interface has the address " + options_.address;
        return false;
    }
    if (!OpenPktinfoSocket(kDiscoveryPort, socket_, error)) return false;
    Prepare(local_);
    return true;
}

// Each reply leaves from the given address, not from whatever address the route to the finder
// would pick; a broadcast reply leaves by the interface the hello came in on.
void DiscoveryResponder::Handle() {
    constexpr std::size_t Longest = 64; // anything longer is no hello
    UdpArrival arrival;
    while (ReceiveArrival(socket_, Longest, arrival)) {
        if (arrival.data != kDiscoveryHello) continue;
        const std::uint32_t to = options_.broadcast ? 0xFFFFFFFFu : arrival.fromAddress;
        const std::uint16_t port = options_.broadcast ? kDiscoveryPort : arrival.fromPort;
        for (const std::string& reply : replies_)
            SendFrom(socket_, reply, to, port, local_, options_.broadcast ? arrival.interfaceIndex : 0);
    }
}

} // namespace ampsim
