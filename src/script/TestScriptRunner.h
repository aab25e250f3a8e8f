#pragma once
// A production test script in Lua, run without windows: `corvane-batch test.lua`. The script opens
// its instruments (TestInstrument), talks to them, records measurements against limits in named
// steps (TestRecord), and the run writes its reports (--junit, --tap, --csv) and ends with a code
// that says how it went: 0 every check passed, 9 a check or a step failed, else the batch runner's
// codes for what stopped it (2 an instrument cannot be opened, 3 a script error, 4 no reply,
// 6 a lost link, 7 an output failed, 8 --max-seconds, 128 + N a signal).
//
// Every line is logged as the batch runner logs it, on standard output and in the --log file, with
// the instrument's name after the stamp: "[hh:nn:ss.zzz] amp: Tx: FWD?".
//
// Threads: everything on the thread that calls Run, the UI thread of the given Handover; only the
// interrupt flag is set from elsewhere. The script's calls block this thread, and their waits keep
// every instrument read, the outputs written and the limits checked; a Lua hook ends a script that
// computes without calling the API (an endless loop) once a signal or --max-seconds comes.
#include "batch/HeadlessOptions.h"
#include "batch/HeadlessOutput.h"
#include "console/ConsoleSession.h"
#include "plot/SeriesCsv.h"
#include "script/ScriptError.h"
#include "script/TestRecord.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class LuaState;
class TestInstrument;

class TestScriptRunner : private SessionFace {
public:
    // How long a reply is waited for when neither the call nor --reply-timeout says.
    static constexpr uint32_t DefaultReplyMs = 2000;
    // The longest a log line waits for standard output while the script runs.
    static constexpr uint32_t FlushIntervalMs = 10;
    // How often the reports are rewritten with the steps so far while the script runs.
    static constexpr std::chrono::seconds InterimReportInterval{1};

    TestScriptRunner(HeadlessOptions options, std::FILE* out, std::FILE* err, Handover& handover,
                     const std::atomic<int>* interrupt = nullptr);
    ~TestScriptRunner() override;
    TestScriptRunner(const TestScriptRunner&) = delete;
    TestScriptRunner& operator=(const TestScriptRunner&) = delete;

    // The whole run; returns the exit code.
    int Run();

    // --- What the script's API asks of the run ---
    const HeadlessOptions& Options() const { return options_; }
    // Opens what: "" for --connect, the name of an --instrument, else a connection string or VISA
    // resource. name: how the log calls it ("" for the --instrument name, else the connection).
    TestInstrument& OpenInstrument(const std::string& what, const std::string& name);
    uint32_t ReplyMs() const;
    // Waits until done says so or ms have passed (false then), reading focus first and the other
    // instruments too. Throws ScriptError once a signal, --max-seconds or a failed output ends the run.
    bool Await(const std::function<bool()>& done, uint32_t ms, TestInstrument* focus);
    // Throws ScriptError when the run is to end (see Await).
    void CheckLimits();
    // The same question without throwing, for the Lua hook.
    bool StopRequested();
    // A line of the run's own, stamped now.
    void Log(const std::string& text, uint32_t colour);
    // A line an instrument's session logged ("[stamp] text"), shown with its name.
    void InstrumentLine(const std::string& name, const std::string& line, uint32_t colour);
    TestRecord& Record() { return record_; }
    // Logs a measurement and writes its CSV row.
    void CheckRecorded(const CheckResult& check);
    void StepBegun(const std::string& name);
    // Logs a step's end and rewrites the reports with the steps so far.
    void StepEnded(const StepResult& step);

private:
    // SessionFace of the run's own log (no link: the log file and the lines of the run itself).
    void ShowLine(const std::string& line, uint32_t colour) override;
    OpenResult AwaitOpen(ConsoleLink&, std::string&) override { return OpenResult::Failed; }
    void LogFileFailed(const std::string& path, const std::string& reason) override;

    bool LoadScript(std::string& source);
    bool CheckOutputPaths();
    bool OpenOutputs();
    bool WriteReports(const TestRunResult& result);
    // Runs the compiled script; the error that ended it, if any.
    std::optional<ScriptError> RunScript(LuaState& lua);
    void EndRun(const std::optional<ScriptError>& error);
    void Flush();
    void FinishOutputs();
    void OutputFailed(const std::string& what, const std::string& reason);
    void Fail(int code, const std::string& text);
    bool TimeIsUp() const;

    HeadlessOptions options_;
    HeadlessOutput output_;
    Handover& handover_;
    const std::atomic<int>* interrupt_;
    Handover::Clock::time_point deadline_ = Handover::Clock::time_point::max();
    int exitCode_ = ExitScriptDone;
    std::optional<ScriptError> stop_; //!< Why the run is to end before its script does.
    bool outputBroken_ = false;
    TestRecord record_;
    Handover::Clock::time_point reportsWritten_; //!< When the reports were last rewritten.
    CsvStream csv_;
    std::vector<std::unique_ptr<TestInstrument>> instruments_;
    // The run's own log: its lines and the instruments' go through it to the log file.
    ConsoleSession log_;
};

// main's branch for a test script: as RunHeadlessCommand, with options already parsed.
int RunTestScript(HeadlessOptions options);
