#pragma once
// The portmapper's GETPORT over UDP port 111, as LXI instruments answer the broadcast by which
// VXI-11 clients find them: a call comes as one datagram (no record marking) and is answered with
// one datagram to its sender, naming the core channel's port. Each simulated amplifier answers
// from its own address (ADDRESS + n - 1, as the discovery replies number them, which must be
// addresses of this host): all of them a broadcast call, only the one addressed a unicast call.
//
// The socket listens on all addresses of port 111 (a broadcast never reaches a socket bound to one
// unicast address on Linux). Single-threaded; the server calls it from its poll loop; the socket
// is PktinfoSocket's.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "Io.h"

namespace ampsim {

inline constexpr std::uint16_t kPortmapperPort = 111;

struct UdpPortmapperOptions {
    std::string address;        // the first amplifier's address
    unsigned amps = 1;          // how many answer, from consecutive addresses
    std::uint16_t corePort = 0; // what GETPORT names for DEVICE_CORE version 1 over TCP
    bool garbled = false;       // answer with a reply cut short, as a broken instrument might
};

// The reply datagram to one call datagram; empty for what is no portmapper call (it goes
// unanswered, as a broadcast's errors do).
std::string AnswerPortmapCall(std::string_view datagram, std::uint16_t corePort, bool garbled);

class UdpPortmapper {
public:
    explicit UdpPortmapper(UdpPortmapperOptions options) : options_(std::move(options)) {}
    ~UdpPortmapper();
    UdpPortmapper(const UdpPortmapper&) = delete;
    UdpPortmapper& operator=(const UdpPortmapper&) = delete;

    // Binds port 111; "portmap-udp ADDRESS:111" is the announcement. False with error on failure.
    bool Open(std::string& error);
    const std::string& Announcement() const { return announcement_; }
    IoHandle Socket() const { return socket_; }
    // Reads what is waiting and answers each call.
    void Handle();

private:
    // Whether the amplifier at address answers a call sent to destination (both host byte order):
    // every one answers a broadcast, only the one addressed a unicast call.
    static bool Answers(std::uint32_t address, std::uint32_t destination, bool unicast) {
        return !unicast || destination == address;
    }

    UdpPortmapperOptions options_;
    IoHandle socket_ = kNoHandle;
    std::uint32_t first_ = 0; // the first amplifier's address, host byte order
    std::string announcement_;
};

} // namespace ampsim
