#include "SimConfig.h"

#include <cstdlib>
#include <sstream>

namespace gpibsim {
namespace {

constexpr int kFirstDeviceAddress = 1;
constexpr int kLastDeviceAddress = 30;

std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A decimal number of one to three digits; -1 when it is not one.
int SmallNumber(const std::string& text) {
    if (text.empty() || text.size() > 3) return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool EntryNames(const std::string& entry, int adapter, int address) {
    const auto colon = entry.find(':');
    if (colon == std::string::npos) return false;
    if (SmallNumber(Trimmed(entry.substr(0, colon))) != adapter) return false;
    const std::string addressText = Trimmed(entry.substr(colon + 1));
    if (addressText == "*") return address >= kFirstDeviceAddress && address <= kLastDeviceAddress;
    return SmallNumber(addressText) == address;
}

} // namespace

bool DeviceListHas(const std::string& list, int adapter, int address) {
    std::istringstream entries(list);
    std::string entry;
    while (std::getline(entries, entry, ','))
        if (EntryNames(entry, adapter, address)) return true;
    return false;
}

bool DeviceAnswers(int adapter, int address) {
    return DeviceListHas(Env("CORVANE_GPIBSIM_DEVICES", "0:*"), adapter, address);
}

std::string SrqTrigger() {
    return Env("CORVANE_GPIBSIM_SRQ_ON", "*OPC");
}

std::chrono::milliseconds SrqDelay() {
    const std::string text = Env("CORVANE_GPIBSIM_SRQ_DELAY_MS", "10");
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0) return std::chrono::milliseconds(10);
    return std::chrono::milliseconds(value);
}

} // namespace gpibsim
