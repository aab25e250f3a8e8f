#pragma once
// The batch runner without windows: reads a script, opens the connection through the console's
// link, and runs the script with the batch window's step machine (TBatchRunner) and pacing: a step
// on every received line, else on the 50 ms drive tick once the step's wait is over. Log lines go
// to standard output as the console shows them ("[hh:nn:ss.zzz] text"), and to a log file when one
// is given; a fatal error also goes to the error stream.
//
// Threads: everything runs on the thread that calls Run, which must be the UI thread of the given
// Handover; received lines come to it by hand-over from the link's reader thread.
#include "batch/BatchRunner.h"
#include "batch/HeadlessOptions.h"
#include "platform/Handover.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class ConsoleLink;

class HeadlessRunner : public BatchHost {
public:
    static constexpr uint32_t DriveIntervalMs = 50;

    // out and err stay the caller's; the log file is opened by Run.
    HeadlessRunner(HeadlessOptions options, std::FILE* out, std::FILE* err, Handover& handover);
    ~HeadlessRunner() override;
    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // The whole run; returns the exit code (HeadlessExit).
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

private:
    bool OpenLogFile();
    bool LoadScript();
    bool OpenLink();
    void WaitForClient();
    void Drive();
    void Turn(uint32_t now);
    void CheckReplyTime(uint32_t now);
    void CheckEnd(uint32_t now);
    void OnRxLine(const std::string& line, const std::string& stamp);
    void OnDisconnected(const std::string& reason);
    void LogAt(const std::string& stamp, const std::string& text);
    // Logs text, writes it to the error stream and ends the run with code.
    void Fail(int code, const std::string& text);
    void Flush();

    HeadlessOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* logFile_ = nullptr;
    Handover& handover_;
    std::vector<std::string> lines_;
    std::unique_ptr<ConsoleLink> link_;
    TBatchRunner runner_{*this};

    int exitCode_ = ExitScriptDone;
    bool finished_ = false;
    int rxOwed_ = 0;            //!< Received lines whose step is still to run.
    bool deferredOwed_ = false; //!< The runner asked for a DeferredStep.
    bool awaitingReply_ = false;
    uint32_t sentTick_ = 0;      //!< When the oldest command still without a reply went out.
    std::string awaitedCommand_; //!< That command.
    bool runEnded_ = false;
    uint32_t endTick_ = 0; //!< When the step machine stopped.
};

// main's headless branch: parses the arguments after the program name, runs, and returns the
// exit code. The caller has started the socket layer.
int RunHeadlessCommand(int argc, char** argv);
