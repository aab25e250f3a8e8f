#include "connection/SerialPortList.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace fs = std::filesystem;

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

// Serial-core ports report their UART type; 0 is a slot with no UART behind it.
bool IsUnknownUart(const fs::path& tty) {
    std::ifstream file(tty / "type");
    int type = -1;
    return file >> type && type == 0;
}

bool IsPort(const fs::path& tty) {
    std::error_code error;
    return fs::exists(tty / "device", error) && !IsUnknownUart(tty);
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

std::vector<std::string> ListSerialPorts(const std::string& sysfsRoot) {
    std::vector<std::string> ports;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        if (IsPort(it->path())) ports.push_back(it->path().filename().string());
    }
    std::sort(ports.begin(), ports.end(), NaturalLess);
    return ports;
}
