#include "script/TestRecord.h"

#include <algorithm>
#include <cmath>

void TestRecord::Begin(const std::string& name, const std::string& timestamp, const std::string& hostname) {
    result_ = {};
    result_.name = name;
    result_.timestamp = timestamp;
    result_.hostname = hostname;
    runStart_ = Clock::now();
}

void TestRecord::End(const std::string& abortReason) {
    if (step_) EndStep(abortReason.empty() ? std::optional<std::string>() : abortReason);
    result_.abortReason = abortReason;
    result_.seconds = SecondsSince(runStart_);
}

bool TestRecord::BeginStep(const std::string& name) {
    if (step_) return false;
    step_ = StepResult{};
    step_->name = name;
    stepStart_ = Clock::now();
    return true;
}

const StepResult& TestRecord::EndStep(const std::optional<std::string>& errorReason) {
    StepResult& step = *step_;
    step.seconds = SecondsSince(stepStart_);
    if (errorReason) {
        step.verdict = StepVerdict::Errored;
        step.reason = *errorReason;
    } else if (std::any_of(step.checks.begin(), step.checks.end(),
                           [](const CheckResult& c) { return !c.passed; })) {
        step.verdict = StepVerdict::Failed;
    }
    result_.steps.push_back(std::move(step));
    step_.reset();
    return result_.steps.back();
}

CheckResult TestRecord::Check(const std::string& name, double value, std::optional<double> low,
                              std::optional<double> high, const std::string& unit, const std::string& stamp) {
    CheckResult check{name, value, low, high, unit, true, stamp};
    // NaN is within no limits, and a measurement without limits must at least be a number.
    check.passed = !std::isnan(value) && (!low || value >= *low) && (!high || value <= *high);
    const bool own = !step_;
    if (own) BeginStep(name);
    step_->checks.push_back(check);
    if (own) EndStep();
    return check;
}

void TestRecord::Fail(const std::string& reason) {
    const bool own = !step_;
    if (own) BeginStep("script");
    if (step_->verdict != StepVerdict::Failed) {
        step_->verdict = StepVerdict::Failed;
        step_->reason = reason;
    }
    if (own) EndStep();
}

const std::string& TestRecord::StepName() const {
    static const std::string none;
    return step_ ? step_->name : none;
}

void TestRecord::AddLogLine(const std::string& line) {
    if (step_) step_->logLines.push_back(line);
}

bool TestRecord::AnyFailed() const {
    return std::any_of(result_.steps.begin(), result_.steps.end(),
                       [](const StepResult& s) { return s.verdict != StepVerdict::Passed; });
}

TestRunResult TestRecord::Interim(const std::string& abortReason) const {
    TestRunResult interim = result_;
    if (step_) interim.steps.push_back(*step_);
    interim.abortReason = abortReason;
    interim.seconds = SecondsSince(runStart_);
    return interim;
}

double TestRecord::SecondsSince(Clock::time_point start) const {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
