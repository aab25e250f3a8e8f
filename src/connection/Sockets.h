#pragma once
// Socket functions shared by the TCP transports and the receive thread. A socket is a descriptor;
// NoSocket (-1) means none. Failures are results, never exceptions (except the port text of a
// listening socket, which the transport converts before calling TcpListen).
#include "connection/WakeEvent.h"

#include <cstdint>
#include <netinet/in.h>
#include <string>

constexpr int NoSocket = -1;

// Counted start and release of the socket layer. Linux needs no start-up; the count is kept so a
// leak of a transport shows in tests, and SIGPIPE is ignored once, since a peer that vanishes must
// make a send fail, not end the program.
void SocketStartup();
void SocketCleanup();
int SocketUsers();

// A dotted IPv4 address is used as it is; any other name is looked up and its first IPv4 address
// taken. False when the lookup fails.
bool LookupHost(const std::string& name, in_addr& address);

// "host:port": port is the leading decimal integer of its text taken as 16 bits. Blocking connect
// with keep-alive and TCP_NODELAY. NoSocket on any failure.
int TcpConnect(const std::string& params);

// How a connect may end early, and why it failed.
struct ConnectAttempt {
    const WakeEvent* cancel = nullptr; //!< Signalled by another thread: give up at once.
    int timeoutMs = -1;                //!< For the name lookup and the connect together; -1: no limit.
    std::string reason;                //!< Set on failure: the system's text, "timed out", "cancelled".
};

// "host:port" for an instrument: the port must be a whole number from 1 to 65535 (anything else is
// refused, never wrapped). The name lookup and the connect both give up when attempt.cancel is
// signalled or the time-out passes. Keep-alive and TCP_NODELAY are on. NoSocket on any failure,
// with attempt.reason saying why.
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

// "a.b.c.d:port" of an IPv4 socket address.
std::string SocketAddressText(const sockaddr_in& address);
