#pragma once
// Simulated amplifiers answering the finder's discovery hello ("0 1 A") on UDP port 8001: each hello
// gets one reply datagram per simulated amplifier, "MAC 1 IP NETMASK FIRMWARE NAME", sent back to
// the hello's sender (or, as some amplifiers do, broadcast on the interface the hello came in on).
// Every amplifier has its own MAC, IP and name, numbered from a first one.
//
// The socket listens on all addresses of port 8001 (a hello is a broadcast to 255.255.255.255, which
// a socket bound to one unicast address never sees) and sends its replies from the given local
// address, so the finder sees them come from ADDRESS:8001. Single-threaded; the server calls it from
// its poll loop.
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <utility>
#include <vector>

namespace ampsim {

struct DiscoveryOptions {
    std::string address;    // the local address to answer on; empty: no discovery
    unsigned amps = 1;      // how many amplifiers answer (1 to 1000)
    unsigned firstAmp = 1;  // the number of the first one
    bool broadcast = false; // reply to 255.255.255.255:8001 out of the hello's interface
};

// The reply line of amplifier number n (1-based), whose IP is address + (n - 1).
std::string DiscoveryReply(const std::string& address, unsigned n);

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(DiscoveryOptions options) : options_(std::move(options)) {}
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    // Binds port 8001; "udp ADDRESS:8001" is the announcement. False with error on failure.
    bool Open(std::string& error);
    const std::string& Announcement() const { return announcement_; }
    int Fd() const { return fd_; }
    // Reads what is waiting and answers each hello.
    void Handle();

private:
    void Answer(const sockaddr_in& to, int arrivalInterface);

    DiscoveryOptions options_;
    int fd_ = -1;
    in_addr local_{};
    std::vector<std::string> replies_;
    std::string announcement_;
};

} // namespace ampsim
