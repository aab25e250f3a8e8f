#pragma once
// The record a test run keeps while its script runs: which step is running, the measurements and
// verdicts so far, and the log lines of each step, for the reports. Checks and failures outside a
// step make a step of their own, so every measurement is in the reports.
//
// Plain C++; the run's one thread.
#include "script/TestResults.h"

#include <chrono>
#include <optional>
#include <string>

class TestRecord {
public:
    using Clock = std::chrono::steady_clock;

    // The run begins: its name (the script's file name without folder and ".lua") and the wall time.
    void Begin(const std::string& name, const std::string& timestamp, const std::string& hostname);
    void End(const std::string& abortReason);

    // A step begins; false when one is running already (steps do not nest).
    bool BeginStep(const std::string& name);
    // The step ends; errorReason: it ended with an error (Errored). Its verdict otherwise follows
    // its checks and a Fail.
    const StepResult& EndStep(const std::optional<std::string>& errorReason = std::nullopt);
    bool InStep() const { return step_.has_value(); }
    // The running step's name; empty outside a step.
    const std::string& StepName() const;

    // A measurement: in the running step, else in a step of its own. Returns it, verdict and all.
    CheckResult Check(const std::string& name, double value, std::optional<double> low,
                      std::optional<double> high, const std::string& unit, const std::string& stamp);
    // corvane.fail: the running step fails with reason (the first reason is kept); outside a step,
    // a step "script" that failed.
    void Fail(const std::string& reason);
    // A log line of the run, kept with the running step.
    void AddLogLine(const std::string& line);

    // A step or a check has failed so far.
    bool AnyFailed() const;
    const TestRunResult& Result() const { return result_; }
    // The result as it stands, with abortReason set: what a report says of a run that has not ended
    // (yet, or ever: a killed run leaves this one).
    TestRunResult Interim(const std::string& abortReason) const;

private:
    double SecondsSince(Clock::time_point start) const;

    TestRunResult result_;
    Clock::time_point runStart_;
    std::optional<StepResult> step_;
    Clock::time_point stepStart_;
};
