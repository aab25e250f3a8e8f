// The program run headless, as a production test station or CI would: the real corvane binary as
// a child process against the simulated amplifier, with no display (DISPLAY and WAYLAND_DISPLAY
// unset and the X11 platform asked for, so a QApplication would abort), for each exit code.
#include "AmpsimProcess.h"
#include "HeadlessTestSupport.h"
#include "batch/HeadlessOptions.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

extern char** environ;

namespace {
using Texts = std::vector<std::string>;

struct ChildResult {
    int code = -1; // the exit code; -1 when it did not exit normally
    std::string out, err;
};

// The environment of the child: this one without a display, on the X11 platform.
std::vector<std::string> HeadlessEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        if (text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=") ||
            text.starts_with("QT_QPA_PLATFORM="))
            continue;
        env.push_back(text);
    }
    env.push_back("QT_QPA_PLATFORM=xcb");
    return env;
}

// Runs the program (corvane unless told) with args and collects both streams until it exits;
// watch sees the child and its output so far after each read.
ChildResult RunCorvane(const Texts& args, const std::function<void(pid_t, const std::string&)>& watch = {},
                       const std::string& program = "corvane") {
    std::vector<std::string> argvText{CORVANE_BIN_DIR "/" + program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argvText)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = HeadlessEnvironment();
    std::vector<char*> envp;
    for (auto& entry : envText)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    ChildResult result;
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0 && ::poll(fds, 2, 60000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
                if (watch) watch(pid, result.out);
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

AmpsimProcess& Amp() {
    static AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    return amp;
}

AmpsimProcess& Pty() {
    static AmpsimProcess amp({"--pty"});
    return amp;
}

std::string Tcp() {
    return "tcp:127.0.0.1:" + std::to_string(Amp().TcpPort());
}

struct ExitCase {
    const char* name;
    std::string script;
    Texts extra; // further arguments; "@refused" is a connection nobody accepts
    int code;
    Texts talk;        // the Tx and Rx lines on standard output
    std::string error; // what the error stream begins with
};

void PrintTo(const ExitCase& c, std::ostream* out) {
    *out << c.name;
}

class HeadlessProcess : public testing::TestWithParam<ExitCase> {
protected:
    void SetUp() override { ASSERT_TRUE(Amp().Ready()) << Amp().Error(); }
    TempDir dir;
};

TEST_P(HeadlessProcess, ExitsWithItsCodeAndLogsToStandardOutput) {
    const ExitCase& c = GetParam();
    dir.Write("script.txt", c.script);
    Texts args{"--batch", (dir.Path() / "script.txt").string()};
    std::string connection = Tcp();
    for (const std::string& arg : c.extra) {
        if (arg == "@refused") {
            connection = "tcp:127.0.0.1:" + std::to_string(RefusingPort());
        } else if (arg == "@gpib") {
            connection = "gpib:0,7:Simulator"; // the simulated driver beside the program
        } else if (arg == "@pty") {
            connection = "com:" + Pty().PtyPath() + ":baud=115200";
        } else {
            args.push_back(arg);
        }
    }
    args.insert(args.end(), {"--connect", connection});
    ChildResult run = RunCorvane(args);
    EXPECT_EQ(run.code, c.code) << run.out << run.err;
    EXPECT_EQ(Conversation(LogTexts(run.out)), c.talk) << run.out;
    EXPECT_TRUE(run.err.starts_with(c.error)) << run.err;
    if (c.error.empty()) {
        EXPECT_TRUE(run.err.empty()) << run.err;
    }
    for (const std::string& text : LogTexts(run.out))
        EXPECT_FALSE(text.starts_with("UNSTAMPED")) << text; // nothing else on standard output
}

INSTANTIATE_TEST_SUITE_P(
    ExitCodes, HeadlessProcess,
    testing::Values(
        ExitCase{"Done",
                 "*IDN?\r\nECHO two\r\n",
                 {},
                 ExitScriptDone,
                 {"Tx: *IDN?", "Rx: Veltrask,AmpSim,AS000001,1.0", "Tx: ECHO two", "Rx: two"},
                 ""},
        ExitCase{"OverAPty",
                 "*IDN?\nECHO serial\n",
                 {"@pty"},
                 ExitScriptDone,
                 {"Tx: *IDN?", "Rx: Veltrask,AmpSim,AS000001,1.0", "Tx: ECHO serial", "Rx: serial"},
                 ""},
        ExitCase{"OverGpib",
                 "*IDN?\nECHO gpib?\n",
                 {"@gpib"},
                 ExitScriptDone,
                 {"Tx: *IDN?", "Rx: Veltrask,AmpSim,GS000007,1.0", "Tx: ECHO gpib?", "Rx: gpib?"},
                 ""},
        ExitCase{
            "Usage", "ECHO x\n", {"--answer", "maybe"}, ExitUsage, {}, "corvane: --answer wants yes or no"},
        ExitCase{
            "OpenFailed", "ECHO x\n", {"@refused"}, ExitOpenFailed, {}, "corvane: Opening tcp:127.0.0.1:"},
        ExitCase{"ScriptError",
                 "#GOTO end\n",
                 {},
                 ExitScriptError,
                 {},
                 "corvane: Non-existing goto end in line 1\n"},
        ExitCase{"ReplyTimeout",
                 "NOREPLY\n",
                 {"--reply-timeout", "150"},
                 ExitReplyTimeout,
                 {"Tx: NOREPLY"},
                 "corvane: No reply within 150 ms to: NOREPLY\n"},
        ExitCase{"PromptUnanswered",
                 "#PROMPT Ready?\nECHO x\n",
                 {},
                 ExitPromptUnanswered,
                 {},
                 "corvane: #PROMPT Ready?\n"},
        ExitCase{"PromptAnswered",
                 "#PROMPT Ready?\nECHO x\n",
                 {"--answer", "yes"},
                 ExitScriptDone,
                 {"Tx: ECHO x", "Rx: x"},
                 ""},
        ExitCase{"ConnectionLost",
                 "DROP\nECHO x\n",
                 {},
                 ExitConnectionLost,
                 {"Tx: DROP", "Rx: PARTIAL (incomplete)"},
                 "corvane: Batch stopped: the connection was lost.\n"}),
    [](const testing::TestParamInfo<ExitCase>& param) { return std::string(param.param.name); });
} // namespace

// The window program, not the runner, without --batch: with no display it cannot start. This is
// what the runner is checked against above (the same environment lets it run).
TEST(HeadlessProcessEnvironment, TheWindowProgramNeedsADisplayThere) {
    ChildResult run = RunCorvane({"no-such-script.txt"});
    EXPECT_NE(run.code, 0);
}

// The usage and a wrong option are answered before anything of the window toolkit is made.
TEST(HeadlessProcessEnvironment, HelpAndAnUnknownOptionNeedNoDisplay) {
    for (const char* help : {"--help", "-h"}) {
        ChildResult run = RunCorvane({help});
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.out, ProgramUsage());
        EXPECT_TRUE(run.err.empty()) << run.err;
    }
    ChildResult bad = RunCorvane({"--verbose"});
    EXPECT_EQ(bad.code, ExitUsage);
    EXPECT_TRUE(bad.out.empty()) << bad.out;
    EXPECT_EQ(bad.err, "corvane: unknown option '--verbose'\n" + ProgramUsage());
}

// The runner's program without Qt runs a script given first, without --batch, as corvane --batch
// does, and answers --help with the runner's usage.
TEST(HeadlessProcessWithoutQt, RunsTheScriptAsTheWindowProgramDoes) {
    ASSERT_TRUE(Amp().Ready()) << Amp().Error();
    TempDir dir;
    dir.Write("script.txt", "*IDN?\nECHO two\n");
    ChildResult run =
        RunCorvane({(dir.Path() / "script.txt").string(), "--connect", Tcp()}, {}, "corvane-batch");
    EXPECT_EQ(run.code, ExitScriptDone) << run.err;
    EXPECT_EQ(Conversation(LogTexts(run.out)),
              (Texts{"Tx: *IDN?", "Rx: Veltrask,AmpSim,AS000001,1.0", "Tx: ECHO two", "Rx: two"}));
    ChildResult help = RunCorvane({"--help"}, {}, "corvane-batch");
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out, HeadlessUsage);
}

// A signal ends the run where it is: its line closes the log, the link is closed, and the exit
// code is 128 + the signal's number, as a shell would report a killed run.
TEST(HeadlessProcessSignal, ATerminatedRunSaysSoAndExitsWith128PlusTheSignal) {
    ASSERT_TRUE(Amp().Ready()) << Amp().Error();
    TempDir dir;
    dir.Write("script.txt", "ECHO one\n#DELAY 30000\nECHO two\n");
    bool sent = false;
    ChildResult run = RunCorvane({"--batch", (dir.Path() / "script.txt").string(), "--connect", Tcp()},
                                 [&](pid_t pid, const std::string& out) {
                                     if (sent || out.find("Delaying") == std::string::npos) return;
                                     sent = ::kill(pid, SIGTERM) == 0;
                                 });
    EXPECT_EQ(run.code, 128 + SIGTERM) << run.err;
    Texts texts = LogTexts(run.out);
    ASSERT_GE(texts.size(), 3u) << run.out;
    EXPECT_EQ(texts.end()[-3], "Batch interrupted by signal 15.");
    EXPECT_EQ(texts.end()[-2], "#End Batch: stopped.");
    EXPECT_EQ(texts.back(), "disconnected.");
    EXPECT_EQ(run.err, "corvane: Batch interrupted by signal 15.\n");
}
