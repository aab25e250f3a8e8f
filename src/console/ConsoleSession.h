#pragma once
// The conversation with one instrument, without a window: the link (a TIO or GPIB), opening and
// closing it, drops with their reasons, every log line it makes (text, colour, arrival stamp),
// reply statistics, the session log file and the automatic reconnect. A face drives it and shows
// what it says: the console window (Qt timers and notifiers) and the headless runner (a poll
// loop). What the session needs of its face goes through SessionFace.
//
// Threads: everything runs on the UI thread of the Handover the session is made with; the link's
// events come to it by hand-over, or, when the face reads the link itself (SetPullLink), from Pull.
#include "connection/ConnectionKinds.h"
#include "console/ConsoleLink.h"
#include "console/Reconnect.h"
#include "console/RepeatedLine.h"
#include "console/ReplyStatistics.h"
#include "console/UnendedBytes.h"
#include "log/LogColours.h"
#include "log/SessionLog.h"
#include "plot/ReplySeries.h"

#include <cstdint>

class TSerialConnection;
#include <memory>
#include <string>
#include <vector>

// What a session asks of the face that shows it. Each runs on the UI thread.
class SessionFace {
public:
    virtual ~SessionFace() = default;
    // A log line to show, stamped ("[hh:nn:ss.zzz] text"), in its colour.
    virtual void ShowLine(const std::string& line, uint32_t colour) = 0;
    // Starts link.BeginOpen and waits for its end while the face keeps running (hand-overs
    // included); reason: why it failed. The session cancels it through the link's Close.
    virtual OpenResult AwaitOpen(ConsoleLink& link, std::string& reason) = 0;
    // A received line (trimmed) after it was logged and timed.
    virtual void LineReceived(const std::string& /*line*/) {}
    // The link, the title or the log file changed: whatever shows them is brought up to date.
    virtual void StateChanged() {}
    // The link dropped for good: what was sending (repeat, ping-pong, a batch run) ends.
    virtual void SendingEnded() {}
    // The link dropped and is tried again: what was sending waits ...
    virtual void SendingPaused() {}
    // ... and goes on once it is back.
    virtual void SendingResumed() {}
    // The GPIB device asked for service (after "SRQ!" was logged).
    virtual void ServiceRequest() {}
    // The session log file failed and logging stopped (after the red line was logged).
    virtual void LogFileFailed(const std::string& /*path*/, const std::string& /*reason*/) {}
    // The series' CSV file failed and stopped (after the red line was logged).
    virtual void CsvFileFailed(const std::string& /*path*/, const std::string& /*reason*/) {}
    // The one timer of the session, single shot: after ms the face calls TimerDue(). Arming it
    // again replaces the earlier time. Only needed by a face that reconnects.
    virtual void ArmTimer(uint32_t /*ms*/) {}
    virtual void CancelTimer() {}
    // Watches fd for readability and calls FdReady() each time it is; -1 stops watching.
    virtual void WatchFd(int /*fd*/) {}
    // PullMode::Watched: calls the session's Pull(0) whenever one of fds is readable, and once
    // dueMs has passed (-1: no time); an empty list stops watching. Told again whenever the list
    // or the time may have changed (a listening port's client came or went, a half line waits).
    virtual void WatchLink(const std::vector<int>& /*fds*/, int /*dueMs*/) {}
};

class ConsoleSession {
public:
    // A link that drops within this time of an automatic reopen counts as a failed attempt.
    static constexpr uint32_t ReopenProbationMs = 2000;

    explicit ConsoleSession(SessionFace& face, Handover& handover = Handover::Main());
    // Closes the link; its end is not logged as a drop.
    ~ConsoleSession();
    ConsoleSession(const ConsoleSession&) = delete;
    ConsoleSession& operator=(const ConsoleSession&) = delete;

    // --- The connection ---
    // The string is read once here; the link and the reconnect take the parsed target.
    void SetConnection(const std::string& connection) {
        connection_ = connection;
        target_ = ParseConnection(connection);
    }
    const std::string& Connection() const { return connection_; }
    void SetOpenTimeout(int ms) { openTimeoutMs_ = ms; }
    // What a send appends and what ends a received line, for the next open.
    void SetLineEnds(const LineEnds& ends) { lineEnds_ = ends; }
    const LineEnds& GetLineEnds() const { return lineEnds_; }
    // Opens the connection string as it is, through the face's wait. A failure is logged in red
    // with its reason ("Opening ... failed. Connection refused."); reason gets the reason.
    OpenResult Open(std::string* reason = nullptr);
    // The operator's close: the attempts to reconnect end, the link closes and its end is logged
    // without a reason, and what was sending (repeat, ping-pong, a run) ends as on a drop, unless
    // keepSending (the Reconnect item, which opens again at once). During an open it cancels the
    // open.
    void Close(bool keepSending = false);
    // Gives an open under way up, and with it the automatic reconnect.
    void CancelOpen();
    bool IsOpen() const { return link_ && link_->IsOpen(); }
    bool IsOpening() const { return opening_; }
    // The operator's view: a link was opened and has not been closed (a drop being reconnected
    // still counts).
    bool Connected() const { return connected_; }
    bool IsGpib() const { return link_ && link_->IsGpib(); }
    // GPIB or a LAN instrument's message link: replies are read on request (ReadReply).
    bool ReadsOnRequest() const { return link_ && link_->ReadsOnRequest(); }
    ConsoleLink* Link() const { return link_.get(); }

    // --- Reading the link in the face's own loop ---
    // Not Off: a link that can be read so (serial, TCP, a listening port) is read by the face
    // through Pull instead of each line being handed over from the link's reader thread, so a
    // received line costs the face's thread alone: Waited for a loop that blocks in Pull (the
    // headless runner), Watched for an event loop that watches the link (WatchLink; the window).
    // Before Open; GPIB is read on request either way.
    void SetPullLink(PullMode mode) { pullLink_ = mode; }
    // The open link is read through Pull (until its end has been told).
    bool Pulling() const { return link_ && link_->Pulling(); }
    // Runs waiting hand-overs, then the link's next received line (LineReceived and all, as a
    // hand-over would) or its end, reading the link for up to ms when nothing has come. True when
    // a line or the end was delivered. Without a pulled link it only runs the hand-overs.
    bool Pull(uint32_t ms);
    // A command went out and no line has come since.
    bool AwaitsReply() const { return awaitingReply_; }

    // --- Sending ---
    // On: \r \n \t \xhh and \\ in what Send is given become their bytes, and a line with a
    // malformed escape is not sent ("Not sent: ..."); the link then decodes nothing more. Off (the
    // default): text goes to the link as it is, and a GPIB link decodes its own escapes.
    void SetEscapes(bool on) { escapes_ = on; }
    bool Escapes() const { return escapes_; }
    // Sends text plus the line end and starts timing the reply. "Not sent: ..." is logged in red
    // when it did not go out (no link, or the link's reason); false then. The same "Not sent"
    // again and again is logged once, and how often it came follows before the next other line.
    bool Send(const std::string& text);
    // Sends exactly bytes, with no line end and no escapes decoded (the input line's hex mode), and
    // times the reply as Send does; failures are logged as Send logs them.
    bool SendBytes(const std::string& bytes);
    // Sends text as it is, escapes and all (GPIB's Write), without timing.
    bool Write(const std::string& text);
    // Reads a reply (GPIB); a TIO's lines come by themselves.
    void ReadReply();

    // --- A serial port's own lines, for every face ---
    // The open serial port under the link; none for other kinds.
    TSerialConnection* SerialPort() const;
    // Switches DTR (else RTS) and logs it ("DTR on"): empty, or why not (not a serial port, the
    // port's reason).
    std::string SetModemLine(bool dtr, bool on);
    // Starts a break and logs it ("Break for ms ms"), or ends it (on false); the face ends it in
    // time. Empty, or why no break was sent.
    std::string Break(bool on, uint32_t ms = 0);
    // Whether command waits for a reply: where replies are read on request (GPIB, a LAN
    // instrument) only one that ends in '?' (the face reads its reply at once, ReadReply), on the
    // other kinds every one.
    bool ExpectsReply(const std::string& command) const;

    // --- The log ---
    // On (the console's Show Control Characters or hex view): a sent or received line is logged with every
    // byte but its line end, control bytes at its start and end included. Off (the default): it
    // is trimmed of them. Either way the reply statistics, the series and the face get the
    // trimmed line.
    void SetKeepControlBytes(bool on) { keepControlBytes_ = on; }
    bool KeepsControlBytes() const { return keepControlBytes_; }
    void Log(const std::string& text, uint32_t colour);
    // A line with a given stamp ("hh:nn:ss.zzz"; empty: now).
    void LogAt(const std::string& stamp, const std::string& text, uint32_t colour);
    // A line shown and written as it is, without a stamp.
    void LogLine(const std::string& line, uint32_t colour);

    // --- Reply statistics ---
    const ReplyStatistics& Statistics() const { return stats_; }
    void ResetStatistics() { stats_.Reset(); }
    // Logs "#ReplyTime=n ms." after the first reply to each send. A reply is timed from the send
    // to its first byte, so a prompt shown after its idle time is not timed by that wait.
    void SetShowReplyTimes(bool on) { showReplyTimes_ = on; }
    // The line the operator looks for as the answer: the last whole line received since the last
    // send, or a prompt (bytes shown after the idle time) when no whole line came before it.
    const std::string& LastReply() const { return lastReply_; }

    // --- Bytes that wait for a line end ---
    // The hint that received bytes have waited UnendedBytes::WaitMs without a line end (when no
    // idle time shows them sooner), once per such wait; empty otherwise. The face asks now and
    // then and shows it without logging it.
    std::string UnendedBytesHint(uint32_t now);

    // --- The session log file ---
    // Opens path for appending and writes a separator. announce: say so in the log (also when
    // it fails, in red). False when it cannot be opened: LogFile().Failure() says why.
    bool StartLogFile(const std::string& path, bool announce = true);
    void StopLogFile();
    // Writes the lines logged since the last call. A face calls it before it shows them (the
    // window before it paints, the headless runner once per turn), so that what was seen is on
    // disk. A file deleted meanwhile is made again with a separator and a blue line that says
    // so; one that cannot be (its folder is gone too) ends logging with a red line.
    void FlushLogFile();
    const SessionLog& LogFile() const { return logFile_; }
    // The window's title: the base title (the connection, "disconnected") and the log file.
    std::string Title() const;
    void SetBaseTitle(const std::string& title) { title_ = title; }

    // --- Series from replies (the plot and its CSV) ---
    // Every received line goes through them once logged; none are defined unless a face sets them.
    ReplySeries& Series() { return series_; }
    const ReplySeries& Series() const { return series_; }

    // --- Automatic reconnect ---
    void SetAutoReconnect(bool on);
    bool AutoReconnect() const { return autoReconnect_; }
    bool Reconnecting() const { return plan_.Active(); }
    // The face's timer and watched descriptor.
    void TimerDue();
    void FdReady();

private:
    LinkEvents MakeLinkEvents();
    void OnConnected();
    void OnDisconnected(const std::string& reason);
    void OnRxLine(const std::string& received, const std::string& stamp);
    // A line as the log shows it (SetKeepControlBytes).
    std::string LoggedText(const std::string& text) const;
    void WriteToLogFile(const std::string& line);
    // Sends bytes through the link's send and starts timing the reply; a failure is logged.
    bool SendTimed(bool (ConsoleLink::*send)(const std::string&), const std::string& bytes);
    void LogNotSent(const std::string& text);
    // Logs the count of the repeated "Not sent" line, if any.
    void FlushRepeats();
    // The link itself, closed and gone, its end not taken as a drop.
    void DropLink();
    // Tells a watching face what to watch now (nothing once the link is gone).
    void UpdateLinkWatch();
    bool ShouldReconnect(const std::string& reason) const;
    void BeginReconnect();
    void ScheduleReconnect();
    void ReconnectAttempt();
    void StopReconnect();
    bool DeviceIsThere() const;
    void LookForDeviceLater();

    SessionFace& face_;
    Handover& handover_;
    std::string connection_;
    ConnectionTarget target_;
    int openTimeoutMs_ = -1;
    PullMode pullLink_ = PullMode::Off;
    bool escapes_ = false;
    bool keepControlBytes_ = false;
    LineEnds lineEnds_;
    std::unique_ptr<ConsoleLink> link_;
    // Pull may run inside Pull (a box a line opens runs a loop, which reads the link): a link
    // dropped meanwhile is closed at once but kept until the outermost Pull has returned.
    int pullDepth_ = 0;
    std::vector<std::unique_ptr<ConsoleLink>> retiredLinks_;
    bool connected_ = false;
    bool opening_ = false;
    bool automaticOpen_ = false; //!< The open under way is a reconnect attempt.
    bool closing_ = false;       //!< This side closes the link: its end is no drop.
    std::string endReason_;      //!< Why the last link ended.

    uint32_t sendTick_ = 0;
    bool awaitingReply_ = false;
    bool replyTimeShown_ = true; //!< The reply time of the last send has been logged.
    bool showReplyTimes_ = false;
    bool wholeLineSinceSend_ = false;
    std::string lastReply_;
    ReplyStatistics stats_;
    UnendedBytes unended_;
    RepeatedLine notSent_;

    SessionLog logFile_;
    ReplySeries series_;
    std::string title_;

    bool autoReconnect_ = false;
    ReconnectPlan plan_;
    FolderWatch deviceFolder_; //!< Tells when to look for a dropped serial device.
};
