// A discovery reply is any datagram anyone on the network sends. Arbitrary bytes (up to the largest
// datagram) must parse within the field widths, and only a dotted IPv4 address may ever come out of
// the launch checks, exactly the addresses the system's own reader (inet_pton) takes.
#include "finder/Discovery.h"
#include "finder/FinderLaunch.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string whole(text);
    in_addr address{};
    const bool systemTakes =
        whole.find('\0') == std::string::npos && ::inet_pton(AF_INET, whole.c_str(), &address) == 1;
    Check(IsDottedIpv4(whole) == systemTakes);
    std::optional<AmpInfo> info = ParseDiscoveryReply(text);
    if (!info) return 0;
    Check(info->Mac.size() <= 12 && info->Ip.size() <= 15 && info->Extra1.size() <= 15);
    Check(info->Extra2.size() <= 15 && info->Name.size() <= 63 && info->RowKey == info->Mac);
    LaunchPlan ping = PingPlan(info->Ip);
    Check(ping.Ok() == IsDottedIpv4(info->Ip));
    if (ping.Ok()) Check(ping.argv.size() == 2 && ping.argv[1] == info->Ip);
    AmpList list;
    list.Update(*info, 1);
    Check(list.Find(info->RowKey) != nullptr && list.RemoveStale(2000, 2002).size() == 1);
    return 0;
}
