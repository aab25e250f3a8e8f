#pragma once
// What a production test run found: its steps, each step's measurements with their limits and
// verdicts, and the lines it logged. The Lua test run fills it; the reports (JUnit, TAP, CSV) read
// it. Plain data, no I/O.
#include <optional>
#include <string>
#include <vector>

// One measurement: corvane.check(name, value, low, high [, unit]). A missing limit is not checked.
struct CheckResult {
    std::string name;
    double value = 0;
    std::optional<double> low;
    std::optional<double> high;
    std::string unit;
    bool passed = true;
    std::string stamp; //!< When it was taken: "yyyy-mm-ddThh:nn:ss.zzz", local time.
};

// How a step ended.
enum class StepVerdict {
    Passed,  // every check within its limits, no corvane.fail
    Failed,  // a check out of its limits, or corvane.fail(reason)
    Errored, // the script failed in the step (a Lua error, a lost link, a reply that never came)
};

// One step: corvane.step(name, fn). Checks and fails outside any step make a step of their own,
// named after the check (or "script" for a fail or an error outside a step).
struct StepResult {
    std::string name;
    double seconds = 0;
    StepVerdict verdict = StepVerdict::Passed;
    std::string reason; //!< Failed: corvane.fail's text (empty when only checks failed); Errored: the error.
    std::vector<CheckResult> checks;
    std::vector<std::string> logLines; //!< As logged: "[hh:nn:ss.zzz] text".
};

struct TestRunResult {
    std::string name;      //!< The script's file name without folder and ".lua".
    std::string timestamp; //!< When the run began: "yyyy-mm-ddThh:nn:ss", local time.
    std::string hostname;
    double seconds = 0;
    std::vector<StepResult> steps;
    //! The run ended before its script did (a script error outside a step, --max-seconds, a
    //! signal): why. The steps so far are reported.
    std::string abortReason;
};
