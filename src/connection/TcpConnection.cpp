#include "connection/TcpConnection.h"

#include "connection/Sockets.h"
#include "platform/IntegerText.h"
#include "platform/System.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <cerrno>
#include <chrono>

namespace {
constexpr char PeerClosed[] = "the peer closed the connection";

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

// Why a receive ended: the peer's orderly close, or the system's error.
std::string EndOfReceiveText(ssize_t n) {
    return n == 0 ? std::string(PeerClosed) : GetSystemErrorText(errno);
}
} // namespace

TTcpClientConnection::TTcpClientConnection() {
    TTcpClientConnection::Init();
}
TTcpClientConnection::~TTcpClientConnection() {
    TTcpClientConnection::Deinit();
}

void TTcpClientConnection::Init() {
    SocketStartup();
}

void TTcpClientConnection::Deinit() {
    Close();
    SocketCleanup();
}

bool TTcpClientConnection::Open(const std::string& params) {
    if (socket_.IsOpen()) return false;
    ConnectAttempt attempt{&wake_, OpenTimeoutMs, {}};
    int s = TcpConnect(params, attempt);
    if (s == NoSocket) {
        SetReason(attempt.reason);
        return false;
    }
    socket_.Attach(s);
    // A Close that came while the connect was finishing found no socket to close.
    if (wake_.IsSignalled()) socket_.Close();
    return socket_.IsOpen();
}

void TTcpClientConnection::Close() {
    // Signalled also while no socket is open yet: that cancels a connect under way.
    socket_.Close();
    wake_.Signal();
}

int TTcpClientConnection::Write(const void* data, int length) {
    if (!socket_.IsOpen()) {
        SetReason("not connected");
        return -1;
    }
    ssize_t n = WriteAll(socket_, wake_, data, static_cast<size_t>(length));
    if (n < 0) SetReason(errno == ETIMEDOUT ? "the peer takes no data" : GetSystemErrorText(errno));
    return static_cast<int>(n);
}

std::vector<int> TTcpClientConnection::WaitDescriptors() const {
    if (!socket_.IsOpen()) return {};
    return {socket_.Fd()};
}

int TTcpClientConnection::Read(void* buffer, int size, int timeoutMs) {
    if (!socket_.IsOpen()) return -1;
    lastArrivalNs_ = 0;
    // The reader thread catches a reply that follows at once while it is still awake.
    ssize_t early = ReadSoon(socket_, buffer, static_cast<size_t>(size));
    if (early > 0) return static_cast<int>(early);
    const int n = Receive(buffer, size, timeoutMs, false);
    return n == 0 ? -1 : n; // a time-out ends a Read
}

int TTcpClientConnection::ReadWithin(void* buffer, int size, int timeoutMs) {
    if (!socket_.IsOpen()) return -1;
    lastArrivalNs_ = 0; // a read while awake is stamped by its reader: the bytes came just now
    // A caller that only asks what has come (no time) reads once; one that would wait stays
    // awake for the reply first when that has been the quicker way (AwakeReads).
    if (timeoutMs == 0) return Receive(buffer, size, timeoutMs, true);
    const auto start = std::chrono::steady_clock::now();
    const bool awake = awake_.Awake();
    if (awake) {
        if (ssize_t early = AwakeReads::Spin(socket_, buffer, static_cast<size_t>(size)); early > 0) {
            awake_.Took(true, std::chrono::steady_clock::now() - start);
            return static_cast<int>(early);
        }
    }
    const int n = Receive(buffer, size, timeoutMs, true);
    if (n > 0) awake_.Took(awake, std::chrono::steady_clock::now() - start);
    return n;
}

int TTcpClientConnection::Receive(void* buffer, int size, int timeoutMs, bool readFirst) {
    unsigned start = GetTickCount();
    for (bool wait = !readFirst;; wait = true) {
        if (wait) {
            int left = RemainingMs(timeoutMs, start);
            if (left == 0) return 0;
            WaitResult waited = WaitReadable(socket_.Fd(), wake_, left);
            if (waited == WaitResult::Timeout) continue;
            if (waited != WaitResult::Ready) {
                Close();
                return -1;
            }
        }
        ssize_t n = socket_.ReceiveSome(buffer, static_cast<size_t>(size), lastArrivalNs_);
        if (n > 0) return static_cast<int>(n);
        if (n < 0 && WouldBlock()) continue;
        if (n < 0 && errno == EBADF) return -1; // closed here meanwhile
        SetReasonOnce(EndOfReceiveText(n));
        Close();
        return -1;
    }
}

TTcpServerConnection::TTcpServerConnection() {
    TTcpServerConnection::Init();
}
TTcpServerConnection::~TTcpServerConnection() {
    TTcpServerConnection::Deinit();
}

void TTcpServerConnection::Init() {
    SocketStartup();
}

void TTcpServerConnection::Deinit() {
    CloseAll();
    SocketCleanup();
}

bool TTcpServerConnection::Open(const std::string& params) {
    if (listener_.IsOpen()) return false;
    std::string address, portText;
    SplitAtFirst(params, address, ":", portText);
    int port = 0;
    try {
        port = StrToInt(portText);
    } catch (const EConvertError& e) {
        SetReason(std::string("Port ") + e.what());
        return false;
    }
    // Port 0 asks the system for any free port; LocalPort tells which.
    if (port < 0 || port > 65535) {
        SetReason("Port '" + portText + "' is not a number from 0 to 65535");
        return false;
    }
    errno = 0;
    int s = TcpListen(port, address);
    if (s == NoSocket) {
        SetReason(errno != 0 ? GetSystemErrorText(errno) : "'" + address + "' is not a local IPv4 address");
        return false;
    }
    listener_.Attach(s);
    if (stopped_) listener_.Close();
    return listener_.IsOpen();
}

void TTcpServerConnection::Close() {
    if (client_.Close()) clientWake_.Signal();
}

void TTcpServerConnection::CloseAll() {
    Close();
    stopped_ = true;
    listener_.Close();
    stopWake_.Signal();
}

int TTcpServerConnection::Write(const void* data, int length) {
    if (!client_.IsOpen()) {
        SetReason("no client is connected");
        return -1;
    }
    ssize_t n = WriteAll(client_, clientWake_, data, static_cast<size_t>(length));
    if (n < 0) SetReason(errno == ETIMEDOUT ? "the client takes no data" : GetSystemErrorText(errno));
    return static_cast<int>(n);
}

int TTcpServerConnection::LocalPort() const {
    Ipv4Endpoint local;
    return LocalEndpoint(listener_.Fd(), local) ? local.port : 0;
}

int TTcpServerConnection::ReadClient(void* buffer, int size) {
    ssize_t n = client_.ReceiveSome(buffer, static_cast<size_t>(size), lastArrivalNs_);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && WouldBlock()) return 0;
    ClientLeft();
    return 0;
}

void TTcpServerConnection::ClientLeft() {
    Close();
    clientWake_.Reset();
    if (!clientPeer_.empty() && OnPeerEvent) OnPeerEvent(PeerEvent::Left, clientPeer_);
    clientPeer_.clear();
}

void TTcpServerConnection::AcceptOne() {
    std::string peer;
    int s = TcpAccept(listener_.Fd(), peer);
    if (s == NoSocket) return;
    if (!client_.IsOpen()) {
        clientWake_.Reset();
        client_.Attach(s);
        clientPeer_ = peer;
        if (OnPeerEvent) OnPeerEvent(PeerEvent::Arrived, peer);
        return;
    }
    // The newcomer's socket is fresh: the 23 bytes fit its send buffer at once.
    [[maybe_unused]] auto sent = SocketSend(s, BusyReply, sizeof BusyReply - 1);
    // Closing a socket with unread input makes the system send a reset, which can destroy the reply
    // before the newcomer reads it: end our side first and read away what it already sent.
    ShutdownSending(s);
    char discard[512];
    while (SocketReceive(s, discard, sizeof discard) > 0) {
    }
    CloseSocket(s);
}

std::vector<int> TTcpServerConnection::WaitDescriptors() const {
    std::vector<int> fds;
    for (const GuardedFd* fd : {&listener_, &client_}) {
        if (fd->IsOpen()) fds.push_back(fd->Fd());
    }
    return fds;
}

int TTcpServerConnection::Read(void* buffer, int size, int timeoutMs) {
    return Serve(buffer, size, timeoutMs, -1);
}

int TTcpServerConnection::ReadWithin(void* buffer, int size, int timeoutMs) {
    return Serve(buffer, size, timeoutMs, 0);
}

int TTcpServerConnection::Serve(void* buffer, int size, int timeoutMs, int timedOut) {
    unsigned start = GetTickCount();
    // At least one look, also without a time (a caller that only asks what has come).
    for (bool first = true;; first = false) {
        if (!listener_.IsOpen()) return -1;
        bool hadClient = client_.IsOpen();
        WaitItem items[4] = {{-1, &stopWake_},
                             {-1, hadClient ? &clientWake_ : nullptr},
                             {hadClient ? client_.Fd() : -1},
                             {listener_.Fd()}};
        int left = RemainingMs(timeoutMs, start);
        if (left == 0 && !first) return timedOut;
        int n = WaitAny(items, 4, left);
        if (n < 0 || items[0].ready) return -1;
        // A client closed here (Close) has left like one that went by itself; the port serves the next.
        if (hadClient && (items[1].ready || !client_.IsOpen())) {
            ClientLeft();
            continue;
        }
        if (hadClient && items[2].ready) {
            int got = ReadClient(buffer, size);
            if (got != 0) return got;
        }
        if (items[3].ready) AcceptOne();
    }
}
