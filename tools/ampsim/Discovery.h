#pragma once
// Simulated amplifiers answering the finder's discovery hello ("0 1 A") on UDP port 8001: each hello
// gets one reply datagram per simulated amplifier, "MAC 1 IP NETMASK FIRMWARE NAME", sent back to
// the hello's sender (or, as some amplifiers do, broadcast on the interface the hello came in on).
// Every amplifier has its own MAC, IP and name, numbered from a first one.
//
// The socket listens on all addresses of port 8001 (a hello is a broadcast to 255.255.255.255, which
// a socket bound to one unicast address never sees) and sends its replies from the given local
// address, so the finder sees them come from ADDRESS:8001. Single-threaded; the server calls it from
// its poll loop; the socket is PktinfoSocket's.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Io.h"

namespace ampsim {

struct DiscoveryOptions {
    std::string address;    // the local address to answer on; empty: no discovery
    unsigned amps = 1;      // how many amplifiers answer (1 to 1000)
    unsigned firstAmp = 1;  // the number of the first one
    bool broadcast = false; // reply to 255.255.255.255:8001 out of the hello's interface
};

inline constexpr std::uint16_t kDiscoveryPort = 8001;
inline constexpr char kDiscoveryHello[] = "0 1 A";

// The reply line of amplifier number n (1-based), whose IP is address + (n - 1); the address as a
// number, its first octet highest.
std::string DiscoveryReply(std::uint32_t address, unsigned n);

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(DiscoveryOptions options) : options_(std::move(options)) {}
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds port 8001; "udp ADDRESS:8001" is the announcement. False with error on failure.
    bool Open(std::string& error);
    const std::string& Announcement() const { return announcement_; }
    IoHandle Socket() const { return socket_; }
    // Reads what is waiting and answers each hello.
    void Handle();

private:
    // The replies and the announcement, once the address is known to be local.
    void Prepare(std::uint32_t address);

    DiscoveryOptions options_;
    IoHandle socket_ = kNoHandle;
    std::uint32_t local_ = 0; // the local address, host byte order
    std::vector<std::string> replies_;
    std::string announcement_;
};

} // namespace ampsim
