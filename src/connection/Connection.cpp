#include "connection/Connection.h"

#include "connection/FdIo.h"
#include "connection/TraceIo.h"
#include "platform/ModalBoxes.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
// Reads of at most this many bytes keep the reader's chunk small and its latency low.
constexpr int ChunkSize = 255;
} // namespace

TIO::TIO(Handover& handover) : handover_(handover) {}

TIO::~TIO() {
    if (!started_) StartReader();
    // stop_ first: a reader that finishes an open after the close below sees it and reads nothing.
    stop_ = true;
    if (transport_) transport_->CloseAll();
    handover_.WaitUntil([this] { return ended_; });
    reader_.join();
    // Pull mode: what the reader thread would have delivered at the end, the same way.
    try {
        while (Pulling())
            Pull(0);
    } catch (const std::exception& e) {
        ReportStepError(e.what());
    } catch (...) {
        ReportStepError("Unknown error.");
    }
    transport_.reset();
}

void TIO::SetOnRxLine(RxLineHandler handler) {
    onRxLine_ = std::move(handler);
    handover_.Notify([this] { rxHandover_ = static_cast<bool>(onRxLine_); });
}

void TIO::SetOnDisconnected(EventHandler handler) {
    onDisconnected_ = std::move(handler);
    hasDisconnected_ = static_cast<bool>(onDisconnected_);
}

bool TIO::BeginOpen(const std::string& connection, OpenDone done) {
    return BeginOpen(ParseConnection(connection), std::move(done));
}

bool TIO::BeginOpen(const ConnectionTarget& target, OpenDone done) {
    if (started_ || transport_ || !target.Kind || !target.Kind->MakeTransport) return false;
    transport_ = target.Kind->MakeTransport();
    framer_.StartCharEnabled = StartCharEnabled;
    framer_.EndCharEnabled = EndCharEnabled;
    framer_.StartChar = StartChar;
    framer_.EndChar = EndChar;
    framer_.Ends = LineEnds;
    transport_->OpenTimeoutMs = ConnectTimeoutMs;
    transport_->OnPeerEvent = [this](PeerEvent event, const std::string& peer) { OnPeerEvent(event, peer); };
    openDone_ = std::move(done);
    StartReader(target.Params);
    return true;
}

bool TIO::Open(const std::string& connection) {
    return Open(ParseConnection(connection));
}

bool TIO::Open(const ConnectionTarget& target) {
    bool finished = false;
    bool opened = false;
    if (!BeginOpen(target, [&](bool ok, const std::string&) {
            opened = ok;
            handover_.Notify([&] { finished = true; });
        })) {
        return false;
    }
    handover_.WaitUntil([&] { return finished; });
    return opened;
}

void TIO::Close() {
    // Set before the close, so the reader knows the end as this side's own (its half line too).
    stop_ = true;
    if (transport_) transport_->Close();
}

bool TIO::IsOpen() const {
    return transport_ && transport_->IsOpen();
}

std::string TIO::SendFailure() const {
    return transport_ ? transport_->Reason() : std::string("not connected");
}

bool TIO::Send(const std::string& text) {
    return SendData(text.data(), text.size());
}

bool TIO::SendData(const void* data, size_t length) {
    lastSent_.assign(static_cast<const char*>(data), ::strnlen(static_cast<const char*>(data), length));
    if (!WriteTraced(data, length)) return false;
    // Every byte that went out, a NUL and what follows it included.
    if (onTxEcho_) onTxEcho_(std::string(static_cast<const char*>(data), length));
    return true;
}

bool TIO::WriteTraced(const void* data, size_t length) {
    if (!transport_) return false;
    // Before the write: the reply may come before it returns.
    firstByteTick_ = 0;
    firstByteOwed_ = true;
    TraceIo(TraceDirection::Send, data, length);
    return transport_->Write(data, static_cast<int>(length)) == static_cast<int>(length);
}

TIO::PullResult TIO::Pull(int timeoutMs) {
    if (!pulling_) return PullResult::Nothing;
    if (pullDone_) return PullResult::Ended;
    // Reads until a whole line came, the link ended or the time is over (at least once).
    const unsigned start = GetTickCount();
    for (bool first = true; replyFifo_.Size() == 0 && !pullEnded_; first = false) {
        const int left = RemainingMs(timeoutMs, start);
        if (left == 0 && !first) break;
        ReadPulled(left);
    }
    std::string line;
    std::string stamp;
    if (replyFifo_.Pop(line, stamp)) {
        DeliverQueuedLine(line, stamp);
        return PullResult::Line;
    }
    if (!pullEnded_) return PullResult::Nothing;
    pullDone_ = true;
    RunDisconnected();
    return PullResult::Ended;
}

std::vector<int> TIO::PullDescriptors() const {
    return Pulling() ? transport_->WaitDescriptors() : std::vector<int>();
}

int TIO::PullDueMs() const {
    if (!Pulling() || IdleLineMs <= 0 || !framer_.HasPartial()) return -1;
    return std::max(0, IdleLineMs - static_cast<int>(GetTickCount() - idleSince_));
}

bool TIO::ReadPulled(int timeoutMs) {
    uint8_t chunk[ChunkSize];
    // After this side's Close nothing more is read, as the reader thread's loop reads nothing
    // (a listening port would otherwise serve the next client).
    int wait = timeoutMs;
    if (IdleLineMs > 0 && framer_.HasPartial()) {
        const int left = IdleLineMs - static_cast<int>(GetTickCount() - idleSince_);
        if (left <= 0) {
            FlushIdleLine();
            return true;
        }
        wait = wait < 0 ? left : std::min(wait, left);
    }
    const int n = stop_ ? -1 : transport_->ReadWithin(chunk, ChunkSize, wait);
    if (n < 0) {
        pullEnded_ = true;
        FlushPartialLine();
        return false;
    }
    Frame(chunk, n);
    return true;
}

bool TIO::Query(const std::string& command, std::string& reply, int timeoutMs, const ReplyFilter& accept) {
    lastSent_ = command;
    bool rxWasSet = false;
    querying_ = true;
    // From now on the reader only queues and counts.
    handover_.Notify([&] {
        rxWasSet = rxHandover_;
        rxHandover_ = false;
        lineSignalled_ = false;
        owed_ = 0;
    });
    // Lines that came before the command are no reply, but the operator sees them; their own
    // delivery steps find the query running and do nothing.
    std::string line;
    std::string stamp;
    while (replyFifo_.Pop(line, stamp))
        DeliverQueuedLine(line, stamp);
    auto restore = [&] {
        querying_ = false;
        int owed = 0;
        handover_.Notify([&] {
            rxHandover_ = rxWasSet;
            owed = std::exchange(owed_, 0);
        });
        return owed;
    };
    if (!WriteTraced(command.data(), command.size())) {
        restore();
        return false;
    }
    if (onTxEcho_) onTxEcho_(command);
    auto deadline = Handover::Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool answered = false;
    int taken = 0;
    for (;;) {
        while (!answered && replyFifo_.Pop(line, stamp)) {
            ++taken;
            answered = !accept || accept(line);
            if (!answered) DeliverQueuedLine(line, stamp);
        }
        if (answered) break;
        if (pulling_) {
            // Pull mode: this thread reads the link itself until the reply or the deadline.
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Handover::Clock::now()).count();
            if (left <= 0 || pullEnded_) break;
            ReadPulled(static_cast<int>(left));
        } else if (!handover_.WaitUntil([this] { return std::exchange(lineSignalled_, false); }, deadline)) {
            break;
        }
    }
    // The lines that came after the reply (or were passed over last): queued and not handed over,
    // or in pull mode all that is queued.
    const int owed = restore();
    const int after = pulling_ ? static_cast<int>(replyFifo_.Size()) : owed - taken;
    if (!answered) {
        reply = TimeoutReply;
        DeliverOwedLines(after);
        return false;
    }
    reply = line;
    SetLastReceived(reply);
    lineStamp_ = stamp;
    if (onRxLine_) onRxLine_(reply, this);
    // Lines that came after the reply were only queued meanwhile: they follow it now, in order.
    DeliverOwedLines(after);
    return true;
}

void TIO::DeliverQueuedLine(const std::string& line, const std::string& stamp) {
    SetLastReceived(line);
    lineStamp_ = stamp;
    if (onRxLine_) onRxLine_(line, this);
}

void TIO::DeliverOwedLines(int owed) {
    std::string line;
    for (; owed > 0 && replyFifo_.Pop(line, lineStamp_); --owed) {
        SetLastReceived(line);
        if (onRxLine_) onRxLine_(line, this);
    }
}

std::string TIO::LastReceived() const {
    std::lock_guard guard(lastReceivedLock_);
    return lastReceived_;
}

void TIO::SetLastReceived(const std::string& line) {
    std::lock_guard guard(lastReceivedLock_);
    lastReceived_ = line;
}

void TIO::StartReader(std::string params) {
    started_ = true;
    reader_ = std::thread([this, params = std::move(params)] { ReaderLoop(params); });
}

void TIO::ReaderLoop(const std::string& params) {
    // In pull mode an open link is the UI thread's to read, and to tell of its end.
    bool pulled = false;
    try {
        if (transport_ && OpenInReader(params, pulled) && !pulled) ReadUntilEnd();
    } catch (const std::exception& e) {
        // A handed-over step failed: the operator learns why, and the connection ends cleanly.
        ReportStepError(e.what());
        if (transport_) transport_->Close();
    } catch (...) {
        ReportStepError("Unknown error.");
        if (transport_) transport_->Close();
    }
    try {
        if (hasDisconnected_ && !pulled) handover_.Synchronize([this] { RunDisconnected(); });
    } catch (const std::exception& e) {
        ReportStepError(e.what());
    } catch (...) {
        ReportStepError("Unknown error.");
    }
    handover_.Notify([this] { ended_ = true; });
}

void TIO::ReportStepError(const std::string& what) {
    // Boxes are modal: the reader must not wait for the operator, so the box is posted.
    handover_.Post([what] { Boxes().Error("Error", what); });
}

bool TIO::OpenInReader(const std::string& params, bool& pulled) {
    bool ok = false;
    try {
        ok = !stop_ && transport_->Open(params);
    } catch (...) {
        ok = false; // a transport reports its failures as results; anything else is a failed open
    }
    pulled = ok && pullMode_ && (pullWait_ == PullWait::InPull || !transport_->WaitDescriptors().empty());
    // Nothing to watch: this thread reads, and hands its lines over.
    if (ok) pullMode_ = pulled;
    handover_.Synchronize([this, ok, pulled] {
        // First, so that whatever the steps below do, the end is told once, by the UI thread.
        pulling_ = pulled;
        OpenDone done = std::move(openDone_);
        openDone_ = nullptr;
        std::string reason = ok ? std::string() : transport_->Reason();
        if (!ok && reason.empty()) reason = stop_ ? "cancelled" : "failed";
        if (done) done(ok, reason);
        if (ok && onConnected_) onConnected_();
    });
    return ok;
}

void TIO::ReadUntilEnd() {
    uint8_t chunk[ChunkSize];
    while (!stop_) {
        // A half line waits for its line end only IdleLineMs when that is set.
        const bool idleDue = IdleLineMs > 0 && framer_.HasPartial();
        int n = idleDue ? transport_->ReadWithin(chunk, ChunkSize, IdleLineMs)
                        : transport_->Read(chunk, ChunkSize, -1);
        if (n < 0) break;
        if (n == 0 && idleDue) FlushIdleLine();
        Frame(chunk, n);
    }
    FlushPartialLine();
}

// A transport that knows when the bytes came (a socket the system stamps) gives their time; else
// it is now, as they were just read.
void TIO::Frame(const uint8_t* chunk, int count) {
    if (count > 0) {
        const int64_t arrival = transport_->LastArrivalNs();
        chunkStamp_ = arrival != 0 ? TimeStampAt(arrival) : GetTimeStamp();
        // Before the lines are framed: a handed-over line is timed while the framing waits.
        if (firstByteOwed_.exchange(false)) firstByteTick_ = GetTickCount();
    }
    framer_.Process(chunk, static_cast<size_t>(std::max(count, 0)),
                    [this](const std::string& line) { OnFramedLine(line, chunkStamp_); });
    waitingBytes_ = framer_.PendingLength();
    NoteBytes(count);
}

void TIO::NoteBytes(int count) {
    if (count <= 0) return;
    lastByteTick_ = GetTickCount();
    NoteIdleStart();
}

void TIO::NoteIdleStart() {
    if (IdleLineMs <= 0 || !framer_.HasPartial()) return;
    idleStamp_ = chunkStamp_;
    idleSince_ = GetTickCount();
}

void TIO::FlushIdleLine() {
    std::string partial;
    waitingBytes_ = 0;
    if (framer_.TakePartial(partial)) OnFramedLine(partial + NoLineEndNote, idleStamp_);
}

void TIO::FlushPartialLine() {
    std::string partial;
    waitingBytes_ = 0;
    if (!framer_.TakePartial(partial)) return;
    // The peer's cut and this side's own close are different stories: only the first is the
    // peer's incomplete line.
    OnFramedLine(partial + (stop_ ? std::string(ClosedMidLineNote) : std::string(IncompleteNote)));
}

void TIO::OnPeerEvent(PeerEvent event, const std::string& peer) {
    if (event == PeerEvent::Left) FlushPartialLine();
    std::string text = "Client " + peer + (event == PeerEvent::Arrived ? " connected." : " left.");
    // Pull mode (this is the UI thread, inside a read): the lines that came before the event are
    // told before it, as the reader thread's hand-overs would be.
    if (pullMode_ && !querying_) DeliverOwedLines(static_cast<int>(replyFifo_.Size()));
    handover_.Synchronize([this, &text] {
        if (onStatus_) onStatus_(text);
    });
}

void TIO::OnFramedLine(const std::string& line) {
    OnFramedLine(line, GetTimeStamp());
}

void TIO::OnFramedLine(const std::string& line, const std::string& stamp) {
    SetLastReceived(line);
    replyFifo_.Push(line, stamp);
    // Pull mode: the UI thread framed it and delivers it with its next Pull (or Query takes it).
    if (pullMode_) return;
    bool handOver = false;
    handover_.Notify([&] {
        lineSignalled_ = true;
        handOver = rxHandover_;
        if (!handOver) ++owed_;
    });
    if (handOver) handover_.Synchronize([this] { DeliverLine(); });
}

void TIO::DeliverLine() {
    // A query that started while this step waited has cleared the line it was handed over for.
    if (querying_) return;
    std::string line;
    if (!replyFifo_.Pop(line, lineStamp_)) {
        SetLastReceived(EmptyFifoText);
        return;
    }
    SetLastReceived(line);
    if (onRxLine_) onRxLine_(line, this);
}

void TIO::RunDisconnected() {
    if (onDisconnected_) onDisconnected_();
}
