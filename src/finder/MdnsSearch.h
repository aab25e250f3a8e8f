#pragma once
// The finder's mDNS search: LXI instruments announce their services by DNS-SD over multicast DNS,
// and the search browses and resolves those services through the system's mDNS daemon. On Linux
// that is Avahi (MdnsSearch_avahi.cpp, through its client library on a thread of Avahi's own); a
// build without Avahi's client library, Windows among them, has no mDNS search
// (MdnsSearch_none.cpp).
//
// Only IPv4 is searched, and only on the interface of the local address the search starts from.
// A service that is withdrawn is not reported: a sink has no removal, and an instrument whose
// announcement has gone may still answer on its port.
#include "finder/InstrumentSearch.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The service types that instruments announce, as DNS-SD names them.
constexpr std::array<const char*, 5> MdnsServiceTypes{"_lxi._tcp", "_vxi-11._tcp", "_scpi-raw._tcp",
                                                      "_scpi-telnet._tcp", "_hislip._tcp"};

// HiSLIP's registered port: a HiSLIP resource names its port only when it is another.
constexpr int HislipPort = 4880;

// A service as the mDNS daemon resolved it.
struct MdnsService {
    std::string type;     // "_scpi-raw._tcp"
    std::string instance; // the service's instance name, "Bench Amp 3"
    std::string address;  // dotted IPv4
    int port = 0;
    // The TXT record's key and value pairs as the daemon split them; a key without "=" has an
    // empty value.
    std::vector<std::pair<std::string, std::string>> txt;
};

// The finder's row for a resolved service. Its name is the instrument's identification when the
// TXT record carries LXI's keys (Manufacturer, Model, SerialNumber, FirmwareVersion, read without
// regard to case as DNS-SD keys are, joined with commas as *IDN? answers), else the instance name.
// None for a type the search does not browse, and for port 0, which DNS-SD uses for a name held
// by a service that is not offered.
std::optional<FoundInstrument> InstrumentOfService(const MdnsService& service);

// A new mDNS search, not started; none where this build has no mDNS (then the finder offers no
// mDNS search). Start reports a missing daemon as a Note and returns false; a daemon that stops
// during the search is a Note too, and the search then finds nothing more. Start asks the daemon a
// few questions over the local D-Bus system bus and returns; findings come on Avahi's thread. Stop
// waits for that thread to end, so a sink must never wait for the thread that calls Stop.
std::unique_ptr<InstrumentSearch> MakeMdnsSearch();
