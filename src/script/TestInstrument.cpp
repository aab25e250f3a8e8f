#include "script/TestInstrument.h"

#include "batch/HeadlessOptions.h"
#include "connection/Connection.h"
#include "console/LogTexts.h"
#include "script/ScriptError.h"
#include "script/TestScriptRunner.h"

#include <re2/re2.h>

TestInstrument::TestInstrument(TestScriptRunner& run, Handover& handover, std::string name,
                               const std::string& connection, const HeadlessOptions& options)
    : run_(run), handover_(handover), name_(std::move(name)), session_(*this, handover) {
    session_.SetConnection(connection);
    session_.SetPullLink(PullMode::Waited);
    session_.SetLineEnds(options.lineEnds);
    session_.SetEscapes(options.escapes);
    session_.SetKeepControlBytes(options.controlChars);
}

TestInstrument::~TestInstrument() = default;

void TestInstrument::Open() {
    std::string reason;
    if (session_.Open(&reason) != OpenResult::Opened) {
        run_.CheckLimits(); // an open cut short by a signal or the time limit ends the run for that
        throw ScriptError{ExitOpenFailed,
                          WithReason("Opening " + session_.Connection() + " failed.", reason)};
    }
}

void TestInstrument::Close() {
    session_.Close();
}

void TestInstrument::Send(const std::string& text) {
    if (session_.Send(text)) return;
    // The session has logged "Not sent" with the reason.
    throw ScriptError{ExitConnectionLost,
                      name_ + (session_.IsOpen() ? ": the command could not be sent: " + text
                                                 : ": the connection was lost.")};
}

void TestInstrument::Write(const std::string& text) {
    Send(text);
}

std::string TestInstrument::Query(const std::string& text, uint32_t ms) {
    // Lines that came unasked before the command (a late reply to an earlier one, a second line)
    // are in the log; the answer is what follows the command.
    while (session_.Pulling() && session_.Pull(0)) {
    }
    lines_.clear();
    Send(text);
    if (session_.ReadsOnRequest()) session_.ReadReply();
    return TakeLine(ms, text);
}

std::string TestInstrument::Read(uint32_t ms) {
    if (lines_.empty() && session_.ReadsOnRequest()) session_.ReadReply();
    return TakeLine(ms, {});
}

std::string TestInstrument::TakeLine(uint32_t ms, const std::string& awaited) {
    if (!run_.Await([this] { return !lines_.empty() || lost_; }, ms, this))
        throw ScriptError{ExitReplyTimeout, name_ + ": no reply within " + std::to_string(ms) + " ms" +
                                                (awaited.empty() ? std::string() : " to: " + awaited)};
    if (lines_.empty()) throw ScriptError{ExitConnectionLost, name_ + ": the connection was lost."};
    std::string line = std::move(lines_.front());
    lines_.pop_front();
    // The part of a line the instrument left as it went is no reply.
    if (line.ends_with(TIO::IncompleteNote))
        throw ScriptError{ExitConnectionLost, name_ + ": the connection was lost during the reply."};
    return line;
}

std::string TestInstrument::Expect(const re2::RE2& pattern, const std::string& shown, uint32_t ms,
                                   std::vector<std::string>& groups) {
    const auto until = Handover::Clock::now() + std::chrono::milliseconds(ms);
    const int count = pattern.NumberOfCapturingGroups() + 1;
    std::vector<re2::StringPiece> found(static_cast<size_t>(count));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Handover::Clock::now());
        std::string line;
        try {
            line = TakeLine(static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)), {});
        } catch (const ScriptError& error) {
            if (error.code != ExitReplyTimeout) throw;
            throw ScriptError{ExitReplyTimeout,
                              name_ + ": no line matched " + shown + " within " + std::to_string(ms) + " ms"};
        }
        if (!pattern.Match(line, 0, line.size(), re2::RE2::UNANCHORED, found.data(), count)) continue;
        groups.clear();
        for (size_t i = 1; i < found.size(); ++i)
            groups.emplace_back(found[i].data() ? std::string(found[i].data(), found[i].size())
                                                : std::string());
        return line;
    }
}

void TestInstrument::SetModemLine(bool dtr, bool on) {
    if (const std::string why = session_.SetModemLine(dtr, on); !why.empty())
        throw ScriptError{session_.SerialPort() ? ExitConnectionLost : ExitScriptError, name_ + ": " + why};
}

void TestInstrument::Break(uint32_t ms) {
    if (const std::string why = session_.Break(true, ms); !why.empty())
        throw ScriptError{session_.SerialPort() ? ExitConnectionLost : ExitScriptError, name_ + ": " + why};
    try {
        run_.Await([] { return false; }, ms, nullptr);
    } catch (const ScriptError&) {
        session_.Break(false); // the run ends: the line is released first
        throw;
    }
    session_.Break(false);
}

void TestInstrument::Pull(uint32_t ms) {
    if (session_.Pulling()) {
        session_.Pull(ms);
    } else if (ms == 0) {
        handover_.RunPending();
    } else {
        // GPIB and the LAN instruments' replies, and every link's end, come by hand-over.
        handover_.WaitUntil([this] { return !lines_.empty() || lost_; },
                            Handover::Clock::now() + std::chrono::milliseconds(ms));
    }
}

void TestInstrument::ShowLine(const std::string& line, uint32_t colour) {
    run_.InstrumentLine(name_, line, colour);
}

OpenResult TestInstrument::AwaitOpen(ConsoleLink& link, std::string& reason) {
    return link.OpenUnless([this] { return run_.StopRequested(); }, reason);
}

void TestInstrument::LineReceived(const std::string& line) {
    lines_.push_back(line);
}

void TestInstrument::SendingEnded() {
    lost_ = true;
}
