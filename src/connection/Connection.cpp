#include "connection/Connection.h"

#include "connection/ConnectionString.h"
#include "connection/SerialConnection.h"
#include "connection/TcpConnection.h"
#include "connection/TraceIo.h"

#include <cstring>
#include <utility>

namespace {
// Reads of at most this many bytes keep the reader's chunk small and its latency low.
constexpr int ChunkSize = 255;

std::unique_ptr<TConnection> MakeTransport(const std::string& kind) {
    if (kind == "com") return std::make_unique<TSerialConnection>();
    if (kind == "tcp") return std::make_unique<TTcpClientConnection>();
    if (kind == "tcpsrv") return std::make_unique<TTcpServerConnection>();
    return nullptr;
}
} // namespace

TIO::TIO(Handover& handover) : handover_(handover) {}

TIO::~TIO() {
    if (!started_) StartReader();
    if (transport_) transport_->CloseAll();
    stop_ = true;
    handover_.WaitUntil([this] { return ended_; });
    reader_.join();
    transport_.reset();
}

void TIO::SetOnRxLine(RxLineHandler handler) {
    onRxLine_ = std::move(handler);
    rxHandover_ = static_cast<bool>(onRxLine_);
}

void TIO::SetOnDisconnected(EventHandler handler) {
    onDisconnected_ = std::move(handler);
    hasDisconnected_ = static_cast<bool>(onDisconnected_);
}

bool TIO::Open(const std::string& connection) {
    if (started_ || transport_) return false;
    ConnectionParts parts = SplitConnectionString(connection);
    transport_ = MakeTransport(parts.Kind);
    if (!transport_) return false;
    framer_.StartCharEnabled = StartCharEnabled;
    framer_.EndCharEnabled = EndCharEnabled;
    framer_.StartChar = StartChar;
    framer_.EndChar = EndChar;
    bool ok = transport_->Open(parts.Params);
    StartReader();
    if (ok && onConnected_) onConnected_();
    return ok;
}

void TIO::Close() {
    if (transport_) transport_->Close();
}

bool TIO::IsOpen() const {
    return transport_ && transport_->IsOpen();
}

bool TIO::Send(const std::string& text) {
    return SendData(text.data(), text.size());
}

bool TIO::SendData(const void* data, size_t length) {
    lastSent_.assign(static_cast<const char*>(data), ::strnlen(static_cast<const char*>(data), length));
    if (onTxEcho_) onTxEcho_(lastSent_);
    return WriteTraced(data, length);
}

bool TIO::WriteTraced(const void* data, size_t length) {
    if (!transport_) return false;
    TraceIo(TraceDirection::Send, data, length);
    // A closed socket reports -1, which counts as sent; only a failed serial write reports 0.
    return transport_->Write(data, static_cast<int>(length)) != 0;
}

bool TIO::Query(const std::string& command, std::string& reply, int timeoutMs) {
    lastSent_ = command;
    const bool rxWasSet = static_cast<bool>(onRxLine_);
    rxHandover_ = false;
    querying_ = true;
    auto restore = [&] {
        querying_ = false;
        rxHandover_ = rxWasSet;
    };
    if (onTxEcho_) onTxEcho_(command);
    handover_.Notify([this] { lineSignalled_ = false; });
    replyFifo_.Clear();
    if (!WriteTraced(command.data(), command.size())) {
        restore();
        return false;
    }
    auto deadline = Handover::Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool answered = false;
    // A line event whose line the Clear above already removed is no reply: wait on for the next.
    while (!answered &&
           handover_.WaitUntil([this] { return std::exchange(lineSignalled_, false); }, deadline)) {
        answered = replyFifo_.Pop(reply);
    }
    restore();
    if (!answered) {
        reply = TimeoutReply;
        return false;
    }
    SetLastReceived(reply);
    if (onRxLine_) onRxLine_(reply, this);
    return true;
}

std::string TIO::LastReceived() const {
    std::lock_guard guard(lastReceivedLock_);
    return lastReceived_;
}

void TIO::SetLastReceived(const std::string& line) {
    std::lock_guard guard(lastReceivedLock_);
    lastReceived_ = line;
}

void TIO::StartReader() {
    started_ = true;
    reader_ = std::thread([this] { ReaderLoop(); });
}

void TIO::ReaderLoop() {
    uint8_t chunk[ChunkSize];
    while (!stop_ && transport_) {
        int n = transport_->Read(chunk, ChunkSize, -1);
        if (n < 0) break;
        framer_.Process(chunk, static_cast<size_t>(n),
                        [this](const std::string& line) { OnFramedLine(line); });
    }
    if (hasDisconnected_) handover_.Synchronize([this] { RunDisconnected(); });
    handover_.Notify([this] { ended_ = true; });
}

void TIO::OnFramedLine(const std::string& line) {
    SetLastReceived(line);
    replyFifo_.Push(line);
    handover_.Notify([this] { lineSignalled_ = true; });
    if (rxHandover_) handover_.Synchronize([this] { DeliverLine(); });
}

void TIO::DeliverLine() {
    // A query that started while this step waited has cleared the line it was handed over for.
    if (querying_) return;
    std::string line;
    if (!replyFifo_.Pop(line)) {
        SetLastReceived(EmptyFifoText);
        return;
    }
    SetLastReceived(line);
    if (onRxLine_) onRxLine_(line, this);
}

void TIO::RunDisconnected() {
    if (onDisconnected_) onDisconnected_();
}
