#include "PktinfoSocket.h"
// winsock2.h before anything that includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <iphlpapi.h>
#include <mswsock.h>
#include <vector>

#include "SysError.h"

namespace ampsim {
namespace {

SOCKET Sock(IoHandle handle) {
    return static_cast<SOCKET>(handle);
}

// WSARecvMsg is an extension of the socket's provider, reached through a pointer.
LPFN_WSARECVMSG ReceiveFunction(SOCKET socket) {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD bytes = 0;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                   &bytes, nullptr, nullptr) != 0)
        return nullptr;
    return function;
}

// SO_REUSEADDR lets several ampsim processes share the port, as on POSIX (each sees every
// broadcast). Without SIO_UDP_CONNRESET off, a client gone before its answer came would make the
// next receive fail with WSAECONNRESET; POSIX reports no such thing on an unconnected socket.
bool Bind(SOCKET socket, std::uint16_t port, int& err) {
    BOOL one = TRUE;
    const char* on = reinterpret_cast<const char*>(&one);
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, on, sizeof one);
    ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, on, sizeof one);
    ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, on, sizeof one);
    int room = 1 << 20;
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&room), sizeof room);
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    u_long nonBlocking = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        ::bind(socket, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        err = ::WSAGetLastError();
        return false;
    }
    return true;
}

} // namespace

bool OpenPktinfoSocket(std::uint16_t port, IoHandle& socket, std::string& error) {
    SOCKET made = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (made == INVALID_SOCKET) {
        error = SysError("socket", ::WSAGetLastError());
        return false;
    }
    if (int err = 0; !Bind(made, port, err)) {
        error = SysError("udp bind port " + std::to_string(port), err);
        ::closesocket(made);
        return false;
    }
    if (!ReceiveFunction(made)) {
        error = SysError("WSARecvMsg", ::WSAGetLastError());
        ::closesocket(made);
        return false;
    }
    socket = static_cast<IoHandle>(made);
    return true;
}

// A datagram longer than the buffer fails with WSAEMSGSIZE (and is gone).
bool ReceiveArrival(IoHandle socket, std::size_t maxBytes, UdpArrival& arrival) {
    // Every socket here is an IPv4 UDP socket of one provider, whose WSARecvMsg OpenPktinfoSocket
    // checked: the pointer is looked up once, not per datagram.
    static const LPFN_WSARECVMSG receive = ReceiveFunction(Sock(socket));
    if (!receive) return false;
    for (;;) {
        arrival.data.resize(maxBytes);
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
        sockaddr_in from{};
        WSABUF buffer{static_cast<ULONG>(maxBytes), arrival.data.data()};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &buffer;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD n = 0;
        if (receive(Sock(socket), &message, &n, nullptr, nullptr) != 0) {
            if (::WSAGetLastError() == WSAEMSGSIZE) continue;
            return false; // WSAEWOULDBLOCK: all read; anything else: try again at the next poll
        }
        arrival.data.resize(n);
        IN_PKTINFO info{};
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
        arrival.fromAddress = ntohl(from.sin_addr.s_addr);
        arrival.fromPort = ntohs(from.sin_port);
        arrival.destination = ntohl(info.ipi_addr.s_addr);
        arrival.localAddress = 0; // Windows tells only the destination
        arrival.interfaceIndex = info.ipi_ifindex;
        return true;
    }
}

// IP_PKTINFO's ipi_addr is the source on sending. Wine (8.0) drops the control data of
// WSASendMsg: there an answer leaves from the address the route picks, and a broadcast goes where
// the route to 255.255.255.255 leads (nowhere without a default route).
void SendFrom(IoHandle socket, const std::string& data, std::uint32_t toAddress, std::uint16_t toPort,
              std::uint32_t fromAddress, unsigned outInterface) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(toAddress);
    to.sin_port = htons(toPort);
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSABUF buffer{static_cast<ULONG>(data.size()), const_cast<char*>(data.data())};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&to);
    message.namelen = sizeof to;
    message.lpBuffers = &buffer;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = htonl(fromAddress);
    info.ipi_ifindex = outInterface;
    std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    DWORD sent = 0;
    ::WSASendMsg(Sock(socket), &message, 0, &sent, nullptr, nullptr);
}

bool IsLocalAddress(std::uint32_t address) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int i = 0; i < 4 && rc == ERROR_BUFFER_OVERFLOW; ++i) {
        buffer.resize(size);
        rc = ::GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) return false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next)
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (unicast->Address.lpSockaddr->sa_family == AF_INET &&
                ntohl(reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr) ==
                    address)
                return true;
    return false;
}

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

} // namespace ampsim
