#include "connection/Sockets.h"

#include "platform/IntegerText.h"
#include "text/Strtools.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<int> socketUsers{0};

void SetOption(int socket, int level, int name) {
    int on = 1;
    ::setsockopt(socket, level, name, &on, sizeof on);
}

bool ParseDotted(const std::string& text, in_addr& address) {
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

sockaddr_in MakeAddress(in_addr host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = host;
    address.sin_port = htons(port);
    return address;
}
} // namespace

void SocketStartup() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
    ++socketUsers;
}

void SocketCleanup() {
    --socketUsers;
}

int SocketUsers() {
    return socketUsers.load();
}

bool LookupHost(const std::string& name, in_addr& address) {
    if (ParseDotted(name, address)) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

int TcpConnect(const std::string& params) {
    std::string host, portText;
    SplitAtFirst(params, host, ":", portText);
    auto port = static_cast<uint16_t>(LeadingInt(portText));
    in_addr address{};
    if (!LookupHost(host, address)) return NoSocket;
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
    sockaddr_in peer = MakeAddress(address, port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        ::close(s);
        return NoSocket;
    }
    return s;
}

int TcpListen(int port, const std::string& address) {
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && !ParseDotted(address, local)) return NoSocket;
    if (port < 0 || port > 65535) return NoSocket;
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_REUSEADDR);
    sockaddr_in bound = MakeAddress(local, static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || ::listen(s, 5) != 0) {
        ::close(s);
        return NoSocket;
    }
    return s;
}

int TcpAccept(int listenSocket, std::string& peer) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    int s = ::accept4(listenSocket, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
    peer = SocketAddressText(from);
    return s;
}

int UdpOpen(int port, const std::string& address) {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_BROADCAST);
    SetOption(s, SOL_SOCKET, SO_REUSEADDR);
    in_addr local{};
    bool ok = ParseDotted(address, local) && port >= 0 && port <= 65535;
    sockaddr_in bound = MakeAddress(local, static_cast<uint16_t>(port));
    if (!ok || ::bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) {
        ::close(s);
        return NoSocket;
    }
    return s;
}

void CloseSocket(int socket) {
    if (socket != NoSocket) ::close(socket);
}

std::string SocketAddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}
