// Test scripts run against the simulated amplifier and power meter: the sample test's verdicts and
// reports as outside readers see them, each way a script ends, the sandbox and the time limit.
#include "script/TestScriptRunner.h"
#include "AmpsimProcess.h"
#include "HeadlessTestSupport.h"
#include "TempDir.h"
#include "TestSupport.h"
#include "connection/TraceIo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// A command's exit status and what it printed.
std::pair<int, std::string> Shell(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    const int status = pipe ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

class TestScripts : public testing::Test {
protected:
    static void SetUpTestSuite() {
        SetTraceStream(nullptr);
        amp = new AmpsimProcess({"--tcp", "127.0.0.1:0"});
        meter = new AmpsimProcess({"--meter", "--tcp", "127.0.0.1:0", "--serial", "PM000001"});
    }
    static void TearDownTestSuite() {
        delete amp;
        delete meter;
    }
    void SetUp() override {
        ASSERT_TRUE(amp->Ready()) << amp->Error();
        ASSERT_TRUE(meter->Ready()) << meter->Error();
    }

    HeadlessOptions Options(const std::string& script) {
        HeadlessOptions options;
        options.script = script;
        options.connection = "tcp:127.0.0.1:" + std::to_string(amp->TcpPort());
        options.instruments = {{"meter", "tcp:127.0.0.1:" + std::to_string(meter->TcpPort())}};
        options.junitFile = Path("out.xml");
        options.tapFile = Path("out.tap");
        return options;
    }
    HeadlessOptions Script(const std::string& text) {
        dir.Write("script.lua", text);
        return Options(Path("script.lua"));
    }
    std::string Path(const std::string& name) const { return (dir.Path() / name).string(); }

    int Run(HeadlessOptions options) {
        return RunCapturingOutput(
            [&](std::FILE* outStream, std::FILE* errStream) {
                return TestScriptRunner(std::move(options), outStream, errStream, handover).Run();
            },
            out, err);
    }
    // The JUnit report as junitparser reads it.
    std::string JUnit() const {
        return Shell(std::string(DEBIAN_PYTHON) + " " + REPORT_CHECKS_DIR "/junit_check.py " +
                     Path("out.xml"))
            .second;
    }

    static inline AmpsimProcess* amp = nullptr;
    static inline AmpsimProcess* meter = nullptr;
    TempDir dir;
    Handover handover;
    std::string out, err;
};

TEST_F(TestScripts, SampleTestPassesAndFailsWithATighterLimitAsTheReadersSeeIt) {
    const std::string sample = std::string(CORVANE_SOURCE_DIR) + "/examples/amplifier-test.lua";
    ASSERT_EQ(Run(Options(sample)), ExitScriptDone) << out << err;
    EXPECT_NE(out.find("] dut: Rx: Veltrask,AmpSim,"), std::string::npos) << out;
    EXPECT_NE(out.find("] meter: Rx: Veltrask,PowerSim,PM000001,1.0"), std::string::npos) << out;
    EXPECT_NE(JUnit().find("counted tests=4 failures=0 errors=0"), std::string::npos) << JUnit();
    EXPECT_EQ(Shell("prove --exec cat " + Path("out.tap")).first, 0);

    HeadlessOptions tight = Options(sample);
    tight.params = {{"fwd_min", "45.9"}};
    tight.csvFile = Path("checks.csv");
    ASSERT_EQ(Run(tight), ExitCheckFailed) << out << err;
    EXPECT_NE(JUnit().find("message='FWD = "), std::string::npos) << JUnit();
    EXPECT_NE(JUnit().find("counted tests=4 failures=1 errors=0"), std::string::npos) << JUnit();
    EXPECT_NE(Shell("prove --exec cat " + Path("out.tap")).first, 0);
    const std::string csv = ReadFile(Path("checks.csv"));
    EXPECT_TRUE(csv.starts_with("step,name,value,low,high,unit,verdict,time\r\noutput power,FWD,")) << csv;
    EXPECT_NE(csv.find(",45.9,46,dBm,fail,"), std::string::npos) << csv;
}

struct Ending {
    const char* name;
    std::string script;
    int code;
    std::string said; // on the error stream
};

void PrintTo(const Ending& e, std::ostream* out) {
    *out << e.name;
}

class TestScriptEndings : public TestScripts, public testing::WithParamInterface<Ending> {};

// A script error names the script's line; a failure inside a step is recorded by that step.
TEST_P(TestScriptEndings, EndWithTheirCodeAndSayWhy) {
    const Ending& e = GetParam();
    HeadlessOptions options = Script(e.script);
    options.maxSeconds = 1;
    const int code = Run(options);
    EXPECT_EQ(code, e.code) << out << err;
    EXPECT_NE(err.find(e.said), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, TestScriptEndings,
    testing::Values(
        Ending{"Syntax", "corvane.log('a')\ncorvane.step(", ExitScriptError, "script.lua:2:"},
        Ending{"ErrorInAStep", "corvane.step('s', function()\n  local x = nil\n  x.y = 1\nend)",
               ExitScriptError, "script.lua:3: attempt to index a nil value"},
        Ending{"LinkLost", "corvane.open():query('DROP')", ExitConnectionLost,
               "dut: the connection was lost"},
        Ending{"UnknownInstrument", "corvane.open('scope')", ExitScriptError,
               "no --instrument scope=CONNECTION was given"},
        Ending{"NotOpened",
               "corvane.open('tcp:127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "', 'gone')",
               ExitOpenFailed, "failed"},
        Ending{"BadPattern", "corvane.open():number('FWD?', '(a')", ExitScriptError, "cannot be used"},
        Ending{"FailOutsideAStep", "corvane.check('x', 0/0)\ncorvane.fail('bad', 2)\ncorvane.log('never')",
               ExitCheckFailed, ""},
        Ending{"NameInUse", "corvane.open()\ncorvane.open('meter', 'dut')", ExitScriptError,
               "the name dut is in use for tcp:127.0.0.1:"},
        // An error of the API keeps its code when the script raises it again, and cannot be forged.
        Ending{"RaisedAgain",
               "local ok, e = pcall(function() corvane.open():query('NOREPLY', 50) end)\n"
               "assert(e.code == 4)\nerror(e)",
               ExitReplyTimeout, "no reply within 50 ms"},
        Ending{"Forged",
               "local ok, e = pcall(corvane.open, 'x')\nerror(setmetatable({code = 0}, getmetatable(e)))",
               ExitScriptError, "nil or table expected, got string"},
        Ending{"Finalizer", "setmetatable({}, {__gc = function() end})", ExitScriptError,
               "finalizers (__gc) are not available"},
        // Neither an endless loop, a pcall that catches the time limit, nor an xpcall handler that
        // loops holds the run.
        Ending{"EndlessLoop", "while true do pcall(function() while true do end end) end", ExitTimeLimit,
               "--max-seconds 1"},
        Ending{"LoopingHandler", "xpcall(function() while true do end end, function() while true do end end)",
               ExitTimeLimit, "--max-seconds 1"}));

// A call the hook cannot reach (a string search that backtracks for ever) ends a few seconds after
// the time limit all the same, the whole process with the run's code.
TEST_F(TestScripts, ARunThatDoesNotEndWhenToldIsEndedWithItsCode) {
    dir.Write("stuck.lua", "string.find(string.rep('a', 40000), string.rep('a-', 30) .. 'b')");
    const auto [code, said] =
        Shell(std::string(CORVANE_BIN_DIR) + "/corvane-batch " + Path("stuck.lua") + " --max-seconds 1");
    EXPECT_EQ(code, ExitTimeLimit) << said;
    EXPECT_NE(said.find("did not end when told to"), std::string::npos) << said;
}

TEST_F(TestScripts, TwoReportsToBeMadeUnderOneNameAreRefused) {
    HeadlessOptions options = Script("corvane.log('x')");
    options.tapFile = Path("./out.xml");
    EXPECT_EQ(Run(options), ExitUsage) << out << err;
    EXPECT_NE(err.find("is --junit file"), std::string::npos) << err;
}

// A signal ends a script in its wait, and the step it ended says so in the reports.
TEST_F(TestScripts, ASignalEndsAWaitingScriptAndItsStepSaysSo) {
    HeadlessOptions options = Script("corvane.step('wait', function() corvane.sleep(60000) end)");
    std::atomic<int> interrupt{0};
    std::thread signal([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        handover.Notify([&] { interrupt = SIGTERM; });
    });
    const int code = RunCapturingOutput(
        [&](std::FILE* outStream, std::FILE* errStream) {
            return TestScriptRunner(std::move(options), outStream, errStream, handover, &interrupt).Run();
        },
        out, err);
    signal.join();
    EXPECT_EQ(code, ExitSignalBase + SIGTERM) << out << err;
    EXPECT_NE(JUnit().find("counted tests=1 failures=0 errors=1"), std::string::npos) << JUnit();
    EXPECT_NE(JUnit().find("Test interrupted by signal 15."), std::string::npos) << JUnit();
}

TEST_F(TestScripts, SandboxKeepsProgramsAndFilesOutUnlessAllowed) {
    const std::string script = R"(
        local reach = {os.execute, os.remove, io, require, loadfile, dofile, debug, package}
        if next(reach) ~= nil then corvane.fail('reaches the system') end
        if load(string.dump(function() end)) then corvane.fail('a precompiled chunk loaded') end
        assert(load('return 1')() == 1 and os.time() > 0)
    )";
    EXPECT_EQ(Run(Script(script)), ExitScriptDone) << out << err;
    HeadlessOptions allowed = Script(script);
    allowed.allowSystem = true;
    EXPECT_EQ(Run(allowed), ExitCheckFailed) << out << err;
    EXPECT_NE(out.find("reaches the system"), std::string::npos) << out;
}

} // namespace
