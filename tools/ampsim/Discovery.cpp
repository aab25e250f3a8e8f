#include "Discovery.h"

#include <cstdio>

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

} // namespace ampsim
