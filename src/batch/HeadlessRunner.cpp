#include "batch/HeadlessRunner.h"

#include "batch/HeadlessSignals.h"
#include "connection/Connection.h"
#include "connection/TcpConnection.h"
#include "connection/TraceIo.h"
#include "console/LogTexts.h"
#include "log/AppendFile.h"
#include "platform/System.h"
#include "platform/Tick.h"
#include "script/TestScriptRunner.h"
#include "text/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

namespace {
// How long the run listens after its last command when no --reply-timeout is given: as long as
// the window would wait before a next step.
constexpr uint32_t QuietWaitMs = TBatchRunner::StepWaitMs;
constexpr char LostDuringLastReply[] = "Batch stopped: the connection was lost during the last reply.";
} // namespace

HeadlessRunner::HeadlessRunner(HeadlessOptions options, std::FILE* out, std::FILE* err, Handover& handover,
                               const std::atomic<int>* interrupt)
    : options_(std::move(options)), output_(out, err), handover_(handover), interrupt_(interrupt),
      session_(*this, handover) {
    session_.SetConnection(options_.connection);
    session_.SetPullLink(PullMode::Waited);
    session_.SetLineEnds(options_.lineEnds);
    session_.SetEscapes(options_.escapes);
    session_.SetKeepControlBytes(options_.controlChars);
}

HeadlessRunner::~HeadlessRunner() = default;

int HeadlessRunner::Run() {
    if (options_.maxSeconds > 0)
        deadline_ = Handover::Clock::now() + std::chrono::seconds(options_.maxSeconds);
    // Outputs are opened once the script is known to run, so a wrong script destroys nothing. A
    // log file that takes no line, not even the separator, has ended the run already.
    if (LoadScript() && CheckScript() && CheckOutputPaths() && OpenLogFile() && !finished_ && StartSeries() &&
        OpenLink()) {
        WaitForClient();
        // Start logs "#Begin Batch." or reports the script check through ShowError.
        if (!finished_ && runner_.Start(GetTickCount())) {
            TakeEarlyLines();
            Drive();
        }
        EndBreak(GetTickCount(), true);
        session_.Close(); // logs the end of the link
    }
    FinishOutputs();
    return exitCode_;
}

bool HeadlessRunner::CheckScript() {
    LabelMap labels;
    const LabelCheck check = ::CheckScript(*this, labels);
    if (!check.ok) Fail(ExitScriptError, check.message);
    return check.ok;
}

// The same file also through a link; a path that is not there yet is no other file.
bool HeadlessRunner::CheckOutputPaths() {
    const auto same = SamePath;
    std::string clash;
    if (same(options_.logFile, options_.script))
        clash = "--log \"" + options_.logFile + "\" is the script itself";
    if (same(options_.csvFile, options_.script))
        clash = "--csv \"" + options_.csvFile + "\" is the script itself";
    if (same(options_.csvFile, options_.logFile))
        clash = "--csv \"" + options_.csvFile + "\" is the --log file";
    if (clash.empty()) return true;
    SayError(clash + ": name a file of its own.");
    exitCode_ = ExitUsage;
    return false;
}

// The log file is the console's session log: UTF-8, CR LF, one write per line, a separator per
// connection. Appended to, never truncated: an earlier run's log stays.
bool HeadlessRunner::OpenLogFile() {
    if (options_.logFile.empty() || session_.StartLogFile(options_.logFile, false)) return true;
    SayError("cannot open the log file \"" + options_.logFile + "\": " + session_.LogFile().Failure() + ".");
    exitCode_ = ExitUsage;
    return false;
}

// The series were checked with the options; the CSV file is opened before the link, so a path
// that cannot be used ends the run before anything is sent.
bool HeadlessRunner::StartSeries() {
    std::string reason;
    session_.Series().SetDefinitions(options_.series, reason);
    if (options_.csvFile.empty()) return true;
    switch (session_.Series().StartCsv(options_.csvFile, reason)) {
    case CsvStream::Opened::Yes:
        return true;
    case CsvStream::Opened::WriteFailed:
        CsvFileFailed(options_.csvFile, reason);
        return false;
    case CsvStream::Opened::Refused:
        break;
    }
    SayError("cannot open the CSV file \"" + options_.csvFile + "\": " + reason + ".");
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
    std::string reason;
    if (session_.Open(&reason) == OpenResult::Opened) return SetModemLines();
    if (CheckInterrupt() || CheckTimeLimit()) return false;
    // The session has logged it.
    SayError(WithReason("Opening " + options_.connection + " failed.", reason));
    exitCode_ = ExitOpenFailed;
    return false;
}

OpenResult HeadlessRunner::AwaitOpen(ConsoleLink& link, std::string& reason) {
    return link.OpenUnless([this] { return SignalledOrTimeUp(); }, reason);
}

// A listening port counts as open before anyone talks to it: the script waits for its client, as
// every command would otherwise fail for want of one. The arrival is logged by the link.
void HeadlessRunner::WaitForClient() {
    TIO* io = session_.Link() ? session_.Link()->Tio() : nullptr;
    auto* server = io ? dynamic_cast<TTcpServerConnection*>(io->Transport()) : nullptr;
    if (!server) return;
    while (!server->HasClient() && server->IsOpen() && !finished_ && !CheckInterrupt() && !CheckTimeLimit()) {
        Flush();
        // Lines before the run owe no step: the wait is for the client and a signal only.
        if (session_.Pulling()) {
            session_.Pull(DriveIntervalMs);
        } else {
            handover_.WaitUntil([this] { return interrupt_ && *interrupt_ != 0; },
                                Handover::Clock::now() + std::chrono::milliseconds(DriveIntervalMs));
        }
    }
}

// Lines that came before the run (a listening port's client that greets as it connects) owe no
// step, as in the window, whose run ignores what arrives while it is idle; but a script that
// begins with #EXPECT waits for just such a line, and it sees them.
void HeadlessRunner::TakeEarlyLines() {
    if (!runner_.Expecting()) rxLines_.clear();
}

bool HeadlessRunner::Due() const {
    return !rxLines_.empty() || deferredOwed_ || finished_ || (interrupt_ && *interrupt_ != 0);
}

void HeadlessRunner::Await(uint32_t ms) {
    if (!session_.Pulling()) {
        Flush();
        handover_.WaitUntil([this] { return Due(); }, Handover::Clock::now() + std::chrono::milliseconds(ms));
        return;
    }
    // The output is written once it has waited FlushIntervalMs: the lines of a quick exchange share
    // their writes, and none is held longer. A signal is seen after ms at the latest, which the
    // drive tick keeps short.
    if (Due()) return;
    const uint32_t sinceFlush = TickDiff(GetTickCount(), output_.FlushTick());
    if (sinceFlush >= FlushIntervalMs) {
        Flush();
        session_.Pull(ms);
    } else {
        session_.Pull(std::min(ms, FlushIntervalMs - sinceFlush));
    }
}

// The event loop: hand-overs from the reader, the steps the received lines owe, the drive tick.
void HeadlessRunner::Drive() {
    uint32_t nextTick = GetTickCount() + DriveIntervalMs;
    while (!finished_) {
        const uint32_t now = GetTickCount();
        uint32_t wait = TBatchRunner::IsPast(now, nextTick) ? 0 : TickDiff(nextTick, now);
        if (breakHeld_)
            wait =
                std::min(wait, TBatchRunner::IsPast(now, breakEndTick_) ? 0 : TickDiff(breakEndTick_, now));
        Await(wait);
        EndBreak(GetTickCount(), false);
        if (CheckInterrupt() || CheckTimeLimit()) break;
        const uint32_t after = GetTickCount();
        if (!TBatchRunner::IsPast(nextTick, after)) {
            nextTick = after + DriveIntervalMs;
            runner_.TimerTick(after);
        }
        Turn(after);
    }
}

void HeadlessRunner::Turn(uint32_t now) {
    while (!rxLines_.empty() && !finished_) {
        const std::string line = std::move(rxLines_.front());
        rxLines_.pop_front();
        runner_.NotifyRxLine(now, line);
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
    // A reply is timed to its first byte: one that began in time is no time-out while its line
    // waits for its end or for the idle time that shows it.
    const ConsoleLink* link = session_.Link();
    const uint32_t firstByte = link ? link->FirstByteTick() : 0;
    // The tick was taken just after the send, so a first byte may even seem to precede it.
    const bool began = firstByte != 0 && TickDiff(firstByte, sentTick_) < 0x80000000u;
    if (TickDiff(began ? firstByte : now, sentTick_) < static_cast<uint32_t>(options_.replyTimeoutMs)) return;
    Fail(ExitReplyTimeout,
         "No reply within " + std::to_string(options_.replyTimeoutMs) + " ms to: " + awaitedCommand_);
}

// After the last step the run goes on listening until no line has come for the reply wait
// (--reply-timeout, else a step's wait), so every line of a multi-line reply is logged. A command
// still without any reply by then is a time-out only with --reply-timeout (CheckReplyTime).
void HeadlessRunner::CheckEnd(uint32_t now) {
    if (finished_ || runner_.Running()) return;
    if (!runEnded_) {
        runEnded_ = true;
        endTick_ = now;
    }
    if (!sentAny_) {
        finished_ = true;
        return;
    }
    const uint32_t wait =
        options_.replyTimeoutMs > 0 ? static_cast<uint32_t>(options_.replyTimeoutMs) : QuietWaitMs;
    // Quiet since the end, the last line or the last byte, whichever came last: a reply that
    // trickles in keeps the run listening although no line has ended yet.
    uint32_t quietSince = endTick_;
    const ConsoleLink* link = session_.Link();
    // A half line that its idle time will show is still to be logged, whatever the wait.
    if (options_.lineEnds.idleMs > 0 && link && link->WaitingBytes() > 0) return;
    for (const uint32_t tick : {lastRxTick_, link ? link->LastByteTick() : 0u}) {
        if (tick != 0 && TickDiff(tick, quietSince) < 0x80000000u) quietSince = tick; // 0: none yet
    }
    if (TickDiff(now, quietSince) < wait) return;
    // A listening port's client that left mid-line leaves the port open: its cut is said here.
    if (lostMidLine_) {
        Fail(ExitConnectionLost, LostDuringLastReply);
        return;
    }
    finished_ = true;
}

// A signal ends the run where it is, with its own line, and the link is closed by Run.
bool HeadlessRunner::CheckInterrupt() {
    const int signal = interrupt_ ? interrupt_->load() : 0;
    if (signal == 0 || exitCode_ == ExitSignalBase + signal) return signal != 0;
    const std::string text = "Batch interrupted by signal " + std::to_string(signal) + ".";
    Log(text, LogColours::Error);
    SayError(text);
    exitCode_ = ExitSignalBase + signal;
    finished_ = true;
    runner_.EndRun(BatchEnd::Stopped);
    return true;
}

bool HeadlessRunner::TimeIsUp() const {
    return options_.maxSeconds > 0 && Handover::Clock::now() >= deadline_;
}

// The drive tick keeps every wait short, so the run ends within one tick of its limit.
bool HeadlessRunner::CheckTimeLimit() {
    if (exitCode_ == ExitTimeLimit) return true;
    if (finished_ || !TimeIsUp()) return false;
    Fail(ExitTimeLimit, "Batch stopped: the run reached its limit of --max-seconds " +
                            std::to_string(options_.maxSeconds) + ".");
    return true;
}

void HeadlessRunner::SendLine(const std::string& text) {
    // A command that cannot go out ends the run: the rest of the script assumes it went. A line
    // holding a character beyond Latin-1 is kept as UTF-8 when read; it would go out changed.
    if (const uint32_t beyond = FirstBeyondLatin1(text)) {
        Fail(ExitScriptError, NotLatin1Text(beyond));
        return;
    }
    if (!session_.Send(text)) {
        Fail(ExitConnectionLost, session_.IsOpen() ? "Batch stopped: the command could not be sent."
                                                   : "Batch stopped: the connection was lost.");
        return;
    }
    sentAny_ = true;
    // A GPIB device answers only when read: as with the console's Expect Reply, a command ending
    // in '?' has its reply read at once, and only such a command awaits one.
    if (!session_.ExpectsReply(text)) return;
    if (!awaitingReply_) {
        awaitingReply_ = true;
        sentTick_ = GetTickCount();
        awaitedCommand_ = text;
    }
    if (session_.ReadsOnRequest()) session_.ReadReply();
}

void HeadlessRunner::LineReceived(const std::string& line) {
    // The part of a line the peer left as it went: no reply, and its end loses the run.
    lostMidLine_ = line.ends_with(TIO::IncompleteNote);
    if (!lostMidLine_) awaitingReply_ = false;
    lastRxTick_ = GetTickCount();
    rxLines_.push_back(line);
}

bool HeadlessRunner::SetModemLines() {
    for (const auto& [dtr, wanted] : {std::pair{true, options_.dtr}, std::pair{false, options_.rts}}) {
        if (!wanted) continue;
        if (const std::string why = session_.SetModemLine(dtr, *wanted); !why.empty()) {
            Fail(ExitOpenFailed, WithReason(std::string(dtr ? "DTR" : "RTS") + " could not be switched " +
                                                (*wanted ? "on" : "off") + ":",
                                            why));
            return false;
        }
    }
    return true;
}

std::string HeadlessRunner::SendBreak(uint32_t ms) {
    if (std::string why = session_.Break(true, ms); !why.empty()) return why;
    breakHeld_ = true;
    breakEndTick_ = GetTickCount() + ms;
    return {};
}

void HeadlessRunner::BreakFailed(const std::string& text) {
    Fail(ExitConnectionLost, text);
}

// The loop ends the break once its time is over, or when the run ends earlier.
void HeadlessRunner::EndBreak(uint32_t now, bool force) {
    if (!breakHeld_ || (!force && !TBatchRunner::IsPast(now, breakEndTick_))) return;
    breakHeld_ = false;
    session_.Break(false);
}

void HeadlessRunner::ExpectFailed(const std::string& text) {
    Fail(ExitReplyTimeout, text);
}

void HeadlessRunner::SendingEnded() {
    // Also while the last command's reply is awaited, or was cut off by the end.
    if (finished_ || (!runner_.Running() && !awaitingReply_ && !lostMidLine_)) return;
    Fail(ExitConnectionLost, lostMidLine_ && !runner_.Running() ? LostDuringLastReply
                                                                : "Batch stopped: the connection was lost.");
}

void HeadlessRunner::Log(const std::string& text, uint32_t colour) {
    session_.Log(text, colour);
}

void HeadlessRunner::ShowLine(const std::string& line, uint32_t) {
    output_.Line(line);
}

void HeadlessRunner::LogFileFailed(const std::string& path, const std::string& reason) {
    OutputFailed("the log file \"" + path + "\"", reason);
}

void HeadlessRunner::CsvFileFailed(const std::string& path, const std::string& reason) {
    OutputFailed("the CSV file \"" + path + "\"", reason);
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
    SayError(text);
    exitCode_ = code;
    finished_ = true;
    runner_.EndRun(BatchEnd::Failed);
}

void HeadlessRunner::OutputFailed(const std::string& what, const std::string& reason) {
    if (what == "standard output") output_.SetBroken();
    SayError("cannot write " + what + ". " + reason);
    if (exitCode_ == ExitScriptDone || !finished_) exitCode_ = ExitOutputFailed;
    finished_ = true;
    runner_.EndRun(BatchEnd::Failed);
}

// Once per turn of the loop rather than per line: a reply and its command cost one write each,
// the log file's lines before the output's, so that what was printed is on disk.
void HeadlessRunner::Flush() {
    session_.FlushLogFile();
    if (std::string why = output_.Flush(); !why.empty()) OutputFailed("standard output", why);
}

bool HeadlessRunner::SignalledOrTimeUp() const {
    return (interrupt_ && *interrupt_ != 0) || TimeIsUp();
}

// Once a signal or the time limit has come while lines wait, the run ends for it.
void HeadlessRunner::FinishOutputs() {
    // The last reply's row is written once no more lines can come.
    session_.Series().StopCsv();
    Flush();
    const auto ended = [this] { return SignalledOrTimeUp(); };
    bool stalled = false;
    if (std::string why = output_.Finish(ended, stalled); !why.empty()) OutputFailed("standard output", why);
    if (stalled) {
        if (!CheckInterrupt()) CheckTimeLimit();
        output_.SayStalled();
    }
    session_.FlushLogFile();
    output_.FinishErrors(ended);
}

int RunHeadlessCommand(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    HeadlessOptions options;
    std::string error;
    if (!ParseHeadlessOptions(args, options, error)) {
        std::fprintf(stderr, "corvane: %s\n%s", error.c_str(), HeadlessUsage);
        return ExitUsage;
    }
    if (IsTestScript(options.script)) return RunTestScript(std::move(options));
    // Standard output carries the log lines; the raw byte trace the window program writes there
    // would break them up.
    SetTraceStream(nullptr);
    HeadlessSignals signals(Handover::Main());
    HeadlessRunner runner(std::move(options), stdout, stderr, Handover::Main(), &signals.Caught());
    return runner.Run();
}
