#pragma once
// What the finder's context menu starts for an amplifier: ping and telnet in a terminal window, the
// web browser on its address. The address comes from a discovery reply, that is from anyone on the
// network, so only a text that is a dotted IPv4 address is ever handed to a program, always as an
// argument of its own.
#include <string>
#include <vector>

struct LaunchPlan {
    std::vector<std::string> argv; // the program and its arguments; empty when refused
    std::string url;               // for the web browser
    std::string error;             // why it was refused; empty when it may start
    bool Ok() const { return error.empty(); }
};

// True for "a.b.c.d" with four decimal parts of 0 to 255 (inet_pton's IPv4 form) and nothing else.
bool IsDottedIpv4(const std::string& text);

// ping <ip>
LaunchPlan PingPlan(const std::string& ip);
// telnet <ip> [<port>]. The port text, blanks around it ignored, is empty (telnet's own default
// port) or a number from 1 to 65535.
LaunchPlan TelnetPlan(const std::string& ip, const std::string& portText);
// http://<ip>
LaunchPlan WebPlan(const std::string& ip);
