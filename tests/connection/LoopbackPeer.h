#pragma once
// A loopback TCP listener (127.0.0.1, a port of the system's choosing) that a test serves from a
// thread of its own, to play an instrument byte by byte. Built on the project's socket layer, so it
// runs on Windows too.
#include "connection/Sockets.h"
#include "connection/WakeEvent.h"

#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class LoopbackPeer {
public:
    LoopbackPeer();
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }
    // Runs serve on the peer's thread; Join waits for it to end.
    void Serve(std::function<void(LoopbackPeer&)> serve);
    void Join();

    // For serve. The next connection within 5 s: its number, -1 when none came.
    int Accept();
    // count bytes from connection c; fewer when it ends or 5 s pass without a byte.
    std::string Read(int c, size_t count);
    void Send(int c, std::string_view bytes);
    void Hangup(int c);

private:
    int listener_ = NoSocket;
    int port_ = 0;
    std::vector<int> connections_;
    std::thread thread_;
    WakeEvent never_;
};

// Bytes from hex digits; spaces are ignored.
std::string Hex(std::string_view digits);
std::string ToHex(std::string_view bytes);
// Whether bytes are those of pattern, hex digits (spaces ignored) in which 'x' stands for any digit.
bool MatchesHex(std::string_view bytes, std::string_view pattern);
// A 32-bit number as 8 hex digits, big endian.
std::string Hex32(uint32_t value);
