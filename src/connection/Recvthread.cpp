#include "connection/Recvthread.h"

#include "connection/ConnectionKinds.h"
#include "connection/FdIo.h"
#include "connection/SerialConnection.h"
#include "connection/Sockets.h"
#include "platform/IntegerText.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace {
// Sends from the UI thread must not hold it for long when a TCP peer stops reading.
constexpr int SendTimeoutMs = 2000;
// A burst of replies (hundreds of amplifiers answering one hello) is handed over in batches: one
// wake-up of the UI thread per batch instead of one per datagram.
constexpr size_t MaxBatch = 64;
// Room for such a burst while the UI thread works through the previous batch.
constexpr int UdpReceiveBuffer = 1 << 20;

int PortOf(int fd) {
    Ipv4Endpoint local;
    return LocalEndpoint(fd, local) ? local.port : 0;
}

// The threads of all receive loops, so that program end can wait for them and join them. Threads
// are joined, never detached, so nothing of a loop still runs once WaitForAllEnded returned true.
class LoopThreads {
public:
    // The count of live loops drops through handover's Notify, so a UI thread in WaitUntil wakes.
    void Start(Handover& handover, std::function<void()> body) {
        std::lock_guard guard(lock_);
        ReapLocked();
        ++live_;
        std::thread thread([this, &handover, body = std::move(body)] {
            body();
            {
                std::lock_guard ended(lock_);
                finished_.push_back(std::this_thread::get_id());
            }
            handover.Notify([this] { --live_; });
        });
        threads_.emplace(thread.get_id(), std::move(thread));
    }
    int Live() const { return live_.load(); }
    void JoinFinished() {
        std::lock_guard guard(lock_);
        ReapLocked();
    }
    ~LoopThreads() {
        // Loops still running at exit (a name lookup that would not end) are left to the exit.
        for (auto& [id, thread] : threads_)
            if (thread.joinable()) thread.detach();
    }

private:
    void ReapLocked() {
        for (auto id : finished_) {
            auto found = threads_.find(id);
            if (found == threads_.end()) continue;
            // The thread has left its body and only returns now; join waits for that.
            if (found->second.get_id() != std::this_thread::get_id()) found->second.join();
            threads_.erase(found);
        }
        finished_.clear();
    }

    std::mutex lock_; //!< Protects threads_ and finished_.
    std::map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> finished_;
    std::atomic<int> live_{0};
};

LoopThreads& Loops() {
    static LoopThreads loops;
    return loops;
}
} // namespace

struct TRecvThread::Datagram {
    std::string peer;
    std::string data;
};

TRecvThread* TRecvThread::Create(Handover& handover) {
    return new TRecvThread(handover);
}

TRecvThread::TRecvThread(Handover& handover) : handover_(handover) {
    SocketStartup();
}

TRecvThread::~TRecvThread() {
    CloseSockets();
    serial_.reset();
    SocketCleanup();
}

void TRecvThread::Release() {
    if (refs_.fetch_sub(1) == 1) delete this;
}

// ---- Open, Send, Close: the owner's thread ----

void TRecvThread::Open(const std::string& connection) {
    if (opened_) return;
    const ConnectionTarget target = ParseConnection(connection);
    std::string address, portText;
    SplitAtFirst(target.Params, address, ":", portText);
    switch (target.Kind ? target.Kind->Recv : RecvKind::None) {
    case RecvKind::TcpClient:
        tcpPort_ = StrToInt(portText);
        host_ = address;
        mode_ = Mode::TcpClient;
        disconnectOnClose_ = true;
        break;
    case RecvKind::TcpServer:
        OpenServer(address, portText);
        break;
    case RecvKind::Udp:
        OpenUdp(address, portText);
        break;
    case RecvKind::Serial:
        OpenSerial(target.Params, address);
        break;
    case RecvKind::None:
        break;
    }
    opened_ = true;
}

void TRecvThread::OpenUdp(const std::string& address, const std::string& portText) {
    udpPort_ = StrToInt(portText);
    mode_ = Mode::Udp;
    int fd = UdpOpen(udpPort_, address);
    if (fd < 0) return;
    SetReceiveBuffer(fd, UdpReceiveBuffer);
    std::lock_guard guard(ioLock_);
    socket_ = fd;
    disconnectOnClose_ = true;
}

void TRecvThread::OpenServer(const std::string& address, const std::string& portText) {
    int port = StrToInt(portText);
    mode_ = Mode::TcpServer;
    int fd = TcpListen(port, address);
    std::lock_guard guard(ioLock_);
    listener_ = fd;
}

void TRecvThread::OpenSerial(const std::string& params, const std::string& name) {
    mode_ = Mode::Serial;
    auto port = std::make_unique<TSerialConnection>();
    if (!port->Open(params)) return;
    {
        std::lock_guard guard(ioLock_);
        peer_ = name;
        serial_ = std::move(port);
    }
    if (onConnected_) onConnected_(name);
}

void TRecvThread::Resume() {
    if (started_ || closed_) return;
    started_ = true;
    Loops().Start(handover_, [this] { Run(); });
}

int TRecvThread::Send(const std::string& destination, const void* data, int length) {
    if (length <= 0 || closed_) return 0;
    switch (mode_) {
    case Mode::Serial: // serial_ is set before the loop starts and kept until destruction
        return serial_ ? std::max(serial_->Write(data, length), 0) : 0;
    case Mode::TcpClient:
        return SendSocket(data, length);
    case Mode::Udp:
        return SendUdp(destination, data, length);
    case Mode::TcpServer:
        return SendServer(destination, data, length);
    }
    return 0;
}

int TRecvThread::SendSocket(const void* data, int length) {
    std::lock_guard guard(ioLock_);
    if (socket_ < 0) return 0;
    long n = SendWithin(socket_, data, static_cast<size_t>(length), SendTimeoutMs, wake_);
    return n > 0 ? static_cast<int>(n) : 0;
}

int TRecvThread::SendUdp(const std::string& destination, const void* data, int length) {
    const std::string target = destination.substr(0, 64);
    std::string host, portText;
    int port = udpPort_;
    if (SplitAtFirst(target, host, ":", portText)) port = static_cast<int>(LeadingInt(portText));
    Ipv4Endpoint to{Ipv4Broadcast, static_cast<uint16_t>(port)};
    if (!host.empty() && !LookupHost(host, to.address)) return 0;
    std::lock_guard guard(ioLock_);
    if (socket_ < 0) return 0;
    long n = SocketSendTo(socket_, data, static_cast<size_t>(length), to);
    return n > 0 ? static_cast<int>(n) : 0;
}

int TRecvThread::SendServer(const std::string& destination, const void* data, int length) {
    std::string dropped;
    {
        std::lock_guard guard(ioLock_);
        for (Client& client : clients_) {
            if (client.fd < 0 || client.peer != destination) continue;
            long n = SendWithin(client.fd, data, static_cast<size_t>(length), SendTimeoutMs, wake_);
            if (n > 0) return static_cast<int>(n);
            CloseSocket(client.fd);
            client.fd = -1;
            dropped = std::exchange(client.peer, "");
            break;
        }
    }
    if (!dropped.empty()) DeliverDisconnected(dropped);
    return 0;
}

void TRecvThread::Close() {
    if (closed_.exchange(true)) return;
    stop_ = true;
    const std::string peer = Peer();
    CloseSockets();
    wake_.Signal();
    if (disconnectOnClose_ && !disconnectDelivered_ && onDisconnected_) {
        disconnectDelivered_ = true;
        onDisconnected_(peer);
    }
    if (!started_) Release(); // no loop will run to release its part
    Release();
}

void TRecvThread::CloseSockets() {
    std::lock_guard guard(ioLock_);
    CloseSocket(std::exchange(socket_, -1));
    CloseSocket(std::exchange(listener_, -1));
    for (Client& client : clients_)
        CloseSocket(std::exchange(client.fd, -1));
    if (serial_) serial_->Close();
}

std::string TRecvThread::Peer() const {
    std::lock_guard guard(ioLock_);
    return peer_;
}

int TRecvThread::LocalPort() const {
    std::lock_guard guard(ioLock_);
    return PortOf(socket_ >= 0 ? socket_ : listener_);
}

bool TRecvThread::WaitForAllEnded(Handover& handover, std::chrono::milliseconds budget) {
    bool ended = handover.WaitUntil([] { return Loops().Live() == 0; }, Handover::Clock::now() + budget);
    Loops().JoinFinished();
    return ended;
}

// ---- Deliveries: from the loop to the UI thread ----

void TRecvThread::Deliver(const std::function<void()>& notify) {
    handover_.Synchronize([this, &notify] {
        if (!closed_) notify();
    });
}

// The handlers belong to the UI thread, so whether one is set is asked there too.
void TRecvThread::DeliverData(const std::string& peer, const char* data, int length) {
    Deliver([&] {
        if (onData_) onData_(peer, data, length);
    });
}

void TRecvThread::DeliverConnected(const std::string& peer) {
    Deliver([&] {
        if (onConnected_) onConnected_(peer);
    });
}

void TRecvThread::DeliverDisconnected(const std::string& peer) {
    Deliver([&] {
        if (disconnectOnClose_ && std::exchange(disconnectDelivered_, true)) return;
        if (onDisconnected_) onDisconnected_(peer);
    });
}

// ---- The loop ----

void TRecvThread::Run() {
    try {
        switch (mode_) {
        case Mode::Serial:
            SerialLoop();
            break;
        case Mode::TcpClient:
            TcpClientLoop();
            break;
        case Mode::Udp:
            UdpLoop();
            break;
        case Mode::TcpServer:
            ServerLoop();
            break;
        }
    } catch (...) {
        // An owner's handler threw; the loop ends, the program goes on.
    }
    CloseSockets();
    Release(); // may delete this
}

void TRecvThread::SerialLoop() {
    TSerialConnection* port = nullptr;
    {
        std::lock_guard guard(ioLock_);
        port = serial_.get(); // lives as long as this object
    }
    char buffer[MaxStreamBlock + 1];
    while (port && !stop_ && port->IsOpen()) {
        int n = port->Read(buffer, sizeof buffer, -1);
        if (n > 0) DeliverData(Peer(), buffer, n);
        if (n < 0) break;
    }
}

void TRecvThread::TcpClientLoop() {
    const std::string target = host_ + ":" + std::to_string(tcpPort_);
    int fd = TcpConnectTimed(host_, tcpPort_, ConnectTimeoutMs, wake_);
    if (fd >= 0) {
        std::lock_guard guard(ioLock_);
        if (stop_) {
            CloseSocket(std::exchange(fd, -1));
        } else {
            Ipv4Endpoint peer;
            PeerEndpoint(fd, peer);
            peer_ = EndpointText(peer);
            socket_ = fd;
        }
    }
    if (fd < 0) return DeliverDisconnected(target);
    DeliverConnected(Peer());
    char buffer[MaxStreamBlock + 1];
    while (!stop_) {
        WaitResult waited = WaitReadable(fd, wake_, -1);
        if (waited != WaitResult::Ready) break;
        int n = StreamReceive(fd, buffer);
        if (n > 0) DeliverData(Peer(), buffer, n);
        if (n < 0) return DeliverDisconnected(Peer());
    }
}

// One read of at most MaxStreamBlock bytes with a 0 after them: > 0 bytes, 0 nothing this time, -1
// the peer closed or the socket failed (or was closed by Close).
int TRecvThread::StreamReceive(int fd, char* buffer) {
    std::lock_guard guard(ioLock_);
    bool stillOurs = fd == socket_;
    for (const Client& client : clients_)
        stillOurs = stillOurs || fd == client.fd;
    if (!stillOurs) return -1;
    long n = SocketReceive(fd, buffer, MaxStreamBlock);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    if (n <= 0) return -1;
    buffer[n] = 0;
    return static_cast<int>(n);
}

void TRecvThread::UdpLoop() {
    int fd = -1;
    {
        std::lock_guard guard(ioLock_);
        fd = socket_;
    }
    std::vector<Datagram> batch;
    while (fd >= 0 && !stop_) {
        WaitResult waited = WaitReadable(fd, wake_, -1);
        if (waited == WaitResult::Woken || stop_) break;
        bool failed = waited == WaitResult::Failed || !ReceiveDatagrams(batch);
        for (const Datagram& datagram : batch) {
            if (stop_) break;
            DeliverData(datagram.peer, datagram.data.c_str(), static_cast<int>(datagram.data.size()));
        }
        if (failed) return DeliverDisconnected(Peer());
    }
}

// Takes the datagrams waiting on the socket, at most MaxBatch. An empty datagram is skipped: it
// is no end of anything, and nobody on the network may stop the receiver by sending one. False
// when the socket failed or was closed.
bool TRecvThread::ReceiveDatagrams(std::vector<Datagram>& batch) {
    batch.clear();
    char buffer[MaxDatagram + 1];
    std::lock_guard guard(ioLock_);
    while (batch.size() < MaxBatch) {
        if (socket_ < 0) return false;
        Ipv4Endpoint from;
        long n = SocketReceiveFrom(socket_, buffer, MaxDatagram, from);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (n == 0) continue;
        peer_ = EndpointText(from);
        batch.push_back({peer_, std::string(buffer, static_cast<size_t>(n))});
    }
    return true;
}

void TRecvThread::ServerLoop() {
    while (!stop_) {
        WaitItem items[2 + ClientSlots] = {{-1, &wake_}};
        {
            std::lock_guard guard(ioLock_);
            if (listener_ < 0) return;
            items[1].fd = listener_;
            for (int slot = 0; slot < ClientSlots; ++slot)
                items[2 + slot].fd = clients_[slot].fd; // -1 is skipped
        }
        int n = WaitAny(items, 2 + ClientSlots, -1);
        if (n < 0 || items[0].ready || stop_) return;
        if (items[1].closed) return;
        if (items[1].ready) AcceptClient();
        for (int slot = 0; slot < ClientSlots; ++slot)
            if (items[2 + slot].fd >= 0 && items[2 + slot].ready) ReadClient(slot, items[2 + slot].fd);
    }
}

void TRecvThread::AcceptClient() {
    std::string peer;
    {
        std::lock_guard guard(ioLock_);
        if (listener_ < 0) return;
        int fd = TcpAccept(listener_, peer);
        if (fd < 0) return;
        Client* free = nullptr;
        for (Client& client : clients_)
            if (!free && client.fd < 0) free = &client;
        if (!free) {
            CloseSocket(fd); // all slots taken: accepted and closed at once
            return;
        }
        *free = {fd, peer};
    }
    DeliverConnected(peer);
}

void TRecvThread::ReadClient(int slot, int fd) {
    char buffer[MaxStreamBlock + 1];
    int n = StreamReceive(fd, buffer);
    std::string peer;
    {
        std::lock_guard guard(ioLock_);
        Client& client = clients_[slot];
        if (client.fd != fd) return; // dropped by a failed Send meanwhile
        peer = client.peer;
        if (n < 0) {
            CloseSocket(std::exchange(client.fd, -1));
            client.peer.clear();
        }
    }
    if (n > 0) DeliverData(peer, buffer, n);
    if (n < 0) DeliverDisconnected(peer);
}

int TcpConnectTimed(const std::string& host, int port, int timeoutMs, const WakeEvent& wake) {
    ConnectAttempt attempt{&wake, timeoutMs, {}};
    const int fd = TcpConnect(host + ":" + std::to_string(port), attempt);
    return fd == NoSocket ? -1 : fd;
}
