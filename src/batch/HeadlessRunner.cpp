#include "batch/HeadlessRunner.h"

#include "connection/Connection.h"
#include "connection/TcpConnection.h"
#include "connection/TraceIo.h"
#include "console/ConsoleLink.h"
#include "console/ConsoleLogic.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <cerrno>

namespace {
// The time after the last step that its command's reply is still awaited, as the window would
// wait before the next step.
constexpr uint32_t LastReplyWaitMs = TBatchRunner::StepWaitMs;
} // namespace

HeadlessRunner::HeadlessRunner(HeadlessOptions options, std::FILE* out, std::FILE* err, Handover& handover)
    : options_(std::move(options)), out_(out), err_(err), handover_(handover) {}

HeadlessRunner::~HeadlessRunner() {
    link_.reset(); // the reader's last hand-overs run while this waits for it
    if (logFile_) std::fclose(logFile_);
}

int HeadlessRunner::Run() {
    if (!OpenLogFile()) return exitCode_;
    if (!LoadScript() || !OpenLink()) {
        Flush();
        return exitCode_;
    }
    WaitForClient();
    // Lines that came before the run (a greeting) owe no step, as in the window, whose run ignores
    // what arrives while it is idle.
    rxOwed_ = 0;
    // Start logs "#Begin Batch." or reports the label check through ShowError.
    if (runner_.Start(GetTickCount())) Drive();
    link_.reset(); // logs the end of the link
    Flush();
    return exitCode_;
}

bool HeadlessRunner::OpenLogFile() {
    if (options_.logFile.empty()) return true;
    // Appended to, never truncated: an earlier run's log stays.
    logFile_ = std::fopen(options_.logFile.c_str(), "ab");
    if (logFile_) return true;
    std::fprintf(err_, "corvane: cannot open the log file \"%s\". %s\n", options_.logFile.c_str(),
                 GetSystemErrorText(errno).c_str());
    exitCode_ = ExitUsage;
    return false;
}

bool HeadlessRunner::LoadScript() {
    std::string error;
    if (!ReadScriptFile(options_.script, lines_, error)) {
        Fail(ExitScriptError, error);
        return false;
    }
    // A binary file would send its bytes line by line to the instrument; nobody is here to confirm.
    if (HoldsNulBytes(lines_)) {
        Fail(ExitScriptError, options_.script + " holds NUL bytes and may not be a batch script.");
        return false;
    }
    return true;
}

bool HeadlessRunner::OpenLink() {
    LinkEvents events;
    events.TxEcho = [this](const std::string& text) { Log("Tx: " + TrimText(text), LogColours::Tx); };
    events.RxLine = [this](const std::string& line, const std::string& stamp) { OnRxLine(line, stamp); };
    events.Connected = [this] {
        std::string note = link_ ? link_->OpenedNote() : std::string();
        Log(note.empty() ? ConnectedText(options_.connection, GetTimeStamp(), GetTickCount()) : note,
            LogColours::Status);
    };
    events.Disconnected = [this](const std::string& reason) { OnDisconnected(reason); };
    events.Status = [this](const std::string& text) { Log(text, LogColours::Status); };
    events.DriverError = [this](const std::string& message) { Log("Error: " + message, LogColours::Error); };
    events.ServiceRequest = [this] { Log("SRQ!", LogColours::Status); };
    events.Interrupt = [this] { Log("Interrupt!", LogColours::Status); };
    link_ = MakeConsoleLink(options_.connection, std::move(events), handover_);
    std::string reason;
    if (link_->Open(&reason) == OpenResult::Opened) return true;
    link_.reset(); // never opened: it tells of no end
    Fail(ExitOpenFailed, WithReason("Opening " + options_.connection + " failed.", reason));
    return false;
}

// A listening port counts as open before anyone talks to it: the script waits for its client, as
// every command would otherwise fail for want of one. The arrival is logged by the link.
void HeadlessRunner::WaitForClient() {
    auto* server = link_->Tio() ? dynamic_cast<TTcpServerConnection*>(link_->Tio()->Transport()) : nullptr;
    if (!server) return;
    while (!server->HasClient() && server->IsOpen()) {
        Flush();
        handover_.WaitUntil([] { return false; },
                            Handover::Clock::now() + std::chrono::milliseconds(DriveIntervalMs));
    }
}

// The event loop: hand-overs from the reader, the steps the received lines owe, the drive tick.
void HeadlessRunner::Drive() {
    uint32_t nextTick = GetTickCount() + DriveIntervalMs;
    while (!finished_) {
        Flush();
        const uint32_t now = GetTickCount();
        const uint32_t wait = TBatchRunner::IsPast(now, nextTick) ? 0 : TickDiff(nextTick, now);
        handover_.WaitUntil([this] { return rxOwed_ > 0 || deferredOwed_ || finished_; },
                            Handover::Clock::now() + std::chrono::milliseconds(wait));
        const uint32_t after = GetTickCount();
        if (!TBatchRunner::IsPast(nextTick, after)) {
            nextTick = after + DriveIntervalMs;
            runner_.TimerTick(after);
        }
        Turn(after);
    }
}

void HeadlessRunner::Turn(uint32_t now) {
    while (rxOwed_ > 0 && !finished_) {
        --rxOwed_;
        runner_.NotifyRxLine(now);
    }
    if (deferredOwed_ && !finished_) {
        deferredOwed_ = false;
        runner_.DeferredStep(now);
    }
    CheckReplyTime(GetTickCount());
    CheckEnd(GetTickCount());
}

void HeadlessRunner::CheckReplyTime(uint32_t now) {
    if (finished_ || !awaitingReply_ || options_.replyTimeoutMs <= 0) return;
    if (TickDiff(now, sentTick_) < static_cast<uint32_t>(options_.replyTimeoutMs)) return;
    Fail(ExitReplyTimeout,
         "No reply within " + std::to_string(options_.replyTimeoutMs) + " ms to: " + awaitedCommand_);
}

// After the last step the run waits for its command's reply: as long as a reply may take with
// --reply-timeout, else as long as the window would before a next step.
void HeadlessRunner::CheckEnd(uint32_t now) {
    if (finished_ || runner_.Running()) return;
    if (!runEnded_) {
        runEnded_ = true;
        endTick_ = now;
    }
    if (!awaitingReply_ || (options_.replyTimeoutMs <= 0 && TickDiff(now, endTick_) >= LastReplyWaitMs))
        finished_ = true;
}

void HeadlessRunner::SendLine(const std::string& text) {
    // A command that cannot go out ends the run: the rest of the script assumes it went.
    if (!link_ || !link_->IsOpen()) {
        Log("Not sent: not connected.", LogColours::Error);
        Fail(ExitConnectionLost, "Batch stopped: the connection was lost.");
        return;
    }
    if (!link_->SendLine(text)) {
        Log(WithReason("Not sent:", link_->SendFailure()), LogColours::Error);
        Fail(ExitConnectionLost, "Batch stopped: the command could not be sent.");
        return;
    }
    // A GPIB device answers only when read: as with the console's Expect Reply, a command ending
    // in '?' has its reply read at once, and only such a command awaits one.
    const bool gpib = link_->IsGpib();
    if (gpib && !text.ends_with('?')) return;
    if (!awaitingReply_) {
        awaitingReply_ = true;
        sentTick_ = GetTickCount();
        awaitedCommand_ = text;
    }
    if (gpib) link_->ReadReply();
}

void HeadlessRunner::OnRxLine(const std::string& line, const std::string& stamp) {
    LogAt(stamp, "Rx: " + TrimText(line));
    awaitingReply_ = false;
    ++rxOwed_;
}

void HeadlessRunner::OnDisconnected(const std::string& reason) {
    Log(WithReason("disconnected.", reason), LogColours::Status);
    // Also while the last command's reply is awaited.
    if (finished_ || (!runner_.Running() && !awaitingReply_)) return;
    Fail(ExitConnectionLost, "Batch stopped: the connection was lost.");
}

void HeadlessRunner::Log(const std::string& text, uint32_t) {
    LogAt({}, text);
}

void HeadlessRunner::LogAt(const std::string& stamp, const std::string& text) {
    const std::string line = StampedLine(stamp.empty() ? GetTimeStamp() : stamp, text);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    if (logFile_) {
        std::fwrite(line.data(), 1, line.size(), logFile_);
        std::fputs("\r\n", logFile_);
    }
}

bool HeadlessRunner::Confirm(const std::string& text) {
    if (options_.answer == PromptAnswer::None) {
        Fail(ExitPromptUnanswered, "#PROMPT " + text);
        return false;
    }
    const bool yes = options_.answer == PromptAnswer::Yes;
    Log(yes ? "Answered Yes." : "Answered No: batch stopped.", LogColours::Status);
    return yes;
}

void HeadlessRunner::ShowError(const std::string& text) {
    Fail(ExitScriptError, text);
}

void HeadlessRunner::Fail(int code, const std::string& text) {
    if (finished_) return;
    Log(text, LogColours::Error);
    std::fprintf(err_, "corvane: %s\n", text.c_str());
    exitCode_ = code;
    finished_ = true;
    runner_.StopRun();
}

// Once per turn of the loop rather than per line: a reply and its command cost one write each.
void HeadlessRunner::Flush() {
    std::fflush(out_);
    if (logFile_) std::fflush(logFile_);
}

int RunHeadlessCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessOptions(args, options, error)) {
        std::fprintf(stderr, "corvane: %s\n%s", error.c_str(), HeadlessUsage);
        return ExitUsage;
    }
    // Standard output carries the log lines; the raw byte trace the window program writes there
    // would break them up.
    SetTraceStream(nullptr);
    HeadlessRunner runner(std::move(options), stdout, stderr, Handover::Main());
    return runner.Run();
}
