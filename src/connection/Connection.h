#pragma once
// TIO: the console's one connection to an instrument over a serial port, a TCP connection or a
// listening TCP port. It owns the transport and a reader thread that frames received bytes into
// lines and hands each line to the UI thread synchronously, in arrival order.
//
// Threads: every public operation is for the UI thread (the thread of the Handover given at
// construction). The notifications run in the UI thread: OnTxEcho and OnConnected inside the
// operation that causes them; OnRxLine and OnDisconnected by hand-over from the reader thread,
// which waits until they have run; OnRxLine also directly from Query.
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

    // Text the delivery step leaves in LastReceived when it finds no line queued.
    static constexpr char EmptyFifoText[] = "Error: ReplyFifo empty!";
    // The reply of a query that timed out.
    static constexpr char TimeoutReply[] = "???";

    explicit TIO(Handover& handover = Handover::Main());
    // Closes the transport, lets the reader thread deliver its OnDisconnected (the UI thread runs
    // hand-overs while it waits) and joins it. A TIO that was never opened also gives one
    // OnDisconnected. Must not be called from inside this TIO's own OnRxLine or OnDisconnected.
    ~TIO();
    TIO(const TIO&) = delete;
    TIO& operator=(const TIO&) = delete;

    // Framing; set before Open. With the defaults a line runs from '#' to '*'; the console sets
    // EndChar to LF and switches StartChar off.
    bool StartCharEnabled = true;
    bool EndCharEnabled = true;
    uint8_t StartChar = '#';
    uint8_t EndChar = '*';

    // Notifications; set them before Open. An empty one is not called.
    void SetOnTxEcho(TxEchoHandler handler) { onTxEcho_ = std::move(handler); }
    void SetOnRxLine(RxLineHandler handler);
    void SetOnConnected(EventHandler handler) { onConnected_ = std::move(handler); }
    void SetOnDisconnected(EventHandler handler);

    // Opens "com:...", "tcp:..." or "tcpsrv:..." and starts the reader thread (also when the
    // transport failed to open: it then ends at once with OnDisconnected). Any other kind: false,
    // nothing started, no notification. Called once per TIO. A "tcpsrv" port text that is not an
    // integer throws EConvertError. OnConnected is called before a successful Open returns.
    bool Open(const std::string& connection);
    // Closes the transport; the reader thread then ends by itself with OnDisconnected.
    void Close();
    bool IsOpen() const;
    // Sends exactly the text's bytes (no terminator is added).
    bool Send(const std::string& text);
    bool SendData(const void* data, size_t length);
    // Sends command and waits up to timeoutMs for the next line, which becomes reply (and goes to
    // OnRxLine). Time-out: reply "???", false. Lines queued before the command are dropped; lines
    // after the reply stay queued and reach OnRxLine one line event later each. Not from inside
    // this TIO's OnRxLine: the reader waits for that step and cannot read the reply meanwhile.
    bool Query(const std::string& command, std::string& reply, int timeoutMs);

    const std::string& LastSent() const { return lastSent_; }
    std::string LastReceived() const;
    // The transport, for callers that need its particulars (the port a server listens on).
    TConnection* Transport() const { return transport_.get(); }

private:
    bool WriteTraced(const void* data, size_t length);
    void StartReader();
    void ReaderLoop();
    void OnFramedLine(const std::string& line);
    void DeliverLine();
    void SetLastReceived(const std::string& line);
    void RunDisconnected();

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

    // What the reader thread needs to know of the notifications. Query switches the line
    // hand-over off while it waits, so the reader only queues lines then.
    std::atomic<bool> rxHandover_{false};
    std::atomic<bool> hasDisconnected_{false};
    bool querying_ = false; //!< UI thread: a Query waits; delivery steps handed over before it do nothing.

    TxEchoHandler onTxEcho_;
    RxLineHandler onRxLine_;
    EventHandler onConnected_;
    EventHandler onDisconnected_;

    std::string lastSent_;
    mutable std::mutex lastReceivedLock_; //!< Protects lastReceived_ (written by both threads).
    std::string lastReceived_;
};
