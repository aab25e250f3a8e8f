#include "connection/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <linux/net_tstamp.h>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void SetOption(int socket, int level, int name, int value = 1) {
    ::setsockopt(socket, level, name, &value, sizeof value);
}

sockaddr_in MakeAddress(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

Ipv4Endpoint EndpointOf(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

void SetNoDelayAndKeepAlive(int s) {
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
    // Received bytes carry the time they came (GuardedFd::ReceiveSome), so a line keeps its
    // arrival time however late it is read.
    const int stamps = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    ::setsockopt(s, SOL_SOCKET, SO_TIMESTAMPING, &stamps, sizeof stamps);
}

// Binds s to the endpoint; closes it and gives NoSocket when that fails.
int Bound(int s, const Ipv4Endpoint& local) {
    const sockaddr_in bound = MakeAddress(local);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0) return s;
    ::close(s);
    return NoSocket;
}
} // namespace

namespace socket_parts {
// A peer that vanishes must make a send fail, not end the program.
void StartLayer() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

int OpenStream() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s >= 0) SetNoDelayAndKeepAlive(s);
    return s < 0 ? NoSocket : s;
}

int StartConnect(int socket, const Ipv4Endpoint& peer) {
    const sockaddr_in address = MakeAddress(peer);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 1;
    return errno == EINPROGRESS ? 0 : -1;
}

int ConnectError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

int ResolveAll(const std::string& name, std::vector<uint32_t>& addresses) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0) return rc;
    for (const addrinfo* a = found; a; a = a->ai_next)
        addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr));
    ::freeaddrinfo(found);
    return 0;
}

int NameNotFound() {
    return EAI_NONAME;
}

std::string LookupErrorText(int code) {
    return ::gai_strerror(code);
}

int OpenListener(const Ipv4Endpoint& local) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_REUSEADDR);
    if (Bound(s, local) == NoSocket) return NoSocket;
    if (::listen(s, 5) != 0) {
        ::close(s);
        return NoSocket;
    }
    return s;
}

int OpenDatagram(const Ipv4Endpoint& local) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return NoSocket;
    SetOption(s, SOL_SOCKET, SO_BROADCAST);
    SetOption(s, SOL_SOCKET, SO_REUSEADDR);
    return Bound(s, local);
}

bool QueryEndpoint(int socket, bool peer, Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    auto* name = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? ::getpeername(socket, name, &length) : ::getsockname(socket, name, &length)) != 0)
        return false;
    endpoint = EndpointOf(address);
    return true;
}
} // namespace socket_parts

int TcpAccept(int listenSocket, std::string& peer) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int s = ::accept4(listenSocket, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (s < 0) return NoSocket;
    SetNoDelayAndKeepAlive(s);
    peer = EndpointText(EndpointOf(from));
    return s;
}

void CloseSocket(int socket) {
    if (socket != NoSocket) ::close(socket);
}

long SocketSend(int socket, const void* data, size_t size) {
    return ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

long SocketReceive(int socket, void* buffer, size_t size) {
    return ::recv(socket, buffer, size, MSG_DONTWAIT);
}

long SocketSendTo(int socket, const void* data, size_t size, const Ipv4Endpoint& to) {
    const sockaddr_in address = MakeAddress(to);
    return ::sendto(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

long SocketReceiveFrom(int socket, void* buffer, size_t size, Ipv4Endpoint& from) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const long n =
        ::recvfrom(socket, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&address), &length);
    if (n >= 0) from = EndpointOf(address);
    return n;
}

void SetReceiveBuffer(int socket, int bytes) {
    SetOption(socket, SOL_SOCKET, SO_RCVBUF, bytes);
}

void ShutdownSending(int socket) {
    ::shutdown(socket, SHUT_WR);
}
