#include "Io.h"

// winsock2.h before anything that includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

#include "SysError.h"

namespace ampsim {
namespace {

constexpr int kDrainReads = 16; // bounds the time one closing peer holds the loop

SOCKET Sock(IoHandle handle) {
    return static_cast<SOCKET>(handle);
}

bool MakeNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

void SetNoDelay(SOCKET socket) {
    BOOL one = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

int Chunk(std::size_t size) {
    return size < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(size) : INT_MAX;
}

IoResult Outcome(int n) {
    if (n > 0) return {IoStatus::Data, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::Ended, 0};
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0};
    if (err == WSAEINTR) return {IoStatus::Interrupted, 0};
    return {IoStatus::Failed, 0};
}

// The address to bind: the host's first IPv4 address with the endpoint's port.
bool ResolveEndpoint(const TcpEndpoint& endpoint, sockaddr_in& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (int rc = ::getaddrinfo(endpoint.host.c_str(), nullptr, &hints, &found); rc != 0) {
        error = SysError("tcp " + endpoint.host + ":" + std::to_string(endpoint.port), rc);
        return false;
    }
    address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::freeaddrinfo(found);
    address.sin_port = htons(endpoint.port);
    return true;
}

// Binds and listens; false with the Winsock error code in err.
bool BindAndListen(SOCKET socket, sockaddr_in& address, int& err) {
    int length = sizeof address;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, SOMAXCONN) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !MakeNonBlocking(socket)) {
        err = ::WSAGetLastError();
        return false;
    }
    return true;
}

} // namespace

std::string UnsupportedOption(const Options& options) {
    if (options.pty) return "--pty: Windows has no pseudo-terminals; serve a client with --tcp instead";
    return {};
}

// Winsock stays started for the life of the process. The C runtime would write "\r\n" for each
// "\n" on a text-mode standard output; a parent reads the "ready" line byte for byte.
bool PrepareIo(std::string& error) {
    _setmode(_fileno(stdout), _O_BINARY);
    WSADATA data;
    if (int rc = ::WSAStartup(MAKEWORD(2, 2), &data); rc != 0) {
        error = SysError("WSAStartup", rc);
        return false;
    }
    return true;
}

// No SO_REUSEADDR here: on Windows it would let a second program bind the port this one listens
// on, while a listener may take a port that only closed connections still hold without it (what
// the option buys on POSIX).
IoHandle ListenTcp(const TcpEndpoint& endpoint, std::string& announcement, std::string& error) {
    sockaddr_in address{};
    if (!ResolveEndpoint(endpoint, address, error)) return kNoHandle;
    SOCKET socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        error = SysError("socket", ::WSAGetLastError());
        return kNoHandle;
    }
    if (int err = 0; !BindAndListen(socket, address, err)) {
        error = SysError("tcp " + endpoint.host + ":" + std::to_string(endpoint.port), err);
        ::closesocket(socket);
        return kNoHandle;
    }
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    announcement = "tcp " + std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
    return static_cast<IoHandle>(socket);
}

// A connection reset before it was taken is reported as WSAECONNRESET here.
AcceptResult AcceptClient(IoHandle listener) {
    SOCKET socket = ::accept(Sock(listener), nullptr, nullptr);
    if (socket != INVALID_SOCKET) {
        MakeNonBlocking(socket);
        SetNoDelay(socket);
        return {AcceptStatus::Accepted, static_cast<IoHandle>(socket), {}};
    }
    const int err = ::WSAGetLastError();
    if (err == WSAEINTR || err == WSAECONNRESET) return {AcceptStatus::Again, kNoHandle, {}};
    if (err == WSAEMFILE || err == WSAENOBUFS)
        return {AcceptStatus::Exhausted, kNoHandle, SysError("accept", err)};
    return {};
}

IoHandle OpenPty(std::string&, std::string& error) {
    error = "pty: Windows has no pseudo-terminals";
    return kNoHandle;
}

IoResult ReadSome(IoHandle handle, LinkKind, char* buffer, std::size_t size) {
    return Outcome(::recv(Sock(handle), buffer, Chunk(size), 0));
}

// A write that takes nothing is a failure, not an end.
IoResult WriteSome(IoHandle handle, LinkKind, const char* data, std::size_t size) {
    const int n = ::send(Sock(handle), data, Chunk(size), 0);
    if (n == 0) return {IoStatus::Failed, 0};
    return Outcome(n);
}

void EndSending(IoHandle socket) {
    ::shutdown(Sock(socket), SD_SEND);
    char buffer[4096];
    for (int i = 0; i < kDrainReads; ++i)
        if (::recv(Sock(socket), buffer, sizeof buffer, 0) <= 0) return;
}

void CloseIo(IoHandle handle) {
    if (handle != kNoHandle) ::closesocket(Sock(handle));
}

} // namespace ampsim
