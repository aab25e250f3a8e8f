#pragma once
// The batch runner without windows: reads a script, opens the connection through a ConsoleSession
// (the same conversation the console window drives: its log lines, its log file), and runs the
// script with the batch window's step machine (TBatchRunner) and pacing: a step on every received
// line, else on the 50 ms drive tick once the step's wait is over. Log lines go to standard output
// as the console shows them ("[hh:nn:ss.zzz] text"), and to the session log file when one is
// given; a fatal error also goes to the error stream.
//
// Threads: everything runs on the thread that calls Run, which must be the UI thread of the given
// Handover. No window needs the hand-over, so the session reads a serial or TCP link in the run's
// own loop (ConsoleSession::SetPullLink): a received line wakes this one thread, which logs it and
// sends the next command, with no reader thread in between; GPIB events and the open's end still
// come by hand-over. Only the interrupt flag is set from elsewhere. Standard output and error are
// written by threads of their own (QueuedStream), so a reader that stops reading never holds the
// loop: a signal or --max-seconds ends the run within a tenth of a second whatever the outputs do.
#include "batch/BatchRunner.h"
#include "batch/HeadlessOptions.h"
#include "batch/HeadlessOutput.h"
#include "console/ConsoleSession.h"
#include "platform/Handover.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

class HeadlessRunner : public BatchHost, private SessionFace {
public:
    static constexpr uint32_t DriveIntervalMs = 50;
    // The longest a log line waits in the output buffer while the run reads its link itself.
    static constexpr uint32_t FlushIntervalMs = 10;

    // out and err stay the caller's and must outlive the runner. interrupt, when given, is a signal number
    // that another thread sets (and wakes the hand-over with Notify) to end the run.
    HeadlessRunner(HeadlessOptions options, std::FILE* out, std::FILE* err, Handover& handover,
                   const std::atomic<int>* interrupt = nullptr);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // The whole run; returns the exit code (HeadlessExit, or 128 + a signal's number).
    int Run();

    // ScriptLines
    int32_t LineCount() const override { return static_cast<int32_t>(lines_.size()); }
    std::string Line(int32_t index) const override { return lines_[static_cast<size_t>(index)]; }
    // BatchHost
    void HighlightLine(int32_t) override {}
    void SendLine(const std::string& text) override;
    void Log(const std::string& text, uint32_t colour) override;
    bool Confirm(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowRunning(bool) override {}
    void PostDeferredStep() override { deferredOwed_ = true; }
    // Exit 4, as for a command without a reply.
    void ExpectFailed(const std::string& text) override;
    // Starts the break; the run's loop ends it after ms, and a signal or --max-seconds meanwhile
    // ends the run as at any other time.
    std::string SendBreak(uint32_t ms) override;
    // Exit 6, as for a command that could not be sent.
    void BreakFailed(const std::string& text) override;

private:
    // SessionFace
    void ShowLine(const std::string& line, uint32_t colour) override;
    OpenResult AwaitOpen(ConsoleLink& link, std::string& reason) override;
    void LineReceived(const std::string& line) override;
    void SendingEnded() override;
    void LogFileFailed(const std::string& path, const std::string& reason) override;
    void CsvFileFailed(const std::string& path, const std::string& reason) override;

    bool OpenLogFile();
    bool StartSeries();
    bool LoadScript();
    // The script's labels, #EXPECT and #BREAK lines, before any output is opened.
    bool CheckScript();
    // An output that is the script itself, or the other output, would destroy what it names.
    bool CheckOutputPaths();
    bool OpenLink();
    // --dtr and --rts on the serial port just opened; a line that cannot be set ends the run.
    bool SetModemLines();
    void WaitForClient();
    void TakeEarlyLines();
    // Waits up to ms for what the loop acts on: the pulled link's next line or end, else a
    // hand-over; at once when a step is owed, the run has finished or a signal came.
    void Await(uint32_t ms);
    bool Due() const;
    void Drive();
    void Turn(uint32_t now);
    void CheckReplyTime(uint32_t now);
    void CheckEnd(uint32_t now);
    bool CheckInterrupt();
    // Ends a break that is held once its time is over; force: now.
    void EndBreak(uint32_t now, bool force);
    // Past --max-seconds: the run ends with its own code and line (once); true then.
    bool CheckTimeLimit();
    bool TimeIsUp() const;
    // Logs text, writes it to the error stream and ends the run with code.
    void Fail(int code, const std::string& text);
    // Ends the run with ExitOutputFailed, saying on the error stream what could not be written.
    void OutputFailed(const std::string& what, const std::string& reason);
    void SayError(const std::string& text) { output_.SayError(text); }
    void Flush();
    // Ends the output's part of a run: everything written, or a signal or --max-seconds has come
    // (the stalled output is then named, and the run takes that end's code).
    void FinishOutputs();
    bool SignalledOrTimeUp() const;

    HeadlessOptions options_;
    HeadlessOutput output_;
    Handover& handover_;
    const std::atomic<int>* interrupt_;
    Handover::Clock::time_point deadline_ = Handover::Clock::time_point::max(); //!< --max-seconds
    std::vector<std::string> lines_;
    TBatchRunner runner_{*this};

    int exitCode_ = ExitScriptDone;
    bool finished_ = false;
    std::deque<std::string> rxLines_; //!< Received lines whose step is still to run.
    bool deferredOwed_ = false;       //!< The runner asked for a DeferredStep.
    bool awaitingReply_ = false;
    bool lostMidLine_ = false; //!< The last line was the half line the peer left as it ended.
    bool sentAny_ = false;
    uint32_t sentTick_ = 0;      //!< When the oldest command still without a reply went out.
    std::string awaitedCommand_; //!< That command.
    uint32_t lastRxTick_ = 0;
    bool runEnded_ = false;
    uint32_t endTick_ = 0; //!< When the step machine stopped.
    bool breakHeld_ = false;
    uint32_t breakEndTick_ = 0; //!< When the break that is held ends.

    // Last, so it goes first: its link's final events still find the runner whole.
    ConsoleSession session_;
};

// main's headless branch: parses the arguments after the program name, runs, and returns the
// exit code. SIGINT, SIGTERM and SIGHUP (on Windows the console's Ctrl+C, Ctrl+Break and close:
// HeadlessSignals.h) end the run with its last line logged. Call it before any other thread exists
// (on POSIX it blocks those signals for every thread it starts). The caller has started the
// socket layer.
int RunHeadlessCommand(int argc, char** argv);
