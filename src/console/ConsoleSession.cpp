#include "console/ConsoleSession.h"

#include "connection/Connection.h"
#include "connection/SerialConnection.h"
#include "console/ConsoleLinkFactory.h"
#include "console/LogTexts.h"
#include "platform/Tick.h"
#include "plot/PlotTime.h"
#include "text/Escapes.h"
#include "text/Strtools.h"

#include <filesystem>

ConsoleSession::ConsoleSession(SessionFace& face, Handover& handover) : face_(face), handover_(handover) {
    series_.CsvFailed = [this](const std::string& path, const std::string& reason) {
        Log("Writing the CSV file \"" + path + "\" stopped. " + reason, LogColours::Error);
        face_.CsvFileFailed(path, reason);
    };
    series_.CsvReopened = [this](const std::string& path) {
        Log("The CSV file " + path + " was deleted: its rows go on in a new one.", LogColours::Status);
    };
}

ConsoleSession::~ConsoleSession() {
    StopReconnect();
    // A GPIB link unloads its driver, whose thread must stop first; a TIO's reader delivers its
    // end while this waits, and it is no drop.
    closing_ = true;
    link_.reset();
}

// --- The connection ---

OpenResult ConsoleSession::Open(std::string* reason) {
    link_ = MakeConsoleLink(target_, MakeLinkEvents(), handover_);
    link_->SetOpenTimeout(openTimeoutMs_);
    link_->SetPullMode(pullLink_);
    link_->SetLineEnds(lineEnds_);
    std::string why;
    opening_ = true;
    endReason_.clear();
    OpenResult result = face_.AwaitOpen(*link_, why);
    opening_ = false;
    if (result == OpenResult::Opened && !link_->IsOpen()) {
        // It dropped while the open was being finished: that open did not hold.
        result = OpenResult::Failed;
        why = endReason_;
    }
    if (reason) *reason = why;
    if (result != OpenResult::Opened) {
        DropLink(); // an automatic attempt's end was logged; an open that never was tells of none
        // An automatic attempt that fails is told by its "Reconnecting" line alone. The operator's
        // open that fails plans no attempts, also when its drop was told before the open ended.
        if (!automaticOpen_) {
            StopReconnect();
            Log(WithReason("Opening " + connection_ + " failed.", why), LogColours::Error);
        }
        face_.StateChanged();
        return result;
    }
    connected_ = true;
    UpdateLinkWatch();
    face_.StateChanged();
    return result;
}

void ConsoleSession::Close(bool keepSending) {
    FlushRepeats();
    // The operator's Disconnect ends the attempts, and what was sending or waited for the link
    // ends as on a drop: a repeat left running would fill the log with "Not sent" on every tick.
    const bool waiting = plan_.Active();
    StopReconnect();
    plan_.End();
    if (waiting || (connected_ && !keepSending)) face_.SendingEnded();
    if (opening_) {
        // The open's own wait runs below this call: cancel it, it ends there.
        if (link_) link_->Close();
        return;
    }
    DropLink();
    connected_ = false;
    face_.StateChanged();
}

void ConsoleSession::CancelOpen() {
    plan_.End();
    if (link_) link_->Close();
}

void ConsoleSession::DropLink() {
    if (!link_) return;
    // Before the descriptors close: a watch on a closed one (or its reused number) would fire.
    if (pullLink_ == PullMode::Watched) face_.WatchLink({}, -1);
    closing_ = true;
    link_->Close();
    if (pullDepth_ > 0) {
        retiredLinks_.push_back(std::move(link_));
        closing_ = false;
        return;
    }
    link_.reset(); // a TIO's reader delivers Disconnected while this waits
    closing_ = false;
}

LinkEvents ConsoleSession::MakeLinkEvents() {
    LinkEvents events;
    events.TxEcho = [this](const std::string& text) { Log("Tx: " + LoggedText(text), LogColours::Tx); };
    events.RxLine = [this](const std::string& line, const std::string& stamp) { OnRxLine(line, stamp); };
    events.Connected = [this] { OnConnected(); };
    events.Disconnected = [this](const std::string& reason) { OnDisconnected(reason); };
    events.Status = [this](const std::string& text) { Log(text, LogColours::Status); };
    events.ServiceRequest = [this] {
        Log("SRQ!", LogColours::Status);
        face_.ServiceRequest();
    };
    events.DriverError = [this](const std::string& message) { Log("Error: " + message, LogColours::Error); };
    events.Interrupt = [this] { Log("Interrupt!", LogColours::Status); };
    return events;
}

void ConsoleSession::OnConnected() {
    // The separator comes before the session's first line.
    WriteToLogFile(SessionSeparator(GetDateTimeStamp(), connection_));
    const std::string note = link_ ? link_->OpenedNote() : std::string();
    Log(note.empty() ? ConnectedText(connection_, GetTimeStamp(), GetTickCount()) : note, LogColours::Status);
    title_ = connection_;
    face_.StateChanged();
}

void ConsoleSession::OnDisconnected(const std::string& reason) {
    endReason_ = reason;
    Log(WithReason("disconnected.", reason), LogColours::Status);
    title_ = "disconnected";
    if (closing_ || (opening_ && automaticOpen_)) {
        // This side's close, or an attempt that did not hold: the attempt goes on where it waits.
    } else if (ShouldReconnect(reason)) {
        face_.SendingPaused();
        BeginReconnect();
    } else {
        // Nothing will bring this link back: the operator sees it closed and may connect again.
        connected_ = false;
        face_.SendingEnded();
    }
    face_.StateChanged();
}

// --- Sending and receiving ---

bool ConsoleSession::Pull(uint32_t ms) {
    handover_.RunPending();
    if (!Pulling()) return false;
    ++pullDepth_;
    ConsoleLink& link = *link_;
    const bool delivered = link.Pull(static_cast<int>(ms));
    if (--pullDepth_ == 0 && !retiredLinks_.empty()) {
        closing_ = true;
        retiredLinks_.clear();
        closing_ = false;
    }
    UpdateLinkWatch();
    return delivered;
}

void ConsoleSession::UpdateLinkWatch() {
    if (pullLink_ != PullMode::Watched) return;
    if (!link_ || !link_->Pulling()) {
        face_.WatchLink({}, -1);
        return;
    }
    face_.WatchLink(link_->PullDescriptors(), link_->PullDueMs());
}

bool ConsoleSession::Send(const std::string& text) {
    if (!IsOpen()) {
        // The timer, ping-pong or a run after the link dropped: say so, never claim a send.
        LogNotSent("Not sent: not connected.");
        return false;
    }
    std::string bytes = text;
    std::string malformed;
    if (escapes_ && !ExpandEscapes(text, bytes, malformed)) {
        LogNotSent("Not sent: " + malformed + ".");
        return false;
    }
    // Expanded escapes go out as they are: a link that decodes its own (GPIB) would read a typed
    // \\r, now a backslash and an r, as a CR.
    return SendTimed(escapes_ ? &ConsoleLink::WriteLine : &ConsoleLink::SendLine, bytes);
}

bool ConsoleSession::SendBytes(const std::string& bytes) {
    if (!IsOpen()) {
        LogNotSent("Not sent: not connected.");
        return false;
    }
    return SendTimed(&ConsoleLink::SendBytes, bytes);
}

// The reply is timed from the send: the tick is taken before the bytes go out and a reply can come.
bool ConsoleSession::SendTimed(bool (ConsoleLink::*send)(const std::string&), const std::string& bytes) {
    sendTick_ = GetTickCount();
    replyTimeShown_ = false;
    wholeLineSinceSend_ = false;
    if ((link_.get()->*send)(bytes)) {
        awaitingReply_ = true;
        return true;
    }
    LogNotSent(WithReason("Not sent:", link_->SendFailure()));
    return false;
}

bool ConsoleSession::Write(const std::string& text) {
    if (!link_) return false;
    if (link_->WriteLine(text)) return true;
    LogNotSent(WithReason("Not sent:", link_->SendFailure()));
    return false;
}

void ConsoleSession::LogNotSent(const std::string& text) {
    const std::string stamp = GetTimeStamp();
    if (notSent_.Repeats(text, stamp)) return;
    LogAt(stamp, text, LogColours::Error);
    notSent_.Logged(text);
}

void ConsoleSession::FlushRepeats() {
    std::string text;
    std::string stamp;
    if (!notSent_.TakeSummary(text, stamp)) return;
    const std::string line = StampedLine(stamp, text);
    face_.ShowLine(line, LogColours::Error);
    WriteToLogFile(line);
}

void ConsoleSession::ReadReply() {
    if (link_) link_->ReadReply();
}

std::string ConsoleSession::LoggedText(const std::string& text) const {
    return keepControlBytes_ ? text : TrimText(text);
}

void ConsoleSession::OnRxLine(const std::string& received, const std::string& stamp) {
    awaitingReply_ = false;
    const std::string line = TrimText(received);
    LogAt(stamp, "Rx: " + LoggedText(received), LogColours::Rx);
    const bool prompt = received.ends_with(TIO::NoLineEndNote);
    if (!prompt || !wholeLineSinceSend_) lastReply_ = line;
    if (!prompt) wholeLineSinceSend_ = true;
    // Every line is timed from the last send to the reply's first byte, whether or not the reply
    // time is shown: a line shown after its idle time came before that wait. A link that cannot
    // tell when its first byte came (GPIB) is timed as its line arrives.
    const uint32_t firstByte = link_ ? link_->FirstByteTick() : 0;
    const uint32_t dt = TickDiff(firstByte != 0 ? firstByte : GetTickCount(), sendTick_);
    stats_.Add(line, dt);
    // With no series the line costs nothing more than this test.
    if (series_.Count() != 0) series_.Take(line, stamp.empty() ? GetTimeStamp() : stamp, LocalNowMs());
    if (showReplyTimes_ && !replyTimeShown_) {
        Log("#ReplyTime=" + std::to_string(dt) + " ms.", LogColours::Status);
        replyTimeShown_ = true;
    }
    face_.LineReceived(line);
}

std::string ConsoleSession::UnendedBytesHint(uint32_t now) {
    // An idle time within the wait shows the bytes itself.
    const bool idleShows =
        lineEnds_.idleMs > 0 && static_cast<uint32_t>(lineEnds_.idleMs) <= UnendedBytes::WaitMs;
    const size_t waiting = IsOpen() && !idleShows ? link_->WaitingBytes() : 0;
    return unended_.Check(waiting, waiting ? link_->LastByteTick() : 0, now);
}

// --- A serial port's own lines ---

TSerialConnection* ConsoleSession::SerialPort() const {
    TIO* io = IsOpen() ? link_->Tio() : nullptr;
    return io ? dynamic_cast<TSerialConnection*>(io->Transport()) : nullptr;
}

std::string ConsoleSession::SetModemLine(bool dtr, bool on) {
    TSerialConnection* port = SerialPort();
    if (!port) return "not a serial port.";
    if (!(dtr ? port->SetDtr(on) : port->SetRts(on))) return port->ModemFailure();
    Log(std::string(dtr ? "DTR " : "RTS ") + (on ? "on" : "off"), LogColours::Status);
    return {};
}

std::string ConsoleSession::Break(bool on, uint32_t ms) {
    TSerialConnection* port = SerialPort();
    if (!port) return "not a serial port.";
    if (!port->SetBreak(on)) return port->ModemFailure();
    if (on) Log("Break for " + std::to_string(ms) + " ms", LogColours::Status);
    return {};
}

bool ConsoleSession::ExpectsReply(const std::string& command) const {
    return !ReadsOnRequest() || command.ends_with('?');
}

// --- The log ---

void ConsoleSession::Log(const std::string& text, uint32_t colour) {
    LogLine(StampedLine(GetTimeStamp(), text), colour);
}

void ConsoleSession::LogAt(const std::string& stamp, const std::string& text, uint32_t colour) {
    LogLine(StampedLine(stamp.empty() ? GetTimeStamp() : stamp, text), colour);
}

void ConsoleSession::LogLine(const std::string& line, uint32_t colour) {
    FlushRepeats();
    face_.ShowLine(line, colour);
    WriteToLogFile(line);
}

// --- The session log file ---

bool ConsoleSession::StartLogFile(const std::string& path, bool announce) {
    if (!logFile_.Open(path)) {
        if (announce)
            Log(WithReason("Logging to " + path + " failed:", logFile_.Failure()), LogColours::Error);
        face_.StateChanged();
        return false;
    }
    // A file that takes not even the separator is said at once, not at the first repaint.
    WriteToLogFile(SessionSeparator(GetDateTimeStamp(), connection_));
    FlushLogFile();
    face_.StateChanged();
    if (announce && logFile_.IsOpen()) Log("Logging to " + path, LogColours::Status);
    return true;
}

void ConsoleSession::StopLogFile() {
    if (!logFile_.IsOpen()) return;
    Log("Logging to " + logFile_.Path() + " ended.", LogColours::Status);
    FlushLogFile();
    logFile_.Close();
    face_.StateChanged();
}

void ConsoleSession::WriteToLogFile(const std::string& line) {
    logFile_.Queue(line);
}

void ConsoleSession::FlushLogFile() {
    if (logFile_.Flush()) return;
    const std::string path = logFile_.Path();
    if (logFile_.Vanished() && logFile_.Reopen(SessionSeparator(GetDateTimeStamp(), connection_))) {
        Log("The log file " + path + " was deleted: logging goes on in a new one.", LogColours::Status);
        return;
    }
    // The file is closed now, so this line goes to the screen only: said once, the session goes on.
    face_.StateChanged();
    Log(WithReason("Logging to " + path + " stopped:", logFile_.Failure()), LogColours::Error);
    face_.LogFileFailed(path, logFile_.Failure());
}

std::string ConsoleSession::Title() const {
    return logFile_.IsOpen() ? title_ + " - logging to " + logFile_.Path() : title_;
}

// --- Automatic reconnect ---

void ConsoleSession::SetAutoReconnect(bool on) {
    autoReconnect_ = on;
    if (on || !plan_.Active()) return;
    // No more attempts: what waited ends as on any drop.
    StopReconnect();
    face_.SendingEnded();
    connected_ = false;
    face_.StateChanged();
}

bool ConsoleSession::ShouldReconnect(const std::string& reason) const {
    return !reason.empty() && autoReconnect_ && ReconnectWayFor(target_) != ReconnectWay::None;
}

void ConsoleSession::BeginReconnect() {
    plan_.Begin(GetTickCount());
    if (ReconnectWayFor(target_) != ReconnectWay::WhenDevice) {
        ScheduleReconnect();
        return;
    }
    const std::string device = SerialDevicePath(target_);
    const std::string folder = std::filesystem::path(device).parent_path().string();
    if (!deviceFolder_.Start(folder)) {
        Log(WithReason("Cannot wait for " + device + ":", deviceFolder_.Failure()), LogColours::Error);
        StopReconnect();
        face_.SendingEnded();
        return;
    }
    if (deviceFolder_.Fd() >= 0) face_.WatchFd(deviceFolder_.Fd());
    // The node may be back already (or never have gone): look once the drop has been told, from
    // the face's loop, as the link that dropped is still reporting it.
    face_.ArmTimer(0);
}

void ConsoleSession::ScheduleReconnect() {
    face_.ArmTimer(plan_.MsUntilDue(GetTickCount()));
}

bool ConsoleSession::DeviceIsThere() const {
    return DevicePresent(SerialDevicePath(target_));
}

// A watch without a descriptor (Windows) is looked at again after its pause; one with a
// descriptor tells by itself.
void ConsoleSession::LookForDeviceLater() {
    if (deviceFolder_.PollMs() > 0) face_.ArmTimer(deviceFolder_.PollMs());
}

void ConsoleSession::FdReady() {
    deviceFolder_.Drain();
    TimerDue();
}

void ConsoleSession::TimerDue() {
    if (!plan_.Active() || opening_) return;
    if (ReconnectWayFor(target_) != ReconnectWay::WhenDevice) {
        ReconnectAttempt();
        return;
    }
    if (!DeviceIsThere()) {
        LookForDeviceLater(); // else the folder watch tells when it comes
        return;
    }
    // A device that came back but dropped again at once is tried after the plan's pause.
    const uint32_t wait = plan_.Attempts() == 0 ? 0 : plan_.MsUntilDue(GetTickCount());
    if (wait == 0) {
        ReconnectAttempt();
    } else {
        face_.ArmTimer(wait);
    }
}

void ConsoleSession::ReconnectAttempt() {
    const int attempt = plan_.Attempt(GetTickCount());
    Log("Reconnecting to " + connection_ + " (attempt " + std::to_string(attempt) + ")", LogColours::Status);
    DropLink();
    automaticOpen_ = true;
    const OpenResult result = Open();
    automaticOpen_ = false;
    if (result == OpenResult::Opened) {
        plan_.Succeeded(GetTickCount());
        StopReconnect();
        face_.SendingResumed();
        return;
    }
    if (!plan_.Active()) {
        // The operator gave up during the attempt (Disconnect, or Cancel while it connected).
        StopReconnect();
        face_.SendingEnded();
        connected_ = false;
        face_.StateChanged();
        return;
    }
    if (ReconnectWayFor(target_) == ReconnectWay::AfterPause) ScheduleReconnect();
    // A serial device that failed to open is tried again when its folder changes (or the next
    // look finds it), or at the next pause if it is still there.
    if (ReconnectWayFor(target_) != ReconnectWay::WhenDevice) return;
    if (DeviceIsThere())
        ScheduleReconnect();
    else
        LookForDeviceLater();
}

void ConsoleSession::StopReconnect() {
    if (plan_.Active()) plan_.End();
    face_.CancelTimer();
    if (deviceFolder_.Fd() >= 0) face_.WatchFd(-1);
    deviceFolder_.Stop();
}
