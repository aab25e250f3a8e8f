#include "UdpPortmapper.h"
// winsock2.h before anything that includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mswsock.h>

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

// The reply leaves from the amplifier's own address (IP_PKTINFO's ipi_addr is the source on
// sending), so the client sees each amplifier as a host of its own.
void SendFrom(SOCKET socket, const std::string& reply, sockaddr_in to, std::uint32_t from) {
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSABUF data{static_cast<ULONG>(reply.size()), const_cast<char*>(reply.data())};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&to);
    message.namelen = sizeof to;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = htonl(from);
    std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    DWORD sent = 0;
    ::WSASendMsg(socket, &message, 0, &sent, nullptr, nullptr);
}

// Port 111 of every address, for broadcasts; SO_REUSEADDR lets several ampsim processes share it.
// Without SIO_UDP_CONNRESET off, a client gone before its answer came would make the next receive
// fail with WSAECONNRESET.
bool Bind(SOCKET socket, int& err) {
    BOOL one = TRUE;
    const char* on = reinterpret_cast<const char*>(&one);
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, on, sizeof one);
    ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, on, sizeof one);
    ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, on, sizeof one);
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    u_long nonBlocking = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kPortmapperPort);
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        ::bind(socket, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        err = ::WSAGetLastError();
        return false;
    }
    return true;
}

} // namespace

UdpPortmapper::~UdpPortmapper() {
    CloseIo(socket_);
}

bool UdpPortmapper::Open(std::string& error) {
    in_addr first{};
    if (::inet_pton(AF_INET, options_.address.c_str(), &first) != 1) {
        error = "--portmapper-udp: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    first_ = ntohl(first.s_addr);
    SOCKET socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        error = SysError("socket", ::WSAGetLastError());
        return false;
    }
    socket_ = static_cast<IoHandle>(socket);
    if (int err = 0; !Bind(socket, err)) {
        error = SysError("udp bind port 111", err);
        return false;
    }
    announcement_ = "portmap-udp " + options_.address + ":" + std::to_string(kPortmapperPort);
    return true;
}

// A datagram longer than the buffer fails with WSAEMSGSIZE (and is gone): it is no GETPORT.
void UdpPortmapper::Handle() {
    const SOCKET socket = Sock(socket_);
    const LPFN_WSARECVMSG receive = ReceiveFunction(socket);
    for (;;) {
        char data[512];
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
        sockaddr_in from{};
        WSABUF buffer{sizeof data, data};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &buffer;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD n = 0;
        if (!receive || receive(socket, &message, &n, nullptr, nullptr) != 0) {
            if (receive && ::WSAGetLastError() == WSAEMSGSIZE) continue;
            return; // WSAEWOULDBLOCK: all read; anything else: try again at the next poll
        }
        IN_PKTINFO arrival{};
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                std::memcpy(&arrival, WSA_CMSG_DATA(c), sizeof arrival);
        const std::string reply = AnswerPortmapCall({data, n}, options_.corePort, options_.garbled);
        if (reply.empty()) continue;
        // Windows tells only the destination: a call to one of the amplifiers' addresses is taken
        // for a unicast call, any other for a broadcast.
        const std::uint32_t destination = ntohl(arrival.ipi_addr.s_addr);
        const bool unicast = destination - first_ < options_.amps;
        for (unsigned i = 0; i < options_.amps; ++i)
            if (Answers(first_ + i, destination, unicast)) SendFrom(socket, reply, from, first_ + i);
    }
}

} // namespace ampsim
