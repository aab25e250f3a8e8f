#include "finder/DiscoverySocket.h"

#include "connection/LocalAddresses.h"
#include "connection/Sockets.h"
#include "connection/Winsock.h"

#include <mswsock.h>

#include <cstring>
#include <vector>

namespace {
// Hundreds of amplifiers answer each hello at once: room for that burst while the window works
// through the answers before it.
constexpr int ReceiveRoom = 1 << 20;

void SetOption(SOCKET s, int level, int name, int value) {
    ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

int BoundSocket(uint32_t address, int port) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return -1;
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    SetOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
    SetOption(s, SOL_SOCKET, SO_BROADCAST, 1);
    SetOption(s, IPPROTO_IP, IP_PKTINFO, 1);
    SetOption(s, SOL_SOCKET, SO_RCVBUF, ReceiveRoom);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::closesocket(s);
        return -1;
    }
    return static_cast<int>(s);
}

// Winsock's recvmsg, which alone carries the arrival interface, is reached through the socket.
LPFN_WSARECVMSG RecvMsgOf(SOCKET s) {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD bytes = 0;
    if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function, &bytes,
                   nullptr, nullptr) != 0)
        return nullptr;
    return function;
}

// The interface a datagram arrived on, from its IP_PKTINFO; 0 when the message carries none.
int ArrivalInterface(WSAMSG& message) {
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        IN_PKTINFO info{};
        std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
        return static_cast<int>(info.ipi_ifindex);
    }
    return 0;
}
} // namespace

bool DiscoverySocket::Open(const std::string& localAddress, int port) {
    Close();
    uint32_t address = 0;
    if (port < 0 || port > 65535 || !ParseDottedIpv4(localAddress, address)) return false;
    SocketStartup();
    const int index = InterfaceIndexOf(address);
    // Windows hands a broadcast to a socket bound to the address of the interface it came in on,
    // so the one socket hears both kinds of answer; a second one on all addresses would only get
    // each broadcast answer twice.
    unicast_ = index == 0 ? -1 : BoundSocket(htonl(address), port);
    if (unicast_ < 0) {
        Close();
        SocketCleanup();
        return false;
    }
    local_ = htonl(address);
    interface_ = index;
    port_ = port;
    return true;
}

void DiscoverySocket::Close() {
    const bool wasOpen = IsOpen();
    for (int* fd : {&unicast_, &broadcast_}) {
        if (*fd >= 0) ::closesocket(SocketOf(*fd));
        *fd = -1;
    }
    if (wasOpen) SocketCleanup();
}

int DiscoverySocket::Broadcast(const void* data, size_t length) {
    if (!IsOpen()) return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(static_cast<uint16_t>(port_));
    const int sent = ::sendto(SocketOf(unicast_), static_cast<const char*>(data), static_cast<int>(length), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? 0 : sent;
}

size_t DiscoverySocket::ReadWaiting(int fd, size_t maxCount, const DataHandler& onData) {
    if (!IsOpen() || (fd != unicast_ && fd != broadcast_)) return 0;
    const LPFN_WSARECVMSG receive = RecvMsgOf(SocketOf(fd));
    if (!receive) return 0;
    size_t count = 0;
    for (; count < maxCount; ++count) {
        char data[MaxDatagram + 1];
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
        sockaddr_in from{};
        WSABUF io{MaxDatagram, data};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &io;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD n = 0;
        if (receive(SocketOf(fd), &message, &n, nullptr, nullptr) != 0) {
            if (::WSAGetLastError() != WSAEMSGSIZE)
                break;       // would block: all read; else the notifier tries again
            n = MaxDatagram; // a longer datagram came cut to MaxDatagram, as on Linux
        }
        if (Keep(fd, from.sin_addr.s_addr, ntohs(from.sin_port), ArrivalInterface(message)))
            onData(std::string(data, n));
    }
    return count;
}
