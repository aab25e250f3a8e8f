#include "Discovery.h"

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

// Whether an adapter of this host holds address (network byte order).
bool IsLocal(std::uint32_t address) {
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
                reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr == address)
                return true;
    return false;
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

// A socket bound to port 8001 of every address, for broadcasts. SO_REUSEADDR lets several ampsim
// processes share the port, as on POSIX (each sees every broadcast hello). Without
// SIO_UDP_CONNRESET off, a finder gone before its replies came would make the next receive fail
// with WSAECONNRESET; POSIX reports no such thing on an unconnected socket.
bool BindDiscoverySocket(SOCKET socket, int& err) {
    BOOL one = TRUE;
    const char* on = reinterpret_cast<const char*>(&one);
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, on, sizeof one);
    ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, on, sizeof one);
    ::setsockopt(socket, IPPROTO_IP, IP_PKTINFO, on, sizeof one);
    int room = 1 << 20; // a burst of replies for hundreds of amplifiers
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&room), sizeof room);
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    u_long nonBlocking = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kDiscoveryPort);
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0 ||
        ::bind(socket, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        err = ::WSAGetLastError();
        return false;
    }
    return true;
}

// Each reply leaves from the given address (IP_PKTINFO's ipi_addr is the source on sending), not
// from whatever address the route to the finder would pick; a broadcast reply leaves by the
// interface the hello came in on. Wine (8.0) drops the control data of WSASendMsg: there a reply
// leaves from the address the route picks, and a broadcast reply goes where the route to
// 255.255.255.255 leads (nowhere without a default route).
void SendReply(SOCKET socket, const std::string& reply, sockaddr_in to, std::uint32_t local,
               ULONG outInterface) {
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
    info.ipi_addr.s_addr = local;
    info.ipi_ifindex = outInterface;
    std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    DWORD sent = 0;
    ::WSASendMsg(socket, &message, 0, &sent, nullptr, nullptr);
}

} // namespace

DiscoveryResponder::~DiscoveryResponder() {
    CloseIo(socket_);
}

bool DiscoveryResponder::Open(std::string& error) {
    in_addr local{};
    if (::inet_pton(AF_INET, options_.address.c_str(), &local) != 1) {
        error = "--discovery: not an IPv4 address: '" + options_.address + "'";
        return false;
    }
    if (!IsLocal(local.s_addr)) {
        error = "--discovery: no local interface has the address " + options_.address;
        return false;
    }
    local_ = local.s_addr;
    SOCKET socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        error = SysError("socket", ::WSAGetLastError());
        return false;
    }
    socket_ = static_cast<IoHandle>(socket);
    if (int err = 0; !BindDiscoverySocket(socket, err)) {
        error = SysError("udp bind port 8001", err);
        return false;
    }
    if (!ReceiveFunction(socket)) {
        error = SysError("WSARecvMsg", ::WSAGetLastError());
        return false;
    }
    Prepare(ntohl(local.s_addr));
    return true;
}

// A datagram longer than the buffer fails with WSAEMSGSIZE (and is gone): it is no hello.
void DiscoveryResponder::Handle() {
    const SOCKET socket = Sock(socket_);
    const LPFN_WSARECVMSG receive = ReceiveFunction(socket);
    for (;;) {
        char data[64];
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
        if (n != sizeof kDiscoveryHello - 1 || std::memcmp(data, kDiscoveryHello, n) != 0) continue;
        ULONG arrival = 0;
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c; c = WSA_CMSG_NXTHDR(&message, c)) {
            IN_PKTINFO info{};
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
                arrival = info.ipi_ifindex;
            }
        }
        sockaddr_in to = from;
        if (options_.broadcast) {
            to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            to.sin_port = htons(kDiscoveryPort);
        }
        for (const std::string& reply : replies_)
            SendReply(socket, reply, to, local_, options_.broadcast ? arrival : 0);
    }
}

} // namespace ampsim
