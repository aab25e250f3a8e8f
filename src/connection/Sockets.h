#pragma once
// Socket functions shared by the TCP transports and the receive thread. A socket is an int (a
// descriptor here, a Winsock handle on Windows, which the system keeps within 32 bits); NoSocket
// (-1) means none. Failures are results, never exceptions (except the port text of a listening
// socket, which the transport converts before calling TcpListen). Where a call fails, errno holds
// the reason on both systems: EAGAIN when it would have to wait, else the system's code, which
// GetSystemErrorText turns into its text.
#include "connection/WakeEvent.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int NoSocket = -1;

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};
constexpr uint32_t Ipv4Broadcast = 0xFFFFFFFF;

// "a.b.c.d" and "a.b.c.d:port".
std::string Ipv4Text(uint32_t address);
std::string EndpointText(const Ipv4Endpoint& endpoint);
// A dotted IPv4 address; false for anything else.
bool ParseDottedIpv4(const std::string& text, uint32_t& address);

// Counted start and release of the socket layer (Winsock's start-up on Windows). On Linux the
// count is kept so a leak of a transport shows in tests, and SIGPIPE is ignored once, since a peer
// that vanishes must make a send fail, not end the program.
void SocketStartup();
void SocketCleanup();
int SocketUsers();

// A dotted IPv4 address is used as it is; any other name is looked up and its first IPv4 address
// taken. False when the lookup fails.
bool LookupHost(const std::string& name, uint32_t& address);
// Every IPv4 address name resolves to, in the resolver's order: 0, or a code that
// socket_parts::LookupErrorText explains. Blocks as long as the resolver does.
int ResolveIpv4(const std::string& name, std::vector<uint32_t>& addresses);

// How a connect may end early, and why it failed.
struct ConnectAttempt {
    const WakeEvent* cancel = nullptr; //!< Signalled by another thread: give up at once.
    int timeoutMs = -1;                //!< For the name lookup and the connect together; -1: no limit.
    std::string reason;                //!< Set on failure: the system's text, "timed out", "cancelled".
};

// "host:port" for an instrument: the port must be a whole number from 1 to 65535 (anything else is
// refused, never wrapped). The name lookup and the connect both give up when attempt.cancel is
// signalled or the time-out passes. The socket is non-blocking, keep-alive and TCP_NODELAY are on.
// NoSocket on any failure, with attempt.reason saying why.
int TcpConnect(const std::string& params, ConnectAttempt& attempt);

// A listening TCP socket on port at address (empty: all interfaces; else a dotted IPv4 address),
// address reuse on, backlog 5. NoSocket on any failure, also for a port outside 0..65535.
int TcpListen(int port, const std::string& address);

// Accepts one connection (keep-alive and TCP_NODELAY on); peer := "a.b.c.d:port".
int TcpAccept(int listenSocket, std::string& peer);

// A UDP socket with broadcast and address reuse on, bound to address (a dotted IPv4 address; an
// empty text is rejected) and port. NoSocket on any failure.
int UdpOpen(int port, const std::string& address);

void CloseSocket(int socket);

// One send or receive that never waits, on a blocking socket too, and never raises a signal.
// Results as send() and recv() give them (0 from a receive: the peer closed).
long SocketSend(int socket, const void* data, size_t size);
long SocketReceive(int socket, void* buffer, size_t size);
long SocketSendTo(int socket, const void* data, size_t size, const Ipv4Endpoint& to);
long SocketReceiveFrom(int socket, void* buffer, size_t size, Ipv4Endpoint& from);

// Sends all of data, waiting for room while the peer takes bytes: gives up when none is taken for
// timeoutMs or wake is signalled. Returns the bytes sent (size when all went), or -1 when the first
// send failed.
long SendWithin(int socket, const void* data, size_t size, int timeoutMs, const WakeEvent& wake);

// The socket's own and its peer's address; false when it has none.
bool LocalEndpoint(int socket, Ipv4Endpoint& endpoint);
bool PeerEndpoint(int socket, Ipv4Endpoint& endpoint);
void SetReceiveBuffer(int socket, int bytes);
// Ends our sending side: the peer reads an end after what was sent.
void ShutdownSending(int socket);

// The pieces the functions above are made of, one per system.
namespace socket_parts {
// What the socket layer needs before first use, done once (SocketStartup counts the users).
void StartLayer();
// A listening TCP socket bound to local (address reuse on, backlog 5), or a UDP socket with
// broadcast and address reuse on bound to local; NoSocket on any failure.
int OpenListener(const Ipv4Endpoint& local);
int OpenDatagram(const Ipv4Endpoint& local);
// The socket's own address or (peer) its peer's; false when the system tells none.
bool QueryEndpoint(int socket, bool peer, Ipv4Endpoint& endpoint);
// A TCP socket, non-blocking, keep-alive and TCP_NODELAY on; NoSocket with errno set.
int OpenStream();
// Starts a connect: 1 done, 0 under way (wait until writable, then ask ConnectError), -1 failed.
int StartConnect(int socket, const Ipv4Endpoint& peer);
// The result of a connect that was under way: 0 or the system's code.
int ConnectError(int socket);
// The name lookup itself: 0, or a code that LookupErrorText explains. NameNotFound is the
// resolver's code for a name it does not know.
int ResolveAll(const std::string& name, std::vector<uint32_t>& addresses);
int NameNotFound();
std::string LookupErrorText(int code);
} // namespace socket_parts
