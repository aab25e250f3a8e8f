#pragma once
// The reports of a production test run, as the line's CI systems read them: JUnit XML (GitLab,
// Jenkins, Azure), TAP (Jenkins, prove), and CSV rows of every measurement. Text is UTF-8: each
// valid UTF-8 sequence is kept, any other byte read as Latin-1.
#include "script/TestResults.h"

#include <string>

// One <testsuite> for the run, one <testcase> per step with its time; a failed step carries a
// <failure> with each out-of-limits measurement (value, limits, unit) or fail's reason, an errored
// step an <error>; <system-out> holds the step's log lines. An abort adds a case named "run"
// with an <error>.
std::string JUnitReport(const TestRunResult& run);

// The version line, the plan, one test point per step (and one named "run" for an abort);
// measurements as YAML diagnostics. It says "TAP version 13", which prove on Debian 12 reads
// (what it writes is also TAP 14).
std::string TapReport(const TestRunResult& run);

// The CSV header and one row per measurement: step, name, value, low, high, unit, verdict, time
// (an empty field for a missing limit), with CR LF line ends as the series CSV.
std::string CsvReportHeader();
std::string CsvReportRows(const StepResult& step);
