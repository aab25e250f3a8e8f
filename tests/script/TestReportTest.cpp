// The reports as readers written elsewhere read them: junitparser and xmllint for JUnit, Perl's
// TAP::Parser and prove for TAP.
#include "script/TestReport.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace {

CheckResult Check(const std::string& name, double value, std::optional<double> low,
                  std::optional<double> high, const std::string& unit, bool passed) {
    return {name, value, low, high, unit, passed, "2026-12-08T11:00:02.500"};
}

StepResult Step(const std::string& name, double seconds, StepVerdict verdict, const std::string& reason) {
    StepResult step;
    step.name = name, step.seconds = seconds, step.verdict = verdict, step.reason = reason;
    return step;
}

// A run that went wrong in every way a report shows: a step that passed, one with measurements out
// of their limits and missing limits, one that called fail(), one that errored, then an abort.
// The text is awkward: XML specials and '#' in a name, control bytes, Latin-1 beside UTF-8.
TestRunResult AwkwardRun() {
    TestRunResult run;
    run.name = "pa_final", run.timestamp = "2026-12-08T11:00:00", run.hostname = "station-3";
    run.seconds = 12.3456;
    run.steps = {
        Step("power on", 1.5, StepVerdict::Passed, ""),
        Step("FWD # <max> & 'min'", 2.25, StepVerdict::Failed, ""),
        Step("interlock", 0.5, StepVerdict::Failed, "door open"),
        Step("status\nread", 5, StepVerdict::Errored, "bad reply \"ERR\r\"\nstack traceback:\n\t[C]: in ?")};
    run.steps[0].checks = {Check("FWD", 43.1, 42, 44, "dBm", true)};
    run.steps[0].logLines = {"[11:00:01.100] OUTP ON"};
    run.steps[1].checks = {Check("FWD", 41.2, 42, 44, "dBm", false),
                           Check("REFL, \"in\"", 0.1 + 0.2, std::nullopt, 1, "W", true),
                           Check("TEMP", 71, std::nullopt, 70, "\260C", false)};
    run.steps[1].logLines = {"[11:00:02.000] TEMP? \x01 71\260C \xC3\xA9t\xC3\xA9"};
    run.abortReason = "--max-seconds 10 reached";
    return run;
}

// Writes text to a file in a new folder and runs command on that file there: its exit status and
// what it wrote to stdout and stderr.
std::pair<int, std::string> RunOn(const std::string& text, const std::string& command) {
    TempDir dir;
    dir.Write("report", text);
    FILE* pipe = ::popen(("cd '" + dir.Path().string() + "' && " + command + " report 2>&1").c_str(), "r");
    if (!pipe) return {-1, ""};
    std::string output;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// What junitparser and TAP::Parser read in the reports of AwkwardRun.
constexpr char ReadJUnit[] =
    R"(suite 'pa_final' tests=5 failures=2 errors=2 skipped=0 time=12.346 at='2026-12-08T11:00:00' on='station-3'
case 'power on' class='pa_final' time=1.5
  out '[11:00:01.100] OUTP ON\n[2026-12-08T11:00:02.500] FWD = 43.1 dBm, limits 42 .. 44: pass\n'
case "FWD # <max> & 'min'" class='pa_final' time=2.25
  failure type='limits' message='FWD = 41.2 dBm, limits 42 .. 44' text='FWD = 41.2 dBm, limits 42 .. 44\nTEMP = 71 °C, high limit 70\n'
  out '[11:00:02.000] TEMP? \\x01 71°C été\n[2026-12-08T11:00:02.500] FWD = 41.2 dBm, limits 42 .. 44: fail\n[2026-12-08T11:00:02.500] REFL, "in" = 0.30000000000000004 W, high limit 1: pass\n[2026-12-08T11:00:02.500] TEMP = 71 °C, high limit 70: fail\n'
case 'interlock' class='pa_final' time=0.5
  failure type='fail' message='door open' text='door open\n'
case 'status\nread' class='pa_final' time=5.0
  error type='error' message='bad reply "ERR\r"\nstack traceback:\n\t[C]: in ?' text='bad reply "ERR\r"\nstack traceback:\n\t[C]: in ?'
case 'run' class='pa_final' time=0.0
  error type='abort' message='--max-seconds 10 reached' text='--max-seconds 10 reached'
counted tests=5 failures=2 errors=2
)";
constexpr char ReadTap[] = R"(ok 1 - power on
  {"measurements" => [{"high" => 44,"low" => 42,"name" => "FWD","unit" => "dBm","value" => "43.1","verdict" => "pass"}]}
not ok 2 - FWD \# <max> & 'min'
  {"measurements" => [{"high" => 44,"low" => 42,"name" => "FWD","unit" => "dBm","value" => "41.2","verdict" => "fail"},{"high" => 1,"low" => undef,"name" => "REFL, \"in\"","unit" => "W","value" => "0.30000000000000004","verdict" => "pass"},{"high" => 70,"low" => undef,"name" => "TEMP","unit" => "\x{b0}C","value" => 71,"verdict" => "fail"}],"message" => "FWD = 41.2 dBm, limits 42 .. 44","severity" => "fail"}
not ok 3 - interlock
  {"message" => "door open","severity" => "fail"}
not ok 4 - status read
  {"message" => "bad reply \"ERR\r\"\nstack traceback:\n\t[C]: in ?","severity" => "error"}
not ok 5 - run
  {"message" => "--max-seconds 10 reached","severity" => "error"}
)";

TEST(TestReport, JUnitReadsBackWhole) {
    const std::string xml = JUnitReport(AwkwardRun());
    EXPECT_EQ(RunOn(xml, "xmllint --noout"), std::make_pair(0, std::string()));
    EXPECT_EQ(RunOn(xml, DEBIAN_PYTHON " " REPORT_CHECKS_DIR "/junit_check.py"),
              std::make_pair(0, std::string(ReadJUnit)));
}

TEST(TestReport, TapReadsBackWhole) {
    EXPECT_EQ(RunOn(TapReport(AwkwardRun()), "perl " REPORT_CHECKS_DIR "/tap_check.pl"),
              std::make_pair(0, std::string(ReadTap)));
}

TEST(TestReport, ProvePassesOnlyARunThatPassedWhole) {
    TestRunResult run = AwkwardRun();
    const auto [failedStatus, failed] = RunOn(TapReport(run), "prove --exec cat");
    EXPECT_NE(failedStatus, 0);
    EXPECT_NE(failed.find("Failed tests:  2-5"), std::string::npos) << failed;
    EXPECT_EQ(failed.find("Parse errors"), std::string::npos) << failed;

    run.steps.resize(1);
    run.abortReason.clear();
    std::string passed = TapReport(run);
    EXPECT_EQ(RunOn(passed, "prove --exec cat").first, 0);
    // The control: prove holds a report to its plan.
    passed.replace(passed.find("1..1"), 4, "1..2");
    const auto [badStatus, bad] = RunOn(passed, "prove --exec cat");
    EXPECT_NE(badStatus, 0);
    EXPECT_NE(bad.find("Bad plan"), std::string::npos) << bad;
}

TEST(TestReport, CsvQuotesFieldsAndLeavesMissingLimitsEmpty) {
    EXPECT_EQ(
        CsvReportHeader() + CsvReportRows(AwkwardRun().steps[1]),
        "step,name,value,low,high,unit,verdict,time\r\n"
        "FWD # <max> & 'min',FWD,41.2,42,44,dBm,fail,2026-12-08T11:00:02.500\r\n"
        "FWD # <max> & 'min',\"REFL, \"\"in\"\"\",0.30000000000000004,,1,W,pass,2026-12-08T11:00:02.500\r\n"
        "FWD # <max> & 'min',TEMP,71,,70,°C,fail,2026-12-08T11:00:02.500\r\n");
}

} // namespace
