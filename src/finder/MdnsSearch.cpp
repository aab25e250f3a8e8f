// What a resolved service means to the finder, the same on every system; the daemon's side is in
// MdnsSearch_avahi.cpp.
#include "finder/MdnsSearch.h"

#include <algorithm>
#include <cctype>

namespace {
bool SameKey(const std::string& a, const char* b) {
    return std::equal(a.begin(), a.end(), b, b + std::char_traits<char>::length(b), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string TxtValue(const MdnsService& service, const char* key) {
    for (const auto& [name, value] : service.txt)
        if (SameKey(name, key)) return value;
    return "";
}

// The LXI identification in *IDN? form; empty when the record names neither maker nor model.
std::string Identification(const MdnsService& service) {
    if (TxtValue(service, "Manufacturer").empty() && TxtValue(service, "Model").empty()) return "";
    std::string text;
    for (const char* key : {"Manufacturer", "Model", "SerialNumber", "FirmwareVersion"}) {
        const std::string value = TxtValue(service, key);
        if (value.empty()) continue;
        if (!text.empty()) text += ',';
        text += value;
    }
    return text;
}

// The resource as VisaResource.h reads it; empty for a type the search does not browse.
std::string VisaOfService(const MdnsService& service) {
    const std::string host = "TCPIP::" + service.address + "::";
    const std::string& type = service.type;
    if (type == "_scpi-raw._tcp" || type == "_scpi-telnet._tcp")
        return host + std::to_string(service.port) + "::SOCKET";
    if (type == "_vxi-11._tcp" || type == "_lxi._tcp") return host + "inst0::INSTR";
    if (type == "_hislip._tcp")
        return host + "hislip0" + (service.port == HislipPort ? "" : "," + std::to_string(service.port)) +
               "::INSTR";
    return "";
}
} // namespace

std::optional<FoundInstrument> InstrumentOfService(const MdnsService& service) {
    FoundInstrument found;
    found.visa = VisaOfService(service);
    if (found.visa.empty() || service.port <= 0 || service.port > 65535) return std::nullopt;
    found.name = Identification(service);
    if (found.name.empty()) found.name = service.instance;
    found.address = service.address;
    found.how = "mDNS " + service.type;
    // The type holds no "/" and the address no "@", so no two services share a key.
    found.key = service.type + "/" + service.instance + "@" + service.address;
    return found;
}
