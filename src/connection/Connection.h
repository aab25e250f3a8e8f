#pragma once
// TIO: the console's one connection to an instrument over a serial port, a TCP connection or a
// listening TCP port. It owns the transport and a reader thread that frames received bytes into
// lines and hands each line to the UI thread synchronously, in arrival order.
//
// Threads: every public operation is for the UI thread (the thread of the Handover given at
// construction). The notifications run in the UI thread: OnTxEcho inside the operation that sends;
// the open's end, OnConnected, OnStatus, OnRxLine and OnDisconnected by hand-over from the reader
// thread, which waits until they have run; OnRxLine also directly from Query. The reader thread
// opens the transport itself, so a connect that takes long never holds the UI thread.
//
// Pull mode (SetPullMode, for a caller without a window that waits in a loop of its own): the
// reader thread only opens, and hands over the open's end and OnConnected as above. From then on
// the UI thread reads the link itself through Pull, which runs OnRxLine, OnStatus and, at the end,
// OnDisconnected in the calling thread: a received line costs that one thread, no hand-over.
#include "connection/ConnectionKinds.h"
#include "connection/LineFramer.h"
#include "connection/LockedFifo.h"
#include "connection/TConnection.h"
#include "platform/Handover.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TIO {
public:
    using TxEchoHandler = std::function<void(const std::string& text)>;
    using RxLineHandler = std::function<void(const std::string& line, TIO* io)>;
    using EventHandler = std::function<void()>;
    using StatusHandler = std::function<void(const std::string& text)>;
    // How an open ended: ok, or why not (the system's text, "timed out", "cancelled").
    using OpenDone = std::function<void(bool ok, const std::string& reason)>;

    // Text the delivery step leaves in LastReceived when it finds no line queued.
    static constexpr char EmptyFifoText[] = "Error: ReplyFifo empty!";
    // Follows the part of a line that had come when this side closed the link.
    static constexpr char ClosedMidLineNote[] = " (cut off: the link was closed here)";
    // Follows the part of a line that had come when the peer ended the link.
    static constexpr char IncompleteNote[] = " (incomplete)";
    // The reply of a query that timed out.
    static constexpr char TimeoutReply[] = "???";
    // Follows bytes that waited IdleLineMs without a line end (a prompt).
    static constexpr char NoLineEndNote[] = " (no line end)";

    explicit TIO(Handover& handover = Handover::Main());
    // Closes the transport, lets the reader thread deliver its OnDisconnected (the UI thread runs
    // hand-overs while it waits) and joins it. A TIO that was never opened also gives one
    // OnDisconnected. Must not be called from inside this TIO's own OnRxLine or OnDisconnected.
    // In pull mode the lines not yet pulled, the half line and OnDisconnected run here.
    ~TIO();
    TIO(const TIO&) = delete;
    TIO& operator=(const TIO&) = delete;

    // Framing; set before Open. With the defaults a line runs from '#' to '*'; the console sets
    // EndChar to LF and switches StartChar off.
    bool StartCharEnabled = true;
    bool EndCharEnabled = true;
    uint8_t StartChar = '#';
    uint8_t EndChar = '*';
    LineFramer::LineEnd LineEnds = LineFramer::LineEnd::Char;
    // Bytes that have waited this long without a line end are a line of their own, stamped with
    // their arrival and marked with NoLineEndNote, and what follows starts a new line: a prompt
    // is shown and counts as a reply. 0: they wait for the line end.
    int IdleLineMs = 0;

    // How long opening may wait for the far end (name lookup and connect); -1: no limit. Set
    // before Open.
    int ConnectTimeoutMs = -1;

    // Who waits for a pulled link's input: the caller of Pull, which blocks in it for the time it
    // gives, or the caller's own loop, which watches PullDescriptors and calls Pull(0) when one is
    // readable (and once PullDueMs has passed). A transport that gives no descriptors is then read
    // by the reader thread, as without pull mode.
    enum class PullWait { InPull, OnDescriptors };
    // Before BeginOpen: on, the link is read by Pull once open (see the head of this file).
    void SetPullMode(bool on, PullWait wait = PullWait::InPull) {
        if (started_) return;
        pullMode_ = on;
        pullWait_ = wait;
    }
    // The open link is read by Pull and has not told of its end yet.
    bool Pulling() const { return pulling_ && !pullDone_; }
    // While Pulling: the descriptors to watch for input (TConnection::WaitDescriptors).
    std::vector<int> PullDescriptors() const;
    // While Pulling: ms until a half line's idle time (IdleLineMs) is over and a Pull shows it;
    // -1 when none waits.
    int PullDueMs() const;

    // What a Pull did.
    enum class PullResult {
        Line,    //!< One received line went to OnRxLine.
        Nothing, //!< Nothing came within the time (a client's arrival or departure may have been told).
        Ended,   //!< The link has ended; OnDisconnected has run (on the first such Pull).
    };
    // Pull mode, UI thread, once BeginOpen's done has run. Runs the next received line through
    // OnRxLine, reading the link for up to timeoutMs (-1: no limit) when none is waiting; one line
    // per call, in arrival order, as the hand-over would deliver them one by one. At the link's
    // end (the peer's, or this side's Close) the lines that had come, then its half line, then
    // OnDisconnected, each on its own call. Not in pull mode, or before the open: Nothing at once.
    // An exception from a notification passes to the caller.
    PullResult Pull(int timeoutMs);

    // Notifications; set them before Open. An empty one is not called.
    void SetOnTxEcho(TxEchoHandler handler) { onTxEcho_ = std::move(handler); }
    void SetOnRxLine(RxLineHandler handler);
    void SetOnConnected(EventHandler handler) { onConnected_ = std::move(handler); }
    void SetOnDisconnected(EventHandler handler);
    // Clients of a listening port: "Client a.b.c.d:p connected." and "Client a.b.c.d:p left.".
    void SetOnStatus(StatusHandler handler) { onStatus_ = std::move(handler); }

    // Starts opening a kind with a transport ("com", "tcp", "tcpsrv") in the reader thread and
    // returns at once. When the attempt has ended, done runs (by hand-over), then OnConnected if it
    // succeeded; a transport that failed ends the reader at once with OnDisconnected. Close before
    // the end cancels the attempt. Any other kind: false, nothing started, no notification. Once
    // per TIO.
    bool BeginOpen(const ConnectionTarget& target, OpenDone done = {});
    bool BeginOpen(const std::string& connection, OpenDone done = {});
    // BeginOpen, then waits for the attempt's end (running hand-overs meanwhile). True when open;
    // OnConnected has run by then.
    bool Open(const ConnectionTarget& target);
    bool Open(const std::string& connection);
    // Closes the transport (cancelling an open under way); the reader thread then ends by itself
    // with OnDisconnected.
    void Close();
    bool IsOpen() const;
    // Sends exactly the text's bytes (no terminator is added). OnTxEcho tells of it once all bytes
    // went out; false (and no echo) when they did not: SendFailure() says why.
    bool Send(const std::string& text);
    bool SendData(const void* data, size_t length);
    // Which line may be the reply; the others are shown and passed over while the wait goes on.
    using ReplyFilter = std::function<bool(const std::string& line)>;
    // Sends command and waits up to timeoutMs for the next line that accept takes (any line when
    // accept is empty), which becomes reply (and goes to OnRxLine). Time-out: reply "???", false.
    // Lines queued before the command reach OnRxLine before it is sent, lines passed over as they
    // come, and lines that came after the reply in order before Query returns: none is lost or
    // taken for another's reply. Not from inside this TIO's OnRxLine: the reader waits for that
    // step and cannot read the reply meanwhile. In pull mode Query reads the link itself.
    bool Query(const std::string& command, std::string& reply, int timeoutMs, const ReplyFilter& accept = {});

    const std::string& LastSent() const { return lastSent_; }
    // When the first byte after the last send came from the link (GetTickCount), whole line or
    // not: the reply's start, which a line shown only after its idle time must not be timed by.
    // 0 while none has come. Any thread.
    uint32_t FirstByteTick() const { return firstByteTick_; }
    // How many received bytes wait for their line end now (the half line). Any thread.
    size_t WaitingBytes() const { return waitingBytes_; }
    // When the last byte came from the link (GetTickCount), whole line or not; 0 before any. Any
    // thread: a reply that trickles in is still coming although no line has ended yet.
    uint32_t LastByteTick() const { return lastByteTick_; }
    std::string LastReceived() const;
    // Inside OnRxLine: when the line arrived, "hh:nn:ss.zzz" local time, taken as it was framed.
    const std::string& LineStamp() const { return lineStamp_; }
    // Why the last send failed, or (in and after OnDisconnected) why the connection ended; empty
    // when the operator closed it.
    std::string SendFailure() const;
    std::string EndReason() const { return SendFailure(); }
    // The transport, for callers that need its particulars (the port a server listens on).
    TConnection* Transport() const { return transport_.get(); }

private:
    bool WriteTraced(const void* data, size_t length);
    void StartReader(std::string params = {});
    void ReaderLoop(const std::string& params);
    // pulled: the open succeeded in pull mode, so the UI thread reads the link from now on.
    bool OpenInReader(const std::string& params, bool& pulled);
    void ReadUntilEnd();
    void OnPeerEvent(PeerEvent event, const std::string& peer);
    void FlushPartialLine();
    // Frames count bytes (none when count <= 0) read just now, each line stamped with their arrival.
    void Frame(const uint8_t* chunk, int count);
    // After count bytes were framed (none when count <= 0): their tick, and when the half line
    // they left began to wait.
    void NoteBytes(int count);
    void NoteIdleStart();
    void FlushIdleLine();
    void OnFramedLine(const std::string& line);
    void OnFramedLine(const std::string& line, const std::string& stamp);
    void DeliverLine();
    void DeliverOwedLines(int owed);
    void DeliverQueuedLine(const std::string& line, const std::string& stamp);
    void SetLastReceived(const std::string& line);
    void RunDisconnected();
    void ReportStepError(const std::string& what);
    // Pull mode: one read of up to timeoutMs, framed into replyFifo_; false once the link ended.
    bool ReadPulled(int timeoutMs);

    Handover& handover_;
    std::unique_ptr<TConnection> transport_; //!< Set before the reader starts; deleted after it ended.
    LineFramer framer_;                      //!< Reader thread only, once started.
    TLockedFifo replyFifo_;
    std::thread reader_;
    bool started_ = false;
    std::atomic<bool> stop_{false};

    // Guarded by the hand-over lock (changed through Handover::Notify, read in WaitUntil).
    bool lineSignalled_ = false; //!< The line event: auto-reset, signalled once per completed line.
    bool ended_ = false;         //!< The reader thread has delivered its end.
    bool rxHandover_ = false;    //!< Lines are handed over; Query switches it off while it waits.
    int owed_ = 0;               //!< Lines queued while rxHandover_ was off, not handed over.

    std::atomic<bool> hasDisconnected_{false};

    // Pull mode. pullMode_ is set before the reader starts; the others belong to the UI thread.
    bool pullMode_ = false;
    PullWait pullWait_ = PullWait::InPull;
    bool pulling_ = false;   //!< The open succeeded: the UI thread reads the link.
    bool pullEnded_ = false; //!< The transport's end was read (the half line queued).
    bool pullDone_ = false;  //!< OnDisconnected has run.
    bool querying_ = false;  //!< UI thread: a Query waits; delivery steps handed over before it do nothing.

    // IdleLineMs: the reading thread's.
    std::string idleStamp_;  //!< The arrival of the half line's last bytes.
    std::string chunkStamp_; //!< The reading thread's: the arrival of the bytes being framed.
    unsigned idleSince_ = 0; //!< Their tick.

    TxEchoHandler onTxEcho_;
    RxLineHandler onRxLine_;
    EventHandler onConnected_;
    EventHandler onDisconnected_;
    StatusHandler onStatus_;
    OpenDone openDone_; //!< UI thread; runs once, in the hand-over that ends the open.

    std::string lastSent_;
    std::atomic<uint32_t> lastByteTick_{0};  //!< Written by whichever thread reads the link.
    std::atomic<uint32_t> firstByteTick_{0}; //!< Cleared by a send, set by the reading thread.
    std::atomic<bool> firstByteOwed_{false}; //!< A send waits for its first byte.
    std::atomic<size_t> waitingBytes_{0};    //!< Set by the reading thread after each framing.
    std::string lineStamp_;                  //!< UI thread: the stamp of the line being delivered.
    mutable std::mutex lastReceivedLock_;    //!< Protects lastReceived_ (written by both threads).
    std::string lastReceived_;
};
