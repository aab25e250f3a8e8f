#pragma once
// The reports of a production test run, as the line's CI systems read them: JUnit XML (GitLab,
// Jenkins, Azure), TAP version 14 (Jenkins, prove), and CSV rows of every measurement.
#include "script/TestResults.h"

#include <string>

// One <testsuite> for the run, one <testcase> per step with its time; a failed step carries a
// <failure> with each out-of-limits measurement (value, limits, unit) or fail's reason, an errored
// step an <error>; <system-out> holds the step's log lines.
std::string JUnitReport(const TestRunResult& run);

// "TAP version 14", the plan, one test point per step; measurements as YAML diagnostics.
std::string TapReport(const TestRunResult& run);

// The CSV header and one row per measurement: step, name, value, low, high, unit, verdict, time.
std::string CsvReportHeader();
std::string CsvReportRows(const StepResult& step);
