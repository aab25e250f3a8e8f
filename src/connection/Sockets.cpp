#include "connection/Sockets.h"

#include "platform/IntegerText.h"
#include "text/Strtools.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
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

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

enum class Waited { Ready, Cancelled, TimedOut };

// Waits for fd to report events, for the attempt's cancel event, or for the deadline.
Waited WaitOrCancel(int fd, short events, const ConnectAttempt& attempt, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {attempt.cancel ? attempt.cancel->Fd() : -1, POLLIN, 0}};
        int n = ::poll(fds, 2, MsLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (fds[1].revents) return Waited::Cancelled;
        if (n == 0) return Waited::TimedOut;
        return Waited::Ready;
    }
}

// A name lookup that can be abandoned: getaddrinfo cannot be interrupted, so it runs in a thread
// of its own that finishes in its own time; whoever leaves last frees the shared record.
struct Lookup {
    std::string name;
    WakeEvent done;
    std::mutex lock;        //!< Protects result and address (the wake-up alone orders nothing).
    int result = EAI_AGAIN; // written before done is signalled
    in_addr address{};
};

bool LookupHostInTime(const std::string& name, in_addr& address, ConnectAttempt& attempt,
                      Clock::time_point deadline) {
    if (ParseDotted(name, address)) return true;
    auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    std::thread([lookup] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        int rc = ::getaddrinfo(lookup->name.c_str(), nullptr, &hints, &found);
        {
            std::lock_guard guard(lookup->lock);
            if (rc == 0 && found) lookup->address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
            lookup->result = rc == 0 && !found ? EAI_NONAME : rc;
        }
        if (found) ::freeaddrinfo(found);
        lookup->done.Signal();
    }).detach();
    Waited waited = WaitOrCancel(lookup->done.Fd(), POLLIN, attempt, deadline);
    if (waited != Waited::Ready) {
        attempt.reason = waited == Waited::Cancelled ? "cancelled" : "timed out";
        return false;
    }
    std::lock_guard guard(lookup->lock);
    if (lookup->result != 0) {
        attempt.reason = "host '" + name + "' not found (" + ::gai_strerror(lookup->result) + ")";
        return false;
    }
    address = lookup->address;
    return true;
}

bool InstrumentPort(const std::string& text, uint16_t& port, std::string& reason) {
    int value = 0;
    try {
        value = StrToInt(text);
    } catch (const EConvertError&) {
        value = 0;
    }
    if (value < 1 || value > 65535) {
        reason = "Port '" + text + "' is not a number from 1 to 65535";
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Connects the non-blocking socket s to peer within the attempt's limits.
bool ConnectInTime(int s, const sockaddr_in& peer, ConnectAttempt& attempt, Clock::time_point deadline) {
    if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return true;
    if (errno != EINPROGRESS) {
        attempt.reason = GetSystemErrorText(errno);
        return false;
    }
    Waited waited = WaitOrCancel(s, POLLOUT, attempt, deadline);
    if (waited != Waited::Ready) {
        attempt.reason = waited == Waited::Cancelled ? "cancelled" : "timed out";
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) attempt.reason = GetSystemErrorText(error);
    return error == 0;
}
} // namespace

int TcpConnect(const std::string& params, ConnectAttempt& attempt) {
    const Clock::time_point deadline = attempt.timeoutMs < 0
                                           ? Clock::time_point::max()
                                           : Clock::now() + std::chrono::milliseconds(attempt.timeoutMs);
    std::string host, portText;
    SplitAtFirst(params, host, ":", portText);
    uint16_t port = 0;
    in_addr address{};
    if (!InstrumentPort(portText, port, attempt.reason)) return NoSocket;
    if (!LookupHostInTime(host, address, attempt, deadline)) return NoSocket;
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        attempt.reason = GetSystemErrorText(errno);
        return NoSocket;
    }
    SetOption(s, SOL_SOCKET, SO_KEEPALIVE);
    SetOption(s, IPPROTO_TCP, TCP_NODELAY);
    if (!ConnectInTime(s, MakeAddress(address, port), attempt, deadline)) {
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
