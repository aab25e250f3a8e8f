#include "finder/FinderLaunch.h"

#include "text/Strtools.h"

#include <arpa/inet.h>

namespace {
LaunchPlan Refused(const std::string& ip) {
    LaunchPlan plan;
    plan.error = "The amplifier's address \"" + ip + "\" is not an IPv4 address.";
    return plan;
}

bool IsPortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}
} // namespace

bool IsDottedIpv4(const std::string& text) {
    in_addr address{};
    return text.find('\0') == std::string::npos && ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

LaunchPlan PingPlan(const std::string& ip) {
    if (!IsDottedIpv4(ip)) return Refused(ip);
    LaunchPlan plan;
    plan.argv = {"ping", ip};
    return plan;
}

LaunchPlan TelnetPlan(const std::string& ip, const std::string& portText) {
    if (!IsDottedIpv4(ip)) return Refused(ip);
    const std::string port = TrimText(portText);
    LaunchPlan plan;
    if (!port.empty() && !IsPortNumber(port)) {
        plan.error = "\"" + portText + "\" is not a TCP port (1 to 65535).";
        return plan;
    }
    plan.argv = {"telnet", ip};
    if (!port.empty()) plan.argv.push_back(port);
    return plan;
}

LaunchPlan WebPlan(const std::string& ip) {
    if (!IsDottedIpv4(ip)) return Refused(ip);
    LaunchPlan plan;
    plan.url = "http://" + ip;
    return plan;
}
