#pragma once
// One instrument a test script opened (corvane.open): its conversation (a ConsoleSession, so every
// line is logged as the console logs it, with its arrival stamp), the lines received and not yet
// read by the script, and the blocking calls the script makes: write, query, read, expect. Waiting
// is the run's (TestScriptRunner::Await), which keeps the other instruments, the outputs, signals
// and --max-seconds going meanwhile.
//
// Failures throw ScriptError with the run's exit code for them: no reply (4), a link that cannot
// be opened (2) or is lost (6).
//
// Threads: the run's one thread.
#include "console/ConsoleSession.h"

#include <deque>
#include <string>
#include <vector>

namespace re2 {
class RE2;
}
class TestScriptRunner;
struct HeadlessOptions;

class TestInstrument : private SessionFace {
public:
    TestInstrument(TestScriptRunner& run, Handover& handover, std::string name, const std::string& connection,
                   const HeadlessOptions& options);
    ~TestInstrument() override;
    TestInstrument(const TestInstrument&) = delete;
    TestInstrument& operator=(const TestInstrument&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Connection() const { return session_.Connection(); }
    void Open();
    void Close();
    bool IsOpen() const { return session_.IsOpen(); }

    // Sends text plus the line end.
    void Write(const std::string& text);
    // Forgets the lines not yet read, sends text and returns the first line that comes within ms.
    std::string Query(const std::string& text, uint32_t ms);
    // The next received line not yet read, waiting up to ms for one.
    std::string Read(uint32_t ms);
    // Reads lines until one holds a match of pattern (within ms in all); returns that line and the
    // pattern's groups (an unmatched group as an empty text).
    std::string Expect(const re2::RE2& pattern, const std::string& shown, uint32_t ms,
                       std::vector<std::string>& groups);
    // Switches DTR (else RTS) of a serial port.
    void SetModemLine(bool dtr, bool on);
    // Holds a break for ms.
    void Break(uint32_t ms);

    // For the run's wait: reads the link for up to ms, or runs the hand-overs (GPIB, the LAN
    // instruments, whose replies come by hand-over).
    void Pull(uint32_t ms);
    bool HasLine() const { return !lines_.empty(); }
    // The link ended while the script waited on it.
    bool Lost() const { return lost_; }
    void FlushLog() { session_.FlushLogFile(); }

private:
    // SessionFace
    void ShowLine(const std::string& line, uint32_t colour) override;
    OpenResult AwaitOpen(ConsoleLink& link, std::string& reason) override;
    void LineReceived(const std::string& line) override;
    void SendingEnded() override;

    std::string TakeLine(uint32_t ms, const std::string& awaited);
    void Send(const std::string& text);

    TestScriptRunner& run_;
    Handover& handover_;
    std::string name_;
    std::deque<std::string> lines_; //!< Received (trimmed) and not yet read by the script.
    bool lost_ = false;
    ConsoleSession session_;
};
