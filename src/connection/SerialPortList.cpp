// The port list's order and the names offered, alike on every system; the listing itself is in
// SerialPortList_posix.cpp and SerialPortList_win32.cpp.
#include "connection/SerialPortList.h"

#include <string_view>

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits starting at i, without leading zeros.
std::string_view DigitRun(const std::string& s, size_t& i) {
    size_t start = i;
    while (i < s.size() && IsDigit(s[i]))
        ++i;
    size_t first = start;
    while (first + 1 < i && s[first] == '0')
        ++first;
    return std::string_view(s).substr(first, i - first);
}
} // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::string_view x = DigitRun(a, i), y = DigitRun(b, j);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b; // equal by value ("ttyS01" and "ttyS1"): keep a strict order
}

std::vector<std::string> OfferedPortNames(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> names;
    names.reserve(ports.size() * 2);
    for (const SerialPortInfo& port : ports)
        names.push_back(port.name);
    for (const SerialPortInfo& port : ports) {
        if (!port.stableName.empty()) names.push_back(port.stableName);
    }
    return names;
}
