// The headless runner in this process against the simulated amplifier: the step machine's pacing
// over a real link, each way a run ends, the log on the output stream and in the log file, and the
// command line.
#include "batch/HeadlessRunner.h"
#include "AmpsimProcess.h"
#include "HeadlessTestSupport.h"
#include "TestSupport.h"
#include "connection/TraceIo.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {
using Texts = std::vector<std::string>;

class Headless : public testing::Test {
protected:
    static void SetUpTestSuite() {
        SetTraceStream(nullptr); // the test output stays readable
        amp = new AmpsimProcess({"--tcp", "127.0.0.1:0"});
    }
    static void TearDownTestSuite() {
        delete amp;
        amp = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(amp->Ready()) << amp->Error(); }

    std::string Tcp() const { return "tcp:127.0.0.1:" + std::to_string(amp->TcpPort()); }
    std::string Script(const std::string& text) {
        dir.Write("script.txt", text);
        return (dir.Path() / "script.txt").string();
    }
    // Runs the options to their end; the output and error streams are kept in out and err.
    int Run(HeadlessOptions options) {
        return RunCapturingOutput(
            [&](std::FILE* outStream, std::FILE* errStream) {
                return HeadlessRunner(std::move(options), outStream, errStream, handover).Run();
            },
            out, err);
    }
    // Runs script on a listening port whose client, the instrument, plays its part.
    int RunWithClient(const std::string& script, const std::function<void(TestClient&)>& instrument) {
        const int port = RefusingPort();
        HeadlessOptions options = With(script);
        options.connection = "tcpsrv:127.0.0.1:" + std::to_string(port);
        std::thread peer([port, &instrument] {
            std::unique_ptr<TestClient> client;
            do {
                client = std::make_unique<TestClient>(port); // until the port listens
            } while (!client->Connected());
            instrument(*client);
        });
        const int code = Run(options);
        peer.join();
        return code;
    }
    HeadlessOptions With(const std::string& script) {
        HeadlessOptions options;
        options.script = Script(script);
        options.connection = Tcp();
        return options;
    }

    static AmpsimProcess* amp;
    Handover handover;
    TempDir dir;
    std::string out, err;
};
AmpsimProcess* Headless::amp = nullptr;
} // namespace

// Blank lines and comments take no step, a #GOTO skips ahead, #DELAY waits, #END ends the run:
// what goes out and comes back is logged in order, each line stamped.
TEST_F(Headless, RunsTheScriptToItsEndAndLogsTheConversation) {
    int code = Run(With("STATUS?\r\n\r\n# a comment\r\n#GOTO later\r\nECHO skipped\r\n#LABEL later\r\n"
                        "ECHO one\n#DELAY 20\n*IDN?\r#END\nECHO after the end\n"));
    EXPECT_EQ(code, ExitScriptDone) << err;
    Texts texts = LogTexts(out);
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(texts.front().starts_with("Connected to \"" + Tcp() + "\"")) << texts.front();
    EXPECT_EQ(texts[1], "#Begin Batch.");
    Texts talk = Conversation(texts);
    ASSERT_EQ(talk.size(), 6u) << out;
    EXPECT_EQ(talk[0], "Tx: STATUS?");
    EXPECT_TRUE(talk[1].starts_with("Rx: STATUS OK")) << talk[1];
    EXPECT_EQ(Texts(talk.begin() + 2, talk.end()),
              (Texts{"Tx: ECHO one", "Rx: one", "Tx: *IDN?", "Rx: Veltrask,AmpSim,AS000001,1.0"}));
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Delaying 20 ms..."), texts.end());
    EXPECT_EQ(texts.back(), "disconnected.");
    EXPECT_TRUE(err.empty()) << err;
}

// Without a reply the run goes on after the step's wait, as in the window; with --reply-timeout
// the missing reply ends it.
TEST_F(Headless, ACommandWithoutReplyWaitsOneStepUnlessAReplyTimeoutIsGiven) {
    EXPECT_EQ(Run(With("NOREPLY\nECHO next\n")), ExitScriptDone) << err;
    EXPECT_EQ(Conversation(LogTexts(out)), (Texts{"Tx: NOREPLY", "Tx: ECHO next", "Rx: next"}));

    HeadlessOptions options = With("ECHO first\nNOREPLY\nECHO next\n");
    options.replyTimeoutMs = 200;
    EXPECT_EQ(Run(options), ExitReplyTimeout);
    EXPECT_EQ(Conversation(LogTexts(out)), (Texts{"Tx: ECHO first", "Rx: first", "Tx: NOREPLY"}));
    EXPECT_EQ(LogTexts(out).end()[-3], "No reply within 200 ms to: NOREPLY");
    EXPECT_EQ(err, "corvane: No reply within 200 ms to: NOREPLY\n");
}

// The last command's reply is waited for: it is logged before the run ends, and its absence is
// a time-out too.
TEST_F(Headless, TheLastCommandsReplyIsAwaited) {
    HeadlessOptions options = With("ECHO last\n");
    options.replyTimeoutMs = 5000;
    EXPECT_EQ(Run(options), ExitScriptDone);
    EXPECT_EQ(Conversation(LogTexts(out)), (Texts{"Tx: ECHO last", "Rx: last"}));
    options = With("ECHO first\nNOREPLY\n");
    options.replyTimeoutMs = 200;
    EXPECT_EQ(Run(options), ExitReplyTimeout);
}

// A reply without the line end the run expects is shown after the idle time; it began at once,
// so the idle wait is no time-out.
TEST_F(Headless, AReplyShownAfterTheIdleTimeIsTimedToItsFirstByte) {
    AmpsimProcess crAmp({"--tcp", "127.0.0.1:0", "--eol", "cr"});
    ASSERT_TRUE(crAmp.Ready()) << crAmp.Error();
    HeadlessOptions options = With("ECHO first\n");
    options.connection = "tcp:127.0.0.1:" + std::to_string(crAmp.TcpPort());
    options.lineEnds = {TxLineEnd::Cr, RxLineEnd::Lf, 400};
    options.replyTimeoutMs = 200;
    EXPECT_EQ(Run(options), ExitScriptDone) << err;
    // The instrument's CR is no line end here: it stays in the line.
    EXPECT_NE(out.find("] Rx: first\r (no line end)\n"), std::string::npos) << out;
}

struct PromptCase {
    const char* name;
    PromptAnswer answer;
    int code;
    Texts talk;
    const char* error;
};

void PrintTo(const PromptCase& c, std::ostream* out) {
    *out << c.name;
}

class HeadlessPrompt : public Headless, public testing::WithParamInterface<PromptCase> {};

TEST_P(HeadlessPrompt, ThePromptTakesTheGivenAnswerOrFails) {
    const PromptCase& c = GetParam();
    HeadlessOptions options = With("ECHO a\n#PROMPT Amplifier on the load?\nECHO b\n");
    options.answer = c.answer;
    EXPECT_EQ(Run(options), c.code);
    EXPECT_EQ(Conversation(LogTexts(out)), c.talk);
    EXPECT_EQ(err, c.error);
    Texts texts = LogTexts(out);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Amplifier on the load?"), texts.end());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HeadlessPrompt,
    testing::Values(
        PromptCase{
            "Yes", PromptAnswer::Yes, ExitScriptDone, {"Tx: ECHO a", "Rx: a", "Tx: ECHO b", "Rx: b"}, ""},
        PromptCase{"No", PromptAnswer::No, ExitScriptDone, {"Tx: ECHO a", "Rx: a"}, ""},
        PromptCase{"None",
                   PromptAnswer::None,
                   ExitPromptUnanswered,
                   {"Tx: ECHO a", "Rx: a"},
                   "corvane: #PROMPT Amplifier on the load?\n"}),
    [](const testing::TestParamInfo<PromptCase>& param) { return std::string(param.param.name); });

struct ScriptErrorCase {
    const char* name;
    std::string script;
    std::string message; // the error stream's line; "@" stands for the script's path
};

void PrintTo(const ScriptErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class HeadlessScriptError : public Headless, public testing::WithParamInterface<ScriptErrorCase> {};

// Nothing is sent from a script that fails its checks; the message names the fault.
TEST_P(HeadlessScriptError, EndsWithCodeThreeAndTheMessage) {
    const ScriptErrorCase& c = GetParam();
    HeadlessOptions options = With(c.script);
    std::string message = c.message;
    if (auto at = message.find('@'); at != std::string::npos) message.replace(at, 1, options.script);
    EXPECT_EQ(Run(options), ExitScriptError);
    EXPECT_EQ(err, "corvane: " + message + "\n");
    EXPECT_TRUE(Conversation(LogTexts(out)).empty()) << out;
}

INSTANTIATE_TEST_SUITE_P(Scripts, HeadlessScriptError,
                         testing::Values(ScriptErrorCase{"DuplicateLabel", "#LABEL a\nECHO x\n#LABEL a\n",
                                                         "Duplicate label a in line 3"},
                                         ScriptErrorCase{"MissingLabel", "ECHO x\n\n#GOTO nowhere\n",
                                                         "Non-existing goto nowhere in line 3"},
                                         ScriptErrorCase{"NulBytes", std::string("ECHO x\n\0\1\2\n", 11),
                                                         "@ holds NUL bytes and may not be a batch script."},
                                         ScriptErrorCase{"BeyondLatin1", "ECHO 5 \xce\xa9\nECHO x\n",
                                                         "Not sent: the character U+03A9 is not in the "
                                                         "instrument's character set (Latin-1)."}),
                         [](const testing::TestParamInfo<ScriptErrorCase>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(Headless, AScriptThatCannotBeReadIsAScriptError) {
    HeadlessOptions options = With("");
    options.script = (dir.Path() / "missing.txt").string();
    EXPECT_EQ(Run(options), ExitScriptError);
    EXPECT_TRUE(err.starts_with("corvane: Cannot open file \"" + options.script + "\".")) << err;
}

TEST_F(Headless, AConnectionThatCannotBeOpenedEndsWithCodeTwo) {
    HeadlessOptions options = With("ECHO x\n");
    options.connection = "tcp:127.0.0.1:" + std::to_string(RefusingPort());
    EXPECT_EQ(Run(options), ExitOpenFailed);
    EXPECT_EQ(LogTexts(out), (Texts{"Opening " + options.connection + " failed. Connection refused."}));
    options.connection = "bogus:1";
    EXPECT_EQ(Run(options), ExitOpenFailed);
    EXPECT_NE(err.find("'bogus' is not a kind of connection"), std::string::npos) << err;
}

// The peer closing the link mid-run stops it: the next command is not claimed as sent.
TEST_F(Headless, ALinkLostDuringTheRunEndsWithCodeSix) {
    EXPECT_EQ(Run(With("ECHO a\nDROP\nECHO b\n")), ExitConnectionLost);
    Texts texts = LogTexts(out);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Tx: ECHO b"), 0) << out;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Batch stopped: the connection was lost."), texts.end());
}

// LAN instruments named by their VISA resources: the script runs over VXI-11 (the simulator's
// portmapper port after the device) and over HiSLIP as over any link.
TEST_F(Headless, RunsOverVxi11AndHislipNamedByVisaResources) {
    AmpsimProcess instrument({"--vxi11", "127.0.0.1:0", "--hislip", "127.0.0.1:0"});
    ASSERT_TRUE(instrument.Ready()) << instrument.Error();
    for (const std::string& visa :
         {"TCPIP::127.0.0.1::inst0," + std::to_string(instrument.PortOf("vxi11")) + "::INSTR",
          "TCPIP::127.0.0.1::hislip0," + std::to_string(instrument.PortOf("hislip")) + "::INSTR"}) {
        HeadlessOptions options;
        std::string error;
        ASSERT_TRUE(
            ParseHeadlessOptions({"--batch", Script("*IDN?\nECHO x\n"), "--connect", visa}, options, error))
            << error;
        EXPECT_EQ(Run(options), ExitScriptDone) << visa << ": " << err;
        EXPECT_EQ(Conversation(LogTexts(out)),
                  (Texts{"Tx: *IDN?", "Rx: Veltrask,AmpSim,AS000001,1.0", "Tx: ECHO x"}))
            << visa;
    }
}

// A reply cut off by the peer's end is no reply: the run that awaited it was lost.
TEST_F(Headless, ALinkLostDuringTheLastReplyEndsWithCodeSix) {
    EXPECT_EQ(RunWithClient("STATUS?\n",
                            [](TestClient& client) {
                                client.ReadLine(10000);
                                client.Send("PARTIAL");
                            }),
              ExitConnectionLost);
    EXPECT_EQ(Conversation(LogTexts(out)), (Texts{"Tx: STATUS?", "Rx: PARTIAL (incomplete)"}));
}

// After the last command the run listens until no byte has come for a second: a line that
// trickles in for longer than that is logged whole, not cut off.
TEST_F(Headless, TheQuietWaitRestartsOnEveryByte) {
    EXPECT_EQ(RunWithClient("STATUS?\n",
                            [](TestClient& client) {
                                client.ReadLine(10000);
                                client.Send("first\n");
                                for (int i = 0; i < 30; ++i) {
                                    client.Send("s");
                                    std::this_thread::sleep_for(std::chrono::milliseconds(40));
                                }
                                client.Send("\n");
                                client.ReadToEnd(10000);
                            }),
              ExitScriptDone)
        << err;
    EXPECT_EQ(Conversation(LogTexts(out)),
              (Texts{"Tx: STATUS?", "Rx: first", "Rx: " + std::string(30, 's')}));
}

// A client that greets as it connects: the script's first #EXPECT sees the greeting.
TEST_F(Headless, AFirstExpectSeesTheGreetingOfAListeningPortsClient) {
    EXPECT_EQ(RunWithClient("#EXPECT READY 3000\nECHO x\n",
                            [](TestClient& client) {
                                client.Send("READY\n");
                                client.ReadLine(10000);
                                client.Send("x\n");
                                client.ReadToEnd(10000);
                            }),
              ExitScriptDone)
        << err;
    EXPECT_EQ(Conversation(LogTexts(out)), (Texts{"Rx: READY", "Tx: ECHO x", "Rx: x"}));
}

// On a listening port the script waits for its client; the instrument here is the test's client.
TEST_F(Headless, AListeningPortRunsTheScriptOnceItsClientIsThere) {
    const int port = RefusingPort();
    HeadlessOptions options = With("ECHO x\n");
    options.connection = "tcpsrv:127.0.0.1:" + std::to_string(port);
    std::string received;
    std::thread instrument([port, &received] {
        std::unique_ptr<TestClient> client;
        do {
            client = std::make_unique<TestClient>(port); // until the port listens
        } while (!client->Connected());
        received = client->ReadLine(10000);
        client->Send("x\n");
        client->ReadToEnd(10000); // the runner closes when done
    });
    EXPECT_EQ(Run(options), ExitScriptDone) << err;
    instrument.join();
    EXPECT_EQ(received, "ECHO x\n");
    Texts texts = LogTexts(out);
    EXPECT_EQ(texts.front(), "Listening on 127.0.0.1, port " + std::to_string(port) + ".");
    EXPECT_TRUE(texts[1].starts_with("Client 127.0.0.1:")) << texts[1];
    EXPECT_EQ(texts[2], "#Begin Batch.");
    EXPECT_EQ(Conversation(texts), (Texts{"Tx: ECHO x", "Rx: x"}));
}

// The log file is the console's session log: after what it held, a separator for the connection,
// then the same lines as standard output, as UTF-8 with CR LF.
TEST_F(Headless, TheLogFileIsTheSessionLogWithTheSameLines) {
    const std::string path = (dir.Path() / "run.log").string();
    dir.Write("run.log", "earlier run\r\n");
    HeadlessOptions options = With("ECHO 5 \xB5s\n");
    options.logFile = path;
    ASSERT_EQ(Run(options), ExitScriptDone);
    std::stringstream file;
    file << std::ifstream(path, std::ios::binary).rdbuf();
    Texts lines = SplitLines(file.str(), "\r\n");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier run");
    // One separator as the file opens, one as the connection does.
    for (size_t i : {1, 2})
        EXPECT_TRUE(lines[i].starts_with("===== ") && lines[i].ends_with(" " + Tcp() + " =====")) << lines[i];
    std::string screen = out;
    for (size_t at = 0; (at = screen.find('\xB5', at)) != std::string::npos; at += 2)
        screen.replace(at, 1, "\xC2\xB5");
    EXPECT_EQ(Texts(lines.begin() + 3, lines.end()), SplitLines(screen));

    options.logFile = (dir.Path() / "no-such-folder" / "run.log").string();
    EXPECT_EQ(Run(options), ExitUsage);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(err.starts_with("corvane: cannot open the log file")) << err;
}

// --csv holds a row per reply that gave numbers (READ? answers three lines, one row), dated, with
// the stamp of the reply's first line and the numbers the log shows; a unit in --series changes no
// column; a CSV file that cannot be made ends the run before anything is sent.
TEST_F(Headless, TheCsvFileHoldsTheNumbersOfTheLog) {
    HeadlessOptions options = With("READ?\nFWD?\nECHO none\n");
    options.series = {ParseSeriesOption("FWD[dBm]=^FWD ([-+0-9.eE]+)"), {"TEMP", "^TEMP ([-+0-9.eE]+)"}};
    options.csvFile = (dir.Path() / "run.csv").string();
    ASSERT_EQ(Run(options), ExitScriptDone) << err;
    Texts stamps, numbers; // of the Rx lines FWD (READ?), TEMP (READ?), FWD (FWD?)
    for (const std::string& line : SplitLines(out)) {
        // "[hh:nn:ss.zzz] Rx: FWD 45.01 dBm"
        std::istringstream words(line.substr(std::min(line.size(), size_t{19})));
        std::string name, number;
        words >> name >> number;
        if (line.find("] Rx: ") != 13 || (name != "FWD" && name != "TEMP")) continue;
        stamps.push_back(line.substr(1, 12));
        numbers.push_back(number);
    }
    std::stringstream file;
    file << std::ifstream(options.csvFile, std::ios::binary).rdbuf();
    Texts rows = SplitLines(file.str(), "\r\n");
    ASSERT_EQ(rows.size(), 3u) << file.str();
    ASSERT_EQ(numbers.size(), 3u) << out;
    EXPECT_EQ(rows[0], "Time,FWD,TEMP");
    const std::vector<Texts> expected = {{stamps[0], numbers[0], numbers[1]}, {stamps[2], numbers[2], ""}};
    for (size_t i = 0; i < 2; ++i) {
        Texts fields = SplitLines(rows[i + 1] + ",", ",");
        ASSERT_EQ(fields.size(), 3u) << rows[i + 1];
        // "yyyy-mm-dd hh:nn:ss.zzz", the log's stamp of the reply's first line
        EXPECT_EQ(fields[0].size(), 23u) << fields[0];
        EXPECT_TRUE(fields[0].ends_with(" " + expected[i][0])) << fields[0];
        // The same number, in its shortest form ("45.10" in the log is 45.1 here).
        EXPECT_EQ(std::stod(fields[1]), std::stod(expected[i][1])) << rows[i + 1];
        EXPECT_EQ(fields[2].empty() ? "" : std::to_string(std::stod(fields[2])),
                  expected[i][2].empty() ? "" : std::to_string(std::stod(expected[i][2])));
    }

    options.csvFile = (dir.Path() / "no-such-folder" / "run.csv").string();
    EXPECT_EQ(Run(options), ExitUsage);
    EXPECT_TRUE(out.empty()) << out;
    EXPECT_EQ(err, "corvane: cannot open the CSV file \"" + options.csvFile +
                       "\": " + GetSystemErrorText(ENOENT) + ".\n");
}

// Outputs are opened only for a script that runs, and never at the cost of what they name: the
// script itself (also through a link), the rows of an earlier run.
TEST_F(Headless, OutputsDestroyNothing) {
    HeadlessOptions options = With("ECHO x\n");
    options.series = {{"FWD", "^FWD ([-+0-9.eE]+)"}};
    options.csvFile = (dir.Path() / "run.csv").string();
    dir.Write("run.csv", "Time,FWD\r\n12:00:00.000,45\r\n");
    options.connection = "tcp:127.0.0.1:" + std::to_string(RefusingPort());
    EXPECT_EQ(Run(options), ExitOpenFailed);
    options.connection = Tcp();
    options.script = Script("#EXPECT MULTI 3\n");
    EXPECT_EQ(Run(options), ExitScriptError);
    std::stringstream csv;
    csv << std::ifstream(options.csvFile, std::ios::binary).rdbuf();
    EXPECT_EQ(csv.str(), "Time,FWD\r\n12:00:00.000,45\r\n");

    options.script = Script("ECHO x\n");
    options.csvFile.clear();
    options.logFile = (dir.Path() / "link-to-script").string();
    std::filesystem::create_symlink(options.script, options.logFile);
    EXPECT_EQ(Run(options), ExitUsage);
    EXPECT_EQ(err,
              "corvane: --log \"" + options.logFile + "\" is the script itself: name a file of its own.\n");
    std::stringstream script;
    script << std::ifstream(options.script, std::ios::binary).rdbuf();
    EXPECT_EQ(script.str(), "ECHO x\n");
}

// Standard output that nobody reads holds neither the run nor its end: --max-seconds ends it with
// its own code, and the error stream names the output that stalled.
TEST_F(Headless, AStalledStandardOutputDoesNotHoldTheRun) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE* stalled = ::fdopen(pipeFds[1], "w");
    char* errText = nullptr;
    size_t errSize = 0;
    std::FILE* errStream = ::open_memstream(&errText, &errSize);
    HeadlessOptions options = With("FLOOD 5000\n#LABEL a\n#GOTO a\n");
    options.maxSeconds = 2;
    int code;
    {
        HeadlessRunner runner(std::move(options), stalled, errStream, handover);
        code = runner.Run();
    }
    std::fclose(errStream);
    const std::string errors(errText, errSize);
    std::free(errText);
    EXPECT_EQ(code, ExitTimeLimit);
    EXPECT_NE(errors.find("corvane: standard output stalled: "), std::string::npos) << errors;
    std::fclose(stalled);          // the writer left behind has a descriptor of its own
    std::signal(SIGPIPE, SIG_IGN); // as the program has it: that writer ends with the pipe
    ::close(pipeFds[0]);
}

// After the last command the run listens until the line stream goes quiet: every line of a slow
// multi-line reply is logged, and so is the reply to the command sent while it was still coming.
TEST_F(Headless, EveryLineOfTheLastRepliesIsLogged) {
    AmpsimProcess slow({"--tcp", "127.0.0.1:0", "--delay", "200"});
    ASSERT_TRUE(slow.Ready()) << slow.Error();
    HeadlessOptions options = With("MULTI? 3\nSTATUS?\n");
    options.connection = "tcp:127.0.0.1:" + std::to_string(slow.TcpPort());
    EXPECT_EQ(Run(options), ExitScriptDone) << err;
    Texts talk = Conversation(LogTexts(out));
    EXPECT_EQ(std::count_if(talk.begin(), talk.end(), [](auto& t) { return t.starts_with("Rx: MULTI "); }),
              3);
    EXPECT_TRUE(talk.back().starts_with("Rx: STATUS OK")) << out;
}

// #EXPECT holds the script through a multi-line reply; a text that never comes ends the run with
// the code of a missing reply.
TEST_F(Headless, AnExpectLineWaitsThroughAMultiLineReplyOrEndsTheRunWithCodeFour) {
    HeadlessOptions options = With("MULTI? 3\n#EXPECT 3/3\nSTATUS?\n#EXPECT NEVER 300\n");
    EXPECT_EQ(Run(options), ExitReplyTimeout) << out;
    Texts talk = Conversation(LogTexts(out));
    ASSERT_EQ(talk.size(), 6u) << out;
    EXPECT_EQ(talk[4], "Tx: STATUS?") << "after the third line of the reply";
    EXPECT_EQ(err, "corvane: Batch stopped: no line with \"NEVER\" came within 300 ms.\n");
}

// --dtr on a port without modem lines (a pseudo-terminal) ends the run before its script, with
// the code of a connection that cannot be used and the reason.
TEST_F(Headless, AModemLineThatCannotBeSetEndsTheRunWithCodeTwo) {
    PtyPair pty;
    HeadlessOptions options = With("STATUS?\n");
    options.connection = "com:" + pty.SlavePath();
    options.dtr = true;
    EXPECT_EQ(Run(options), ExitOpenFailed);
    EXPECT_TRUE(err.starts_with("corvane: DTR could not be switched on:")) << err;
    EXPECT_TRUE(Conversation(LogTexts(out)).empty()) << out;
}

// A break is held by the run's loop, not by a sleep: --max-seconds ends the run during a long
// one, and the break is taken off the line as the run ends.
TEST_F(Headless, ALongBreakDoesNotHoldTheRunsLimit) {
    PtyPair pty;
    HeadlessOptions options = With("#BREAK 5000\nSTATUS?\n");
    options.connection = "com:" + pty.SlavePath();
    options.maxSeconds = 2; // the break starts a second after the run
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(options), ExitTimeLimit) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
    Texts texts = LogTexts(out);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Break for 5000 ms"), texts.end()) << out;
    EXPECT_TRUE(Conversation(texts).empty()) << out;
}

// Output that cannot be written ends the run with its own code and says which and why.
TEST_F(Headless, OutputThatCannotBeWrittenEndsTheRun) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    char* errText = nullptr;
    size_t errSize = 0;
    std::FILE* errStream = ::open_memstream(&errText, &errSize);
    int code;
    {
        HeadlessRunner runner(With("ECHO a\n#DELAY 20000\nECHO b\n"), full, errStream, handover);
        code = runner.Run();
    }
    std::fclose(full);
    std::fclose(errStream);
    const std::string errors(errText, errSize);
    std::free(errText);
    EXPECT_EQ(code, ExitOutputFailed);
    EXPECT_EQ(errors, "corvane: cannot write standard output. " + GetSystemErrorText(ENOSPC) + "\n");

    HeadlessOptions options = With("ECHO a\n");
    options.logFile = "/dev/full";
    EXPECT_EQ(Run(options), ExitOutputFailed);
    EXPECT_EQ(err, "corvane: cannot write the log file \"/dev/full\". " + GetSystemErrorText(ENOSPC) + "\n");

    options.logFile.clear();
    options.series = {{"FWD", "^FWD ([0-9.]+)"}};
    options.csvFile = "/dev/full";
    EXPECT_EQ(Run(options), ExitOutputFailed);
    EXPECT_EQ(err, "corvane: cannot write the CSV file \"/dev/full\". " + GetSystemErrorText(ENOSPC) + "\n");
}

// ---- the command line ----------------------------------------------------------------------

struct OptionCase {
    const char* name;
    Texts args;
    bool ok;
    std::string script, connection, logFile;
    int timeout;
    PromptAnswer answer;
    std::string error;
};

void PrintTo(const OptionCase& c, std::ostream* out) {
    *out << c.name;
}

class HeadlessOptionsTest : public testing::TestWithParam<OptionCase> {};

TEST_P(HeadlessOptionsTest, ParsesOrSaysWhy) {
    const OptionCase& c = GetParam();
    HeadlessOptions options;
    std::string error;
    ASSERT_EQ(ParseHeadlessOptions(c.args, options, error), c.ok) << error;
    if (!c.ok) {
        EXPECT_EQ(error, c.error);
        return;
    }
    EXPECT_EQ(options.script, c.script);
    EXPECT_EQ(options.connection, c.connection);
    EXPECT_EQ(options.logFile, c.logFile);
    EXPECT_EQ(options.replyTimeoutMs, c.timeout);
    EXPECT_EQ(options.answer, c.answer);
}

using A = PromptAnswer;
INSTANTIATE_TEST_SUITE_P(
    CommandLines, HeadlessOptionsTest,
    testing::Values(
        OptionCase{"Minimal",
                   {"--batch", "s.txt", "--connect", "tcp:h:1"},
                   true,
                   "s.txt",
                   "tcp:h:1",
                   "",
                   0,
                   A::None,
                   ""},
        OptionCase{"VisaResource",
                   {"--batch", "s.txt", "--connect", "GPIB0::7::INSTR", "--gpib-driver", "Simulator"},
                   true,
                   "s.txt",
                   "gpib:0,7:Simulator",
                   "",
                   0,
                   A::None,
                   ""},
        OptionCase{"VisaResourceWithoutDriver",
                   {"--batch", "s.txt", "--connect", "GPIB0::7::INSTR"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--connect: a GPIB resource needs the name of the GPIB driver to load"},
        OptionCase{"Everything",
                   {"--connect=com:/dev/ttyUSB0", "--batch=s.txt", "--log", "l.txt", "--reply-timeout", "250",
                    "--answer", "no"},
                   true,
                   "s.txt",
                   "com:/dev/ttyUSB0",
                   "l.txt",
                   250,
                   A::No,
                   ""},
        OptionCase{"AnswerYes",
                   {"--batch", "s", "--connect", "gpib:0:5", "--answer=yes"},
                   true,
                   "s",
                   "gpib:0:5",
                   "",
                   0,
                   A::Yes,
                   ""},
        OptionCase{"NoConnect",
                   {"--batch", "s.txt"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--batch and --connect are both needed"},
        OptionCase{"MissingValue",
                   {"--connect", "tcp:h:1", "--batch"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--batch wants a value"},
        OptionCase{
            "TestScriptOpensItsOwnInstruments",
            {"--batch", "t.lua", "--junit", "t.xml", "--instrument", "meter=tcp:h:2", "--allow-system"},
            true,
            "t.lua",
            "",
            "",
            0,
            A::None,
            ""},
        OptionCase{
            "TestScriptTakesNoSeries",
            {"--batch", "t.LUA", "--series", "F=^F (.*)"},
            false,
            "",
            "",
            "",
            0,
            A::None,
            "--series is for batch scripts; a test script takes numbers with amp:number and corvane.check"},
        OptionCase{"BatchScriptTakesNoReports",
                   {"--batch", "s.txt", "--connect", "tcp:h:1", "--tap", "t.tap"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--tap is for test scripts (SCRIPT.lua), not for the batch script s.txt"},
        OptionCase{"EmptyValue",
                   {"--batch=", "--connect", "tcp:h:1"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--batch wants a value"},
        OptionCase{"BadAnswer",
                   {"--answer", "maybe"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--answer wants yes or no, not 'maybe'"},
        OptionCase{"BadTimeout",
                   {"--reply-timeout", "10ms"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--reply-timeout wants a positive number of milliseconds, not '10ms'"},
        OptionCase{"ZeroTimeout",
                   {"--reply-timeout=0"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "--reply-timeout wants a positive number of milliseconds, not '0'"},
        OptionCase{"Unknown",
                   {"--batch", "s", "--verbose", "1"},
                   false,
                   "",
                   "",
                   "",
                   0,
                   A::None,
                   "unknown option '--verbose'"},
        OptionCase{"Stray", {"s.txt"}, false, "", "", "", 0, A::None, "unexpected argument 's.txt'"}),
    [](const testing::TestParamInfo<OptionCase>& param) { return std::string(param.param.name); });

// The plot's series and their CSV file.
INSTANTIATE_TEST_SUITE_P(
    SeriesLines, HeadlessOptionsTest,
    testing::Values(OptionCase{"SeriesAndCsv",
                               {"--batch=s", "--connect=tcp:h:1", "--series=FWD=^FWD ([0-9.]+)", "--csv",
                                "f.csv"},
                               true,
                               "s",
                               "tcp:h:1",
                               "",
                               0,
                               A::None,
                               ""},
                    OptionCase{"BadSeries",
                               {"--batch=s", "--connect=tcp:h:1", "--series", "FWD=^FWD ([0-9.]+"},
                               false,
                               "",
                               "",
                               "",
                               0,
                               A::None,
                               "--series: series \"FWD\": a parenthesis is not closed or not opened"},
                    OptionCase{"CsvWithoutSeries",
                               {"--batch=s", "--connect=tcp:h:1", "--csv", "f.csv"},
                               false,
                               "",
                               "",
                               "",
                               0,
                               A::None,
                               "--csv wants at least one --series"}),
    [](const testing::TestParamInfo<OptionCase>& param) { return std::string(param.param.name); });

// The program's mode is read before the toolkit exists; the toolkit's own options are no mistake.
TEST(ProgramModeTest, HeadlessOnlyWithTheBatchOptionHelpAndVersionAnywhereAndUnknownOptionsRefused) {
    struct Case {
        Texts args;
        ProgramMode mode;
        std::string bad;
    };
    const std::vector<Case> cases{
        {{"script.txt"}, ProgramMode::Window, ""},
        {{"--connect", "tcp:h:1", "--batch", "s"}, ProgramMode::Headless, ""},
        {{"--batch=s"}, ProgramMode::Headless, ""},
        {{"--batchy"}, ProgramMode::BadOption, "--batchy"},
        {{"-h"}, ProgramMode::Help, ""},
        {{"--batch", "s", "--help"}, ProgramMode::Help, ""},
        {{"--batch", "s", "--version"}, ProgramMode::Version, ""},
        {{"--version", "-h"}, ProgramMode::Help, ""},
        {{"-platform", "offscreen", "script.txt", "--style=fusion", "-reverse"}, ProgramMode::Window, ""},
        {{"script.txt", "-x"}, ProgramMode::BadOption, "-x"},
    };
    for (const Case& c : cases) {
        std::string bad;
        EXPECT_EQ(ReadProgramMode(c.args, bad), c.mode) << c.args.front();
        EXPECT_EQ(bad, c.bad) << c.args.front();
    }
}

// --max-seconds bounds a script that would loop for ever: its own code, and one line that says so
// in the log, on the output stream and in the log file, and on the error stream.
TEST_F(Headless, MaxSecondsEndsARunThatWouldNeverEnd) {
    HeadlessOptions options;
    std::string error;
    const std::string log = (dir.Path() / "run.log").string();
    ASSERT_TRUE(ParseHeadlessOptions(
        {"--batch", Script("#LABEL a\n#GOTO a\n"), "--connect", Tcp(), "--log", log, "--max-seconds", "1"},
        options, error))
        << error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(options), ExitTimeLimit);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const std::string line = "Batch stopped: the run reached its limit of --max-seconds 1.";
    Texts texts = LogTexts(out);
    ASSERT_GE(texts.size(), 3u) << out;
    EXPECT_EQ(texts.end()[-3], line);
    EXPECT_EQ(texts.end()[-2], "#End Batch: failed.");
    EXPECT_EQ(texts.back(), "disconnected.");
    EXPECT_EQ(err, "corvane: " + line + "\n");
    std::stringstream file;
    file << std::ifstream(log, std::ios::binary).rdbuf();
    EXPECT_NE(file.str().find("] " + line + "\r\n"), std::string::npos) << file.str();
}
