#include "connection/Sockets.h"

#include "connection/FdIo.h"
#include "platform/IntegerText.h"
#include "platform/System.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

using namespace socket_parts;

std::string Ipv4Text(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::string EndpointText(const Ipv4Endpoint& endpoint) {
    return Ipv4Text(endpoint.address) + ":" + std::to_string(endpoint.port);
}

// As inet_pton takes them: four decimal parts of up to 255, no sign, no leading zero.
bool ParseDottedIpv4(const std::string& text, uint32_t& address) {
    uint32_t value = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        const size_t first = at;
        unsigned octet = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 3)
            octet = octet * 10 + static_cast<unsigned>(text[at++] - '0');
        const size_t digits = at - first;
        if (digits == 0 || octet > 255 || (digits > 1 && text[first] == '0')) return false;
        value = value << 8 | octet;
    }
    if (at != text.size()) return false;
    address = value;
    return true;
}

namespace {
std::atomic<int> socketUsers{0};
} // namespace

void SocketStartup() {
    StartLayer();
    ++socketUsers;
}

void SocketCleanup() {
    --socketUsers;
}

int SocketUsers() {
    return socketUsers.load();
}

int ResolveIpv4(const std::string& name, std::vector<uint32_t>& addresses) {
    addresses.clear();
    // No instrument has an empty name (Windows would resolve it to this host).
    if (name.empty()) return NameNotFound();
    const int rc = ResolveAll(name, addresses);
    return rc == 0 && addresses.empty() ? NameNotFound() : rc;
}

namespace {
// The first address name resolves to: 0, or the resolver's code.
int ResolveFirst(const std::string& name, uint32_t& address) {
    std::vector<uint32_t> found;
    const int rc = ResolveIpv4(name, found);
    if (rc == 0) address = found.front();
    return rc;
}
} // namespace

bool LookupHost(const std::string& name, uint32_t& address) {
    return ParseDottedIpv4(name, address) || ResolveFirst(name, address) == 0;
}

namespace {
// A name lookup that can be abandoned: the system's lookup cannot be interrupted, so it runs in a
// thread of its own that finishes in its own time; whoever leaves last frees the shared record.
struct Lookup {
    std::string name;
    WakeEvent done;
    std::mutex lock; //!< Protects result and address (the wake-up alone orders nothing).
    int result = -1; // written before done is signalled
    uint32_t address = 0;
};

// Waits for the wait item, the attempt's cancel event or the time left; false with the reason set
// when the wait did not end with the item.
bool WaitOrGiveUp(WaitItem item, ConnectAttempt& attempt, unsigned start) {
    WaitItem items[2] = {item, {-1, attempt.cancel}};
    const int n = WaitAny(items, 2, RemainingMs(attempt.timeoutMs, start));
    if (items[1].ready)
        attempt.reason = "cancelled";
    else if (n == 0)
        attempt.reason = "timed out";
    return n > 0 && !items[1].ready;
}

bool LookupHostInTime(const std::string& name, uint32_t& address, ConnectAttempt& attempt, unsigned start) {
    if (ParseDottedIpv4(name, address)) return true;
    auto lookup = std::make_shared<Lookup>();
    lookup->name = name;
    std::thread([lookup] {
        uint32_t found = 0;
        const int rc = ResolveFirst(lookup->name, found);
        {
            std::lock_guard guard(lookup->lock);
            lookup->address = found;
            lookup->result = rc;
        }
        lookup->done.Signal();
    }).detach();
    if (!WaitOrGiveUp({-1, &lookup->done}, attempt, start)) return false;
    std::lock_guard guard(lookup->lock);
    if (lookup->result != 0) {
        attempt.reason = "host '" + name + "' not found (" + LookupErrorText(lookup->result) + ")";
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
bool ConnectInTime(int s, const Ipv4Endpoint& peer, ConnectAttempt& attempt, unsigned start) {
    const int started = StartConnect(s, peer);
    if (started != 0) {
        if (started < 0) attempt.reason = GetSystemErrorText(errno);
        return started > 0;
    }
    if (!WaitOrGiveUp({s, nullptr, true}, attempt, start)) return false;
    const int error = ConnectError(s);
    if (error != 0) attempt.reason = GetSystemErrorText(error);
    return error == 0;
}
} // namespace

int TcpConnect(const std::string& params, ConnectAttempt& attempt) {
    const unsigned start = GetTickCount();
    std::string host, portText;
    SplitAtFirst(params, host, ":", portText);
    Ipv4Endpoint peer;
    if (!InstrumentPort(portText, peer.port, attempt.reason)) return NoSocket;
    if (!LookupHostInTime(host, peer.address, attempt, start)) return NoSocket;
    const int s = OpenStream();
    if (s == NoSocket) {
        attempt.reason = GetSystemErrorText(errno);
        return NoSocket;
    }
    if (!ConnectInTime(s, peer, attempt, start)) {
        CloseSocket(s);
        return NoSocket;
    }
    return s;
}

int TcpListen(int port, const std::string& address) {
    Ipv4Endpoint local{0, static_cast<uint16_t>(port)};
    if (!address.empty() && !ParseDottedIpv4(address, local.address)) return NoSocket;
    if (port < 0 || port > 65535) return NoSocket;
    return OpenListener(local);
}

int UdpOpen(int port, const std::string& address) {
    Ipv4Endpoint local{0, static_cast<uint16_t>(port)};
    if (!ParseDottedIpv4(address, local.address) || port < 0 || port > 65535) return NoSocket;
    return OpenDatagram(local);
}

bool LocalEndpoint(int socket, Ipv4Endpoint& endpoint) {
    return socket >= 0 && QueryEndpoint(socket, false, endpoint);
}

bool PeerEndpoint(int socket, Ipv4Endpoint& endpoint) {
    return socket >= 0 && QueryEndpoint(socket, true, endpoint);
}

long SendWithin(int socket, const void* data, size_t size, int timeoutMs, const WakeEvent& wake) {
    const auto* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    while (sent < size) {
        const long n = SocketSend(socket, bytes + sent, size - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return sent > 0 ? static_cast<long>(sent) : -1;
        if (WaitWritable(socket, wake, timeoutMs) != WaitResult::Ready) break;
    }
    return static_cast<long>(sent);
}
