#include "connection/VisaResource.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace {
constexpr char Expected[] =
    "a VISA resource is TCPIP[n]::host::port::SOCKET, TCPIP[n]::host[::instN]::INSTR, "
    "TCPIP[n]::host::hislipN[,port]::INSTR, ASRL[n]::INSTR, ASRL/dev/PATH::INSTR "
    "or GPIB[n]::address::INSTR";

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::vector<std::string> SplitAtDoubleColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find("::", start)) != std::string::npos; start = at + 2)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// A whole decimal number from low to high.
bool NumberIn(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    auto [at, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && at == end && value >= low && value <= high;
}

// The board number after a prefix ("TCPIP0", "GPIB"): none written is 0.
bool Board(const std::string& first, const std::string& prefix, int& board) {
    if (!Upper(first).starts_with(prefix)) return false;
    const std::string rest = first.substr(prefix.size());
    board = 0;
    return rest.empty() || NumberIn(rest, 0, 999, board);
}

bool Fail(std::string& error, const std::string& text) {
    error = "'" + text + "' cannot be read: " + Expected;
    return false;
}

// parts without the board: host, then what the resource class needs.
bool Tcpip(const std::vector<std::string>& parts, std::string& connection) {
    if (parts.size() < 2 || parts[1].empty()) return false;
    const std::string& host = parts[1];
    const std::string kind = Upper(parts.back());
    if (kind == "SOCKET") {
        int port = 0;
        if (parts.size() != 4 || !NumberIn(parts[2], 1, 65535, port)) return false;
        connection = "tcp:" + host + ":" + std::to_string(port);
        return true;
    }
    if (parts.size() == 2 || (kind == "INSTR" && parts.size() == 3)) {
        connection = "vxi11:" + host + ":inst0";
        return true;
    }
    if (kind != "INSTR" || parts.size() != 4 || parts[2].empty()) return false;
    const std::string& device = parts[2];
    if (Upper(device).starts_with("HISLIP")) {
        const size_t comma = device.find(',');
        int port = 0;
        if (comma != std::string::npos && !NumberIn(device.substr(comma + 1), 1, 65535, port)) return false;
        connection = "hislip:" + host + ":" + device;
        return true;
    }
    connection = "vxi11:" + host + ":" + device;
    return true;
}

bool Serial(const std::vector<std::string>& parts, const VisaContext& context, std::string& connection,
            std::string& error) {
    if (parts.size() != 2 || Upper(parts[1]) != "INSTR") return false;
    const std::string& first = parts[0];
    if (first.size() > 4 && first[4] == '/') {
        connection = "com:" + first.substr(4);
        return true;
    }
    int number = 0;
    if (!Board(first, "ASRL", number) || number < 1) return false;
    const std::string port = context.serialPortOfNumber ? context.serialPortOfNumber(number) : std::string();
    if (port.empty()) {
        error = "'" + first + "' names serial port " + std::to_string(number) +
                ", which this machine does not have";
        return false;
    }
    connection = "com:" + port;
    return true;
}

bool Gpib(const std::vector<std::string>& parts, const VisaContext& context, std::string& connection,
          std::string& error) {
    int board = 0, address = 0;
    if (!Board(parts[0], "GPIB", board) || Upper(parts.back()) != "INSTR" || parts.size() < 3) return false;
    if (!NumberIn(parts[1], 0, 30, address)) return false;
    if (parts.size() != 3) {
        error = "'" + parts[0] + "::" + parts[1] + "::" + parts[2] +
                "': secondary addresses are not carried by the GPIB driver binding";
        return false;
    }
    if (context.gpibDriver.empty()) {
        error = "a GPIB resource needs the name of the GPIB driver to load";
        return false;
    }
    connection = "gpib:" + std::to_string(board) + "," + std::to_string(address) + ":" + context.gpibDriver;
    return true;
}
} // namespace

std::string VisaOfInstrument(const std::string& connection) {
    for (const char* kind : {"vxi11:", "hislip:"}) {
        if (!connection.starts_with(kind)) continue;
        const std::string params = connection.substr(std::string(kind).size());
        const size_t colon = params.find(':');
        if (colon == std::string::npos) return "TCPIP::" + params + "::INSTR";
        return "TCPIP::" + params.substr(0, colon) + "::" + params.substr(colon + 1) + "::INSTR";
    }
    return {};
}

bool LooksLikeVisaResource(const std::string& text) {
    return text.find("::") != std::string::npos;
}

bool VisaToConnection(const std::string& text, const VisaContext& context, std::string& connection,
                      std::string& error) {
    const std::vector<std::string> parts = SplitAtDoubleColons(text);
    const std::string first = Upper(parts[0]);
    int board = 0;
    error.clear();
    bool read = false;
    if (Board(parts[0], "TCPIP", board)) {
        read = Tcpip(parts, connection);
    } else if (first.starts_with("ASRL")) {
        read = Serial(parts, context, connection, error);
    } else if (first.starts_with("GPIB")) {
        read = Gpib(parts, context, connection, error);
    }
    if (read) return true;
    return error.empty() ? Fail(error, text) : false;
}
