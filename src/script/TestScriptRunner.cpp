#include "script/TestScriptRunner.h"

#include "batch/HeadlessSignals.h"
#include "connection/SerialPortList.h"
#include "connection/TraceIo.h"
#include "connection/VisaResource.h"
#include "console/LogTexts.h"
#include "log/AppendFile.h"
#include "log/LogColours.h"
#include "platform/System.h"
#include "platform/Tick.h"
#include "script/LuaState.h"
#include "script/TestInstrument.h"
#include "script/TestReport.h"
#include "script/TestScriptApi.h"
#include "text/Strtools.h"
#include "text/TextFile.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {
// A report of a run that has not ended says so: a run that is killed leaves this one.
constexpr char RunNotEnded[] = "the run has not ended (or was killed)";
// What corvane.open() calls the instrument of --connect.
constexpr char ConnectName[] = "dut";

// The script's name without folder and ".lua", as the reports call the run.
std::string RunName(const std::string& script) {
    std::string name = std::filesystem::path(script).filename().string();
    return name.size() > 4 ? name.substr(0, name.size() - 4) : name;
}

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// "FWD = 45.01 dBm (44 .. 46): pass"
std::string CheckLine(const CheckResult& check) {
    const std::string unit = check.unit.empty() ? std::string() : " " + check.unit;
    return "Check " + check.name + " = " + NumberText(check.value) + unit + " (" +
           (check.low ? NumberText(*check.low) : std::string("-inf")) + " .. " +
           (check.high ? NumberText(*check.high) : std::string("+inf")) +
           "): " + (check.passed ? "pass" : "FAIL");
}

const char* VerdictText(StepVerdict verdict) {
    switch (verdict) {
    case StepVerdict::Passed:
        return "passed";
    case StepVerdict::Failed:
        return "FAILED";
    case StepVerdict::Errored:
        return "ended by an error";
    }
    return "";
}
// The last resort once a signal or --max-seconds has ended the run: a script that the hook cannot
// reach (a long call into a string function) has GraceMs more, then the process ends with the
// run's code, its interim reports on disk. Watches from a thread of its own what another thread may
// read: the interrupt flag and the deadline, both fixed or atomic.
class StopWatchdog {
public:
    static constexpr auto Grace = std::chrono::seconds(3);

    StopWatchdog(const std::atomic<int>* interrupt, Handover::Clock::time_point deadline)
        : thread_([this, interrupt, deadline] { Watch(interrupt, deadline); }) {}
    ~StopWatchdog() {
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    StopWatchdog(const StopWatchdog&) = delete;
    StopWatchdog& operator=(const StopWatchdog&) = delete;

private:
    void Watch(const std::atomic<int>* interrupt, Handover::Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        std::optional<Handover::Clock::time_point> stopped;
        while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return ended_; })) {
            const int signal = interrupt ? interrupt->load() : 0;
            const auto now = Handover::Clock::now();
            if (!stopped && (signal != 0 || now >= deadline)) stopped = now;
            if (!stopped || now - *stopped < Grace) continue;
            std::fputs("corvane: the test script did not end when told to: the run ends here.\n", stderr);
            std::_Exit(signal != 0 ? ExitSignalBase + signal : ExitTimeLimit);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool ended_ = false;
    std::thread thread_; //!< Last: it starts once the rest is made.
};
} // namespace

TestScriptRunner::TestScriptRunner(HeadlessOptions options, std::FILE* out, std::FILE* err,
                                   Handover& handover, const std::atomic<int>* interrupt)
    : options_(std::move(options)), output_(out, err), handover_(handover), interrupt_(interrupt),
      log_(*this, handover) {
    log_.SetConnection(options_.script);
}

// The instruments go first: their last lines still find the log.
TestScriptRunner::~TestScriptRunner() {
    instruments_.clear();
}

int TestScriptRunner::Run() {
    if (options_.maxSeconds > 0)
        deadline_ = Handover::Clock::now() + std::chrono::seconds(options_.maxSeconds);
    std::string source;
    if (LoadScript(source) && CheckOutputPaths()) {
        const StopWatchdog watchdog(interrupt_, deadline_);
        LuaState lua(options_.allowSystem);
        TestScriptApi api(lua.L(), *this);
        std::string error;
        if (!api.Load(source, options_.script, error)) {
            Fail(ExitScriptError, error);
        } else if (OpenOutputs()) {
            std::string began = GetDateTimeStamp().substr(0, 19);
            std::replace(began.begin(), began.end(), ' ', 'T');
            record_.Begin(RunName(options_.script), began, SystemHostName());
            Log("Test " + options_.script + " begins.", LogColours::Status);
            EndRun(api.Run());
        }
    }
    FinishOutputs();
    return exitCode_;
}

bool TestScriptRunner::LoadScript(std::string& source) {
    int code = 0;
    bool opened = false;
    if (ReadTextBytes(options_.script, source, code, &opened)) return true;
    Fail(ExitScriptError, std::string(opened ? "Cannot read file" : "Cannot open file") + " \"" +
                              options_.script + "\". " + TextFileErrorText(code));
    return false;
}

// No output may be the script or another output: each would destroy what the other wrote.
bool TestScriptRunner::CheckOutputPaths() {
    const std::pair<const char*, std::string> files[] = {{"the script", options_.script},
                                                         {"--log", options_.logFile},
                                                         {"--csv", options_.csvFile},
                                                         {"--junit", options_.junitFile},
                                                         {"--tap", options_.tapFile}};
    for (size_t i = 1; i < std::size(files); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (!SamePath(files[i].second, files[j].second)) continue;
            output_.SayError(std::string(files[i].first) + " \"" + files[i].second + "\" is " +
                             files[j].first + (j == 0 ? "" : " file") + ": name a file of its own.");
            exitCode_ = ExitUsage;
            return false;
        }
    }
    return true;
}

// Every output is tried before anything is sent: a report that cannot be written is known now.
bool TestScriptRunner::OpenOutputs() {
    if (!options_.logFile.empty() && !log_.StartLogFile(options_.logFile, false)) {
        output_.SayError("cannot open the log file \"" + options_.logFile +
                         "\": " + log_.LogFile().Failure() + ".");
        exitCode_ = ExitUsage;
        return false;
    }
    if (!options_.csvFile.empty()) {
        std::string reason;
        if (csv_.OpenWithHeader(options_.csvFile, CsvReportHeader(), reason) != CsvStream::Opened::Yes) {
            output_.SayError("cannot open the CSV file \"" + options_.csvFile + "\": " + reason + ".");
            exitCode_ = ExitUsage;
            return false;
        }
    }
    if (!WriteReports(record_.Interim(RunNotEnded))) {
        exitCode_ = ExitUsage;
        return false;
    }
    return true;
}

// Each report replaces the last one whole, so a reader never sees half of one.
bool TestScriptRunner::WriteReports(const TestRunResult& result) {
    const std::pair<const std::string&, std::string (*)(const TestRunResult&)> reports[] = {
        {options_.junitFile, JUnitReport}, {options_.tapFile, TapReport}};
    for (const auto& [path, report] : reports) {
        int code = 0;
        if (path.empty() || WriteTextData(path, report(result), code)) continue;
        output_.SayError("cannot write the report \"" + path + "\": " + GetSystemErrorText(code) + ".");
        return false;
    }
    return true;
}

TestInstrument& TestScriptRunner::OpenInstrument(const std::string& what, const std::string& name) {
    std::string connection = what;
    std::string shown = name;
    const auto named = std::find_if(options_.instruments.begin(), options_.instruments.end(),
                                    [&](const auto& instrument) { return instrument.first == what; });
    if (what.empty()) {
        if (options_.connection.empty())
            throw ScriptError{ExitScriptError,
                              "corvane.open() opens the instrument of --connect, and none was given"};
        connection = options_.connection;
        if (shown.empty()) shown = ConnectName;
    } else if (named != options_.instruments.end()) {
        connection = named->second;
        if (shown.empty()) shown = what;
    } else if (LooksLikeVisaResource(what)) {
        std::string error;
        if (!VisaToConnection(what, {options_.gpibDriver, SerialPortOfNumber}, connection, error))
            throw ScriptError{ExitScriptError, what + ": " + error};
    } else if (what.find(':') == std::string::npos) {
        throw ScriptError{ExitScriptError, "no --instrument " + what + "=CONNECTION was given"};
    }
    if (shown.empty()) shown = what;
    // A name stands for one instrument: the same one again, never another.
    for (const auto& open : instruments_) {
        if (open->Name() != shown || !open->IsOpen()) continue;
        if (open->Connection() == connection) return *open;
        throw ScriptError{ExitScriptError, "the name " + shown + " is in use for " + open->Connection()};
    }
    instruments_.push_back(std::make_unique<TestInstrument>(*this, handover_, shown, connection, options_));
    instruments_.back()->Open();
    return *instruments_.back();
}

uint32_t TestScriptRunner::ReplyMs() const {
    return options_.replyTimeoutMs > 0 ? static_cast<uint32_t>(options_.replyTimeoutMs) : DefaultReplyMs;
}

// Short slices: the outputs are written, the other instruments read and the limits looked at
// every FlushIntervalMs, while the instrument waited on is read the moment its line comes.
bool TestScriptRunner::Await(const std::function<bool()>& done, uint32_t ms, TestInstrument* focus) {
    const auto until = Handover::Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        CheckLimits();
        if (TickDiff(GetTickCount(), output_.FlushTick()) >= FlushIntervalMs) Flush();
        for (const auto& instrument : instruments_) {
            if (instrument.get() != focus) instrument->Pull(0);
        }
        if (done()) return true;
        const auto now = Handover::Clock::now();
        if (now >= until) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        const auto slice = static_cast<uint32_t>(std::clamp<int64_t>(left, 1, FlushIntervalMs));
        if (focus) {
            focus->Pull(slice);
        } else {
            handover_.WaitUntil([this] { return interrupt_ && *interrupt_ != 0; },
                                Handover::Clock::now() + std::chrono::milliseconds(slice));
        }
    }
}

void TestScriptRunner::CheckLimits() {
    if (StopRequested()) throw *stop_;
}

bool TestScriptRunner::StopRequested() {
    if (stop_) return true;
    if (const int signal = interrupt_ ? interrupt_->load() : 0; signal != 0) {
        stop_ = ScriptError{ExitSignalBase + signal,
                            "Test interrupted by signal " + std::to_string(signal) + "."};
    } else if (TimeIsUp()) {
        stop_ = ScriptError{ExitTimeLimit, "Test stopped: the run reached its limit of --max-seconds " +
                                               std::to_string(options_.maxSeconds) + "."};
    }
    return stop_.has_value();
}

bool TestScriptRunner::TimeIsUp() const {
    return options_.maxSeconds > 0 && Handover::Clock::now() >= deadline_;
}

void TestScriptRunner::Log(const std::string& text, uint32_t colour) {
    log_.Log(text, colour);
}

// "[hh:nn:ss.zzz] Tx: FWD?" from the instrument becomes "[hh:nn:ss.zzz] amp: Tx: FWD?".
void TestScriptRunner::InstrumentLine(const std::string& name, const std::string& line, uint32_t colour) {
    const size_t stampEnd = line.starts_with('[') ? line.find("] ") : std::string::npos;
    const size_t at = stampEnd == std::string::npos ? 0 : stampEnd + 2;
    // Built in one string: two lines go this way with every query.
    std::string named;
    named.reserve(line.size() + name.size() + 2);
    named.append(line, 0, at).append(name).append(": ").append(line, at);
    log_.LogLine(named, colour);
}

void TestScriptRunner::CheckRecorded(const CheckResult& check) {
    Log(CheckLine(check), check.passed ? LogColours::Status : LogColours::Error);
    if (options_.csvFile.empty() || outputBroken_) return;
    StepResult row;
    row.name = record_.InStep() ? record_.StepName() : check.name;
    row.checks.push_back(check);
    std::string reason;
    switch (csv_.Write(CsvReportRows(row), reason)) {
    case CsvStream::Written::Yes:
        break;
    case CsvStream::Written::Reopened:
        Log("The CSV file " + options_.csvFile + " was deleted: its rows go on in a new one.",
            LogColours::Status);
        break;
    case CsvStream::Written::Failed:
        OutputFailed("the CSV file \"" + options_.csvFile + "\"", reason);
        break;
    }
}

void TestScriptRunner::StepBegun(const std::string& name) {
    Log("Step " + name + " begins.", LogColours::Status);
}

void TestScriptRunner::StepEnded(const StepResult& step) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f s", step.seconds);
    std::string text = "Step " + step.name + " " + VerdictText(step.verdict) + " (" + seconds + ")";
    if (!step.reason.empty()) text += ": " + step.reason;
    Log(text + ".", step.verdict == StepVerdict::Passed ? LogColours::Status : LogColours::Error);
    // Each write replaces a whole report and reaches the disk: at most once a second while the
    // script runs (a script of thousands of short steps), always at the end.
    const auto now = Handover::Clock::now();
    if (now - reportsWritten_ < InterimReportInterval) return;
    reportsWritten_ = now;
    if (!WriteReports(record_.Interim(RunNotEnded))) OutputFailed("a report", "see above");
}

// The verdict and the code: an error that ended the run, else 9 when anything failed.
void TestScriptRunner::EndRun(const std::optional<ScriptError>& ended) {
    std::optional<ScriptError> error = ended;
    if (stop_) {
        // The run's end takes its own code and words, whatever the script made of it; a step that
        // it ended has recorded it.
        const bool recorded = error && error->recorded;
        error = stop_;
        error->recorded = recorded;
    }
    if (error && error->code == ExitCheckFailed && !error->recorded) {
        record_.Fail(error->message); // corvane.fail outside a step
        StepEnded(record_.Result().steps.back());
        error.reset();
    }
    std::string abortReason;
    if (error && !error->recorded) abortReason = error->message;
    record_.End(abortReason);
    for (const auto& instrument : instruments_)
        instrument->Close();
    const size_t failed = static_cast<size_t>(
        std::count_if(record_.Result().steps.begin(), record_.Result().steps.end(),
                      [](const StepResult& step) { return step.verdict != StepVerdict::Passed; }));
    if (error) {
        Fail(error->code, error->message);
    } else if (failed > 0) {
        exitCode_ = ExitCheckFailed;
        Log("Test FAILED: " + std::to_string(failed) + " of " +
                std::to_string(record_.Result().steps.size()) + " steps failed.",
            LogColours::Error);
    } else {
        Log("Test passed: " + std::to_string(record_.Result().steps.size()) + " steps.", LogColours::Status);
    }
    if (!WriteReports(record_.Result()) && exitCode_ == ExitScriptDone) exitCode_ = ExitOutputFailed;
}

void TestScriptRunner::Fail(int code, const std::string& text) {
    Log(text, LogColours::Error);
    output_.SayError(text);
    exitCode_ = code;
}

// A script that logs without waiting (print in a loop) has its lines written as they come.
void TestScriptRunner::ShowLine(const std::string& line, uint32_t) {
    output_.Line(line);
    record_.AddLogLine(line);
    if (TickDiff(GetTickCount(), output_.FlushTick()) >= FlushIntervalMs) Flush();
}

void TestScriptRunner::LogFileFailed(const std::string& path, const std::string& reason) {
    OutputFailed("the log file \"" + path + "\"", reason);
}

// The run ends with code 7 at the script's next call (or hook).
void TestScriptRunner::OutputFailed(const std::string& what, const std::string& reason) {
    if (what == "standard output") output_.SetBroken();
    // Also after the script's end: what was lost decides the code over a verdict.
    if (exitCode_ == ExitScriptDone || exitCode_ == ExitCheckFailed) exitCode_ = ExitOutputFailed;
    outputBroken_ = outputBroken_ || what.starts_with("the CSV");
    output_.SayError("cannot write " + what + ". " + reason);
    if (!stop_) stop_ = ScriptError{ExitOutputFailed, "Test stopped: cannot write " + what + "."};
}

void TestScriptRunner::Flush() {
    log_.FlushLogFile();
    if (std::string why = output_.Flush(); !why.empty()) OutputFailed("standard output", why);
}

void TestScriptRunner::FinishOutputs() {
    Flush();
    const auto ended = [this] { return (interrupt_ && *interrupt_ != 0) || TimeIsUp(); };
    bool stalled = false;
    if (std::string why = output_.Finish(ended, stalled); !why.empty() && exitCode_ == ExitScriptDone)
        exitCode_ = ExitOutputFailed;
    if (stalled) output_.SayStalled();
    log_.FlushLogFile();
    output_.FinishErrors(ended);
}

int RunTestScript(HeadlessOptions options) {
    SetTraceStream(nullptr);
    HeadlessSignals signals(Handover::Main());
    TestScriptRunner runner(std::move(options), stdout, stderr, Handover::Main(), &signals.Caught());
    return runner.Run();
}
