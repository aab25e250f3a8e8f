// A test script's steps on every system the core builds for: a check within and beyond its limits,
// a fail, an error the script catches and one it does not, each unwinding through the interpreter
// (built as C++: its errors are exceptions) to the step that records it, and the TAP report that
// says so.
#include "AmpsimProcess.h"
#include "TempDir.h"
#include "script/TestScriptRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

TEST(TestSteps, RecordEachVerdictAndEndTheRunAtAnUncaughtError) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    TempDir dir;
    dir.Write("steps.lua", R"(
        local amp = corvane.open()
        corvane.step('within', function() corvane.check('FWD', amp:number('FWD?'), 40, 50, 'dBm') end)
        corvane.step('beyond', function() corvane.check('FWD', amp:number('FWD?'), 50, 60, 'dBm') end)
        corvane.step('failed', function() corvane.fail('door open') corvane.log('not reached') end)
        local caught = not pcall(amp.query, amp, 'NOREPLY', 50)
        corvane.step('caught', function() corvane.check('caught', caught and 1 or 0, 1, 1) end)
        corvane.step('uncaught', function() amp:query('NOREPLY', 50) end)
        corvane.step('never', function() end)
    )");
    HeadlessOptions options;
    options.script = (dir.Path() / "steps.lua").string();
    options.connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    options.tapFile = (dir.Path() / "steps.tap").string();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Handover handover;
    int code;
    {
        TestScriptRunner runner(options, out, err, handover);
        code = runner.Run();
    }
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(code, ExitReplyTimeout);
    std::stringstream tap;
    tap << std::ifstream(options.tapFile).rdbuf();
    const std::string report = tap.str();
    for (const char* point : {"\nok 1 - within\n", "\nnot ok 2 - beyond\n", "\nnot ok 3 - failed\n",
                              "\nok 4 - caught\n", "\nnot ok 5 - uncaught\n", "1..5\n"})
        EXPECT_NE(report.find(point), std::string::npos) << point << " in\n" << report;
    EXPECT_NE(report.find("door open"), std::string::npos) << report;
    EXPECT_NE(report.find("steps.lua:8: dut: no reply within 50 ms to: NOREPLY"), std::string::npos)
        << report;
    EXPECT_EQ(report.find("never"), std::string::npos) << report;
}

} // namespace
