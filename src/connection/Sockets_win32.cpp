#include "connection/Sockets.h"

#include "connection/Winsock.h"
#include "platform/System.h"

#include <mutex>

namespace {
void SetOption(SOCKET socket, int level, int name, int value = 1) {
    ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value);
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

// Sockets are not inherited by programs this one starts (the launches, a test's simulator).
int Adopted(SOCKET s) {
    if (s == INVALID_SOCKET) {
        TakeSocketError();
        return NoSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<int>(s);
}

void SetNonBlocking(SOCKET s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}

void SetNoDelayAndKeepAlive(SOCKET s) {
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
}

// Binds s to the endpoint; closes it and gives NoSocket when that fails.
int Bound(int s, const Ipv4Endpoint& local) {
    const sockaddr_in bound = MakeAddress(local);
    if (::bind(SocketOf(s), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0) return s;
    TakeSocketError();
    ::closesocket(SocketOf(s));
    return NoSocket;
}
} // namespace

namespace socket_parts {
// Winsock is started once and left running: its release at the last user would make a socket that
// another thread is still closing fail, and the process's end releases it anyway.
void StartLayer() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
}

int OpenStream() {
    const int s = Adopted(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s == NoSocket) return NoSocket;
    SetNonBlocking(SocketOf(s));
    SetNoDelayAndKeepAlive(SocketOf(s));
    return s;
}

int StartConnect(int socket, const Ipv4Endpoint& peer) {
    const sockaddr_in address = MakeAddress(peer);
    if (::connect(SocketOf(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return 1;
    TakeSocketError();
    return errno == EAGAIN ? 0 : -1; // a non-blocking connect under way says "would block" here
}

int ConnectError(int socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(SocketOf(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return ::WSAGetLastError();
    return error;
}

int ResolveAll(const std::string& name, std::vector<uint32_t>& addresses) {
    StartLayer(); // a lookup may come before any transport started Winsock
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
    return WSAHOST_NOT_FOUND;
}

// getaddrinfo's codes on Windows are Winsock codes, which the system's message table knows.
std::string LookupErrorText(int code) {
    return GetSystemErrorText(code);
}

int OpenListener(const Ipv4Endpoint& local) {
    const int s = Adopted(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s == NoSocket) return NoSocket;
    // Windows' SO_REUSEADDR would let a second program take the port: exclusive use is its way of
    // a listener that a restart can take again at once.
    SetOption(SocketOf(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE);
    if (Bound(s, local) == NoSocket) return NoSocket;
    if (::listen(SocketOf(s), 5) != 0) {
        TakeSocketError();
        ::closesocket(SocketOf(s));
        return NoSocket;
    }
    return s;
}

int OpenDatagram(const Ipv4Endpoint& local) {
    const int s = Adopted(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (s == NoSocket) return NoSocket;
    SetOption(SocketOf(s), SOL_SOCKET, SO_BROADCAST);
    SetOption(SocketOf(s), SOL_SOCKET, SO_REUSEADDR);
    SetNonBlocking(SocketOf(s));
    return Bound(s, local);
}

bool QueryEndpoint(int socket, bool peer, Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    int length = sizeof address;
    auto* name = reinterpret_cast<sockaddr*>(&address);
    const SOCKET s = SocketOf(socket);
    if ((peer ? ::getpeername(s, name, &length) : ::getsockname(s, name, &length)) != 0) return false;
    endpoint = EndpointOf(address);
    return true;
}
} // namespace socket_parts

int TcpAccept(int listenSocket, std::string& peer) {
    sockaddr_in from{};
    int length = sizeof from;
    const int s = Adopted(::accept(SocketOf(listenSocket), reinterpret_cast<sockaddr*>(&from), &length));
    if (s == NoSocket) return NoSocket;
    SetNoDelayAndKeepAlive(SocketOf(s));
    peer = EndpointText(EndpointOf(from));
    return s;
}

void CloseSocket(int socket) {
    if (socket != NoSocket) ::closesocket(SocketOf(socket));
}

// Windows has no "don't wait" flag: every socket made here is non-blocking, and a wait ties it to
// an event, which keeps it so.
long SocketSend(int socket, const void* data, size_t size) {
    const int n = ::send(SocketOf(socket), static_cast<const char*>(data), static_cast<int>(size), 0);
    return n >= 0 ? n : TakeSocketError();
}

long SocketReceive(int socket, void* buffer, size_t size) {
    const int n = ::recv(SocketOf(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
    return n >= 0 ? n : TakeSocketError();
}

long SocketSendTo(int socket, const void* data, size_t size, const Ipv4Endpoint& to) {
    const sockaddr_in address = MakeAddress(to);
    const int n = ::sendto(SocketOf(socket), static_cast<const char*>(data), static_cast<int>(size), 0,
                           reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return n >= 0 ? n : TakeSocketError();
}

long SocketReceiveFrom(int socket, void* buffer, size_t size, Ipv4Endpoint& from) {
    sockaddr_in address{};
    int length = sizeof address;
    const int n = ::recvfrom(SocketOf(socket), static_cast<char*>(buffer), static_cast<int>(size), 0,
                             reinterpret_cast<sockaddr*>(&address), &length);
    // A datagram longer than the buffer arrives cut, as on Linux.
    if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) {
        from = EndpointOf(address);
        return static_cast<long>(size);
    }
    if (n >= 0) from = EndpointOf(address);
    return n >= 0 ? n : TakeSocketError();
}

void SetReceiveBuffer(int socket, int bytes) {
    SetOption(SocketOf(socket), SOL_SOCKET, SO_RCVBUF, bytes);
}

void ShutdownSending(int socket) {
    ::shutdown(SocketOf(socket), SD_SEND);
}
