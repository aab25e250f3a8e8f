#include "LoopbackPeer.h"

#include "connection/FdIo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {
constexpr int PeerTimeoutMs = 5000;
} // namespace

LoopbackPeer::LoopbackPeer() {
    SocketStartup();
    listener_ = TcpListen(0, "127.0.0.1");
    Ipv4Endpoint local;
    if (LocalEndpoint(listener_, local)) port_ = local.port;
}

LoopbackPeer::~LoopbackPeer() {
    Join();
    for (const int c : connections_)
        CloseSocket(c);
    CloseSocket(listener_);
    SocketCleanup();
}

void LoopbackPeer::Serve(std::function<void(LoopbackPeer&)> serve) {
    thread_ = std::thread([this, serve = std::move(serve)] { serve(*this); });
}

void LoopbackPeer::Join() {
    if (thread_.joinable()) thread_.join();
}

int LoopbackPeer::Accept() {
    std::string from;
    if (WaitReadable(listener_, never_, PeerTimeoutMs) != WaitResult::Ready) return -1;
    const int s = TcpAccept(listener_, from);
    if (s == NoSocket) return -1;
    connections_.push_back(s);
    return static_cast<int>(connections_.size()) - 1;
}

std::string LoopbackPeer::Read(int c, size_t count) {
    std::string bytes;
    char buffer[4096];
    while (c >= 0 && connections_[c] != NoSocket && bytes.size() < count) {
        if (WaitReadable(connections_[c], never_, PeerTimeoutMs) != WaitResult::Ready) break;
        const long n = SocketReceive(connections_[c], buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

void LoopbackPeer::Send(int c, std::string_view bytes) {
    if (c >= 0 && connections_[c] != NoSocket)
        SendWithin(connections_[c], bytes.data(), bytes.size(), PeerTimeoutMs, never_);
}

void LoopbackPeer::Hangup(int c) {
    if (c < 0) return;
    CloseSocket(connections_[c]);
    connections_[c] = NoSocket;
}

std::string Hex(std::string_view digits) {
    std::string bytes, pair;
    for (const char d : digits) {
        if (d == ' ') continue;
        pair += d;
        if (pair.size() < 2) continue;
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
        pair.clear();
    }
    return bytes;
}

std::string ToHex(std::string_view bytes) {
    std::string digits;
    char two[3];
    for (const char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(b));
        digits += two;
    }
    return digits;
}

bool MatchesHex(std::string_view bytes, std::string_view pattern) {
    const std::string got = ToHex(bytes);
    size_t at = 0;
    for (const char p : pattern) {
        if (p == ' ') continue;
        if (at >= got.size() || (p != 'x' && std::tolower(p) != got[at])) return false;
        ++at;
    }
    return at == got.size();
}

std::string Hex32(uint32_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", value);
    return digits;
}
