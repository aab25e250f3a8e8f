// The conversation without a window, through a face that records what it is told, against the
// simulated amplifier, loopback peers and pseudo-terminals: opening and its failures, the session
// log file, reply times, "Not sent" lines and the automatic reconnect.
#include "console/ConsoleSession.h"

#include "AmpsimProcess.h"
#include "RecordingBoxes.h"
#include "TempDir.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace std::string_literals;

namespace {
// Shows lines in a list, waits for an open through the hand-over, keeps its one timer as a due
// time and its watched descriptor, which Pump fires, and counts what it is told of sending.
class RecordingFace : public SessionFace {
public:
    explicit RecordingFace(Handover& ui) : ui_(ui) {}
    void ShowLine(const std::string& line, uint32_t colour) override {
        shown.push_back(line);
        lines.push_back(line.substr(line.find("] ") + 2));
        colours.push_back(colour);
    }
    OpenResult AwaitOpen(ConsoleLink& link, std::string& reason) override {
        bool done = false;
        OpenResult result = OpenResult::Failed;
        link.BeginOpen([&](OpenResult r, const std::string& why) {
            done = true;
            result = r;
            reason = why;
        });
        RunUntil(ui_, [&] { return done; });
        return result;
    }
    void ArmTimer(uint32_t ms) override { due_ = Handover::Clock::now() + std::chrono::milliseconds(ms); }
    void CancelTimer() override { due_.reset(); }
    bool TimerArmed() const { return due_.has_value(); }
    void WatchFd(int fd) override { fd_ = fd; }
    void SendingEnded() override { ++ended; }
    void SendingPaused() override { ++paused; }
    void SendingResumed() override { ++resumed; }
    void LogFileFailed(const std::string&, const std::string&) override { ++logFileFailed; }
    // Runs hand-overs, the timer and the watched descriptor until done() or the time-out.
    bool Pump(ConsoleSession& session, const std::function<bool()>& done, int timeoutMs) {
        const auto end = Handover::Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done() && Handover::Clock::now() < end) {
            // In slices: a step run meanwhile may arm the timer.
            const auto slice = std::min(end, Handover::Clock::now() + std::chrono::milliseconds(5));
            ui_.WaitUntil([] { return false; }, std::min(slice, due_.value_or(slice)));
            if (due_ && Handover::Clock::now() >= *due_) {
                due_.reset();
                session.TimerDue();
            }
            pollfd watched{fd_, POLLIN, 0};
            if (fd_ >= 0 && ::poll(&watched, 1, 0) > 0) session.FdReady();
        }
        return done();
    }
    // How many lines begin with prefix.
    size_t Count(const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); }));
    }
    std::vector<std::string> shown; //!< As shown, stamp and all.
    std::vector<std::string> lines; //!< Without the stamp.
    std::vector<uint32_t> colours;
    int ended = 0, paused = 0, resumed = 0, logFileFailed = 0;

private:
    Handover& ui_;
    std::optional<Handover::Clock::time_point> due_;
    int fd_ = -1;
};

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A loopback peer that takes every connection and closes it at once, but the first, which it holds
// a moment: the operator's own open must hold for there to be anything to reconnect.
class DroppingPeer {
public:
    DroppingPeer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(fd_, 8);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            for (bool first = true; !stop_;) {
                pollfd ready{fd_, POLLIN, 0};
                if (::poll(&ready, 1, 50) <= 0) continue;
                const int link = ::accept(fd_, nullptr, nullptr);
                if (std::exchange(first, false)) std::this_thread::sleep_for(std::chrono::milliseconds(300));
                ::close(link);
            }
        });
    }
    ~DroppingPeer() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
} // namespace

// A session with a recording face, on a hand-over of its own.
class ConsoleSessionTest : public testing::Test {
protected:
    // Runs the face's hand-overs, timer and watched descriptor until done() or the time-out.
    bool Until(const std::function<bool()>& done, int timeoutMs = 5000) {
        return face.Pump(session, done, timeoutMs);
    }

    Handover ui;
    RecordingFace face{ui};
    ConsoleSession session{face, ui};
};

// Each attempt opens and is dropped at once: it counts as failed, the count goes on and the
// attempts keep coming, each after the next pause, rather than stopping after a few.
TEST_F(ConsoleSessionTest, APeerThatDropsEveryLinkAtOnceIsTriedAgainAndAgain) {
    DroppingPeer peer;
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(peer.Port());
    session.SetConnection(connection);
    session.SetAutoReconnect(true);
    session.Open();
    auto attempt = [&](int n) {
        return std::count(face.lines.begin(), face.lines.end(),
                          "Reconnecting to " + connection + " (attempt " + std::to_string(n) + ")");
    };
    ASSERT_TRUE(Until([&] { return attempt(3) == 1; }, 20000)) << testing::PrintToString(face.lines);
    EXPECT_EQ(attempt(1), 1);
    EXPECT_EQ(attempt(2), 1);
    // Between a reopen and its drop being told the link may be neither open nor reconnecting;
    // to the operator it is connected throughout.
    EXPECT_TRUE(session.Connected());
    // The operator's close ends the attempts, and what waited for the link ends with them.
    session.Close();
    EXPECT_FALSE(session.Reconnecting());
    EXPECT_FALSE(session.Connected());
    EXPECT_FALSE(face.TimerArmed());
    EXPECT_EQ(face.ended, 1);
}

// The peer goes and comes back on the same port: what was sending waits, each failed attempt is
// told by its own line alone, and the link is back by itself.
TEST_F(ConsoleSessionTest, ADroppedLinkIsReconnectedWhenThePeerIsBack) {
    auto amp = std::make_unique<AmpsimProcess>();
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    const int port = amp->TcpPort();
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(port);
    session.SetConnection(connection);
    session.SetAutoReconnect(true);
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    amp.reset();
    ASSERT_TRUE(
        Until([&] { return face.Count("Reconnecting to " + connection + " (attempt 1)") == 1; }, 20000))
        << testing::PrintToString(face.lines);
    EXPECT_TRUE(session.Reconnecting());
    EXPECT_EQ(face.paused, 1);
    EXPECT_EQ(face.Count("Opening "), 0u);

    amp = std::make_unique<AmpsimProcess>(
        std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    ASSERT_TRUE(Until([&] { return !session.Reconnecting(); }, 30000));
    EXPECT_EQ(face.Count("Connected to \"" + connection + "\""), 2u);
    EXPECT_EQ(face.resumed, 1);
    EXPECT_EQ(face.ended, 0);
    EXPECT_TRUE(session.Send("ECHO back"));
    EXPECT_TRUE(Until([&] { return face.lines.back() == "Rx: back"; }));
}

TEST_F(ConsoleSessionTest, WithoutReconnectADropEndsWhatWasSending) {
    auto amp = std::make_unique<AmpsimProcess>();
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp->TcpPort()));
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    amp.reset();
    ASSERT_TRUE(Until([&] { return face.ended == 1; }, 10000));
    EXPECT_EQ(face.Count("disconnected."), 1u);
    EXPECT_FALSE(session.Connected()) << "the window's Connect button follows this";
    EXPECT_EQ(face.paused, 0);
    EXPECT_FALSE(session.Reconnecting());
    EXPECT_EQ(face.Count("Reconnecting"), 0u);
}

// An unplugged serial adapter takes its node with it; the node coming back (a new device under
// the same name) is noticed through the watched folder and opened again.
TEST_F(ConsoleSessionTest, ASerialDeviceIsReopenedWhenItsNodeComesBack) {
    TempDir dir;
    auto pty = std::make_unique<PtyPair>();
    const std::string link = (dir.Path() / "ttyUSB0").string();
    std::filesystem::create_symlink(pty->SlavePath(), link);
    const std::string connection = "com:" + link + ":baud=115200";
    session.SetConnection(connection);
    session.SetAutoReconnect(true);
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    pty->CloseSlave();

    pty.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(Until([&] { return session.Reconnecting(); }, 10000));
    const size_t attempts = face.Count("Reconnecting to");

    auto again = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(again->SlavePath(), link);
    ASSERT_TRUE(Until([&] { return !session.Reconnecting(); }, 10000));
    EXPECT_EQ(face.Count("Reconnecting to"), attempts + 1);
    EXPECT_EQ(face.Count("Connected to \"" + connection + "\""), 2u);
    again->CloseSlave();
    EXPECT_TRUE(session.Send("*IDN?"));
    EXPECT_EQ(again->ReadLine(), "*IDN?\n");
}

// The session log file removed while logging, alone or with its folder: noticed at the next
// flush, said once, and no line goes on into the deleted file.
struct Vanishing {
    bool folderToo;
    std::string saidBefore; //!< The line logged, before and after the path.
    std::string saidAfter;
    bool logging; //!< Logging goes on (in a file made again).
};

class ALogFileThatVanishes : public ConsoleSessionTest, public testing::WithParamInterface<Vanishing> {};

TEST_P(ALogFileThatVanishes, IsMadeAgainOrEndsLoggingAtTheNextFlush) {
    TempDir dir;
    const auto folder = dir.Path() / "logs";
    std::filesystem::create_directory(folder);
    const std::string path = (folder / "session.txt").string();
    session.SetConnection("tcp:127.0.0.1:1");
    session.SetBaseTitle("disconnected");
    ASSERT_TRUE(session.StartLogFile(path));
    session.Log("before", LogColours::Status);
    session.FlushLogFile();
    std::filesystem::remove_all(GetParam().folderToo ? folder : std::filesystem::path(path));
    session.Log("after", LogColours::Status);
    session.FlushLogFile();
    session.FlushLogFile();

    ASSERT_FALSE(face.lines.empty());
    const std::string said = GetParam().saidBefore + path + GetParam().saidAfter;
    EXPECT_EQ(face.lines.back(), said) << testing::PrintToString(face.lines);
    EXPECT_EQ(std::count(face.lines.begin(), face.lines.end(), said), 1);
    EXPECT_EQ(session.LogFile().IsOpen(), GetParam().logging);
    EXPECT_EQ(session.Title() != "disconnected", GetParam().logging);
    if (!GetParam().logging) return;
    const std::string text = FileText(path);
    EXPECT_TRUE(text.starts_with("===== ")) << text;
    EXPECT_EQ(text.find("] before"), std::string::npos) << text;
    EXPECT_NE(text.find("] after\r\n"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("] " + said + "\r\n")) << text;
}

INSTANTIATE_TEST_SUITE_P(
    ConsoleSessionTest, ALogFileThatVanishes,
    testing::Values(Vanishing{false, "The log file ", " was deleted: logging goes on in a new one.", true},
                    Vanishing{true, "Logging to ", " stopped: " + std::string(std::strerror(ENOENT)) + ".",
                              false}),
    [](const testing::TestParamInfo<Vanishing>& row) {
        return row.param.folderToo ? "FolderToo" : "FileAlone";
    });

// A send that fails on every tick of Repeat says so once, and how often before the next line.
TEST_F(ConsoleSessionTest, ARepeatedNotSentLineIsLoggedOnceWithItsCount) {
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(session.Send("STATUS?"));
    EXPECT_EQ(face.lines, std::vector<std::string>{"Not sent: not connected."});
    session.Log("next", LogColours::Status);
    EXPECT_EQ(face.lines, (std::vector<std::string>{"Not sent: not connected.",
                                                    "Not sent: not connected. (2 more times)", "next"}));
}

// With escapes on, a line goes out as its bytes, and one with a malformed escape not at all.
TEST_F(ConsoleSessionTest, EscapesBecomeBytesAndAMalformedOneIsNotSent) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    EXPECT_FALSE(session.Send("ECHO \\\\q\\q"));
    EXPECT_EQ(face.lines.back(),
              "Not sent: the escape \\q at column 9 is not one of \\r \\n \\t \\xhh \\\\.");
    EXPECT_TRUE(session.Send("ECHO a\\x41b\\\\"));
    ASSERT_TRUE(Until([&] { return face.lines.back().starts_with("Rx: "); }));
    EXPECT_TRUE(face.lines.back().starts_with("Rx: aAb\\")) << face.lines.back();
}

// With control bytes kept, a line is logged with every byte but its line end (a NUL, and bytes at
// its start and end, included); without, trimmed as before.
TEST_F(ConsoleSessionTest, KeptControlBytesAreLoggedAtEveryPlaceOfALine) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    session.SetLineEnds({TxLineEnd::Lf, RxLineEnd::CrLf, 0});
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    for (const bool keep : {true, false}) {
        session.SetKeepControlBytes(keep);
        const size_t before = face.lines.size();
        EXPECT_TRUE(session.Send("ECHO \\x02A\\x00B\\x03"));
        ASSERT_TRUE(Until([&] { return face.lines.back().starts_with("Rx: "); }));
        const std::vector<std::string> logged(face.lines.begin() + static_cast<long>(before),
                                              face.lines.end());
        using Lines = std::vector<std::string>;
        const Lines expected = keep ? Lines{"Tx: ECHO \x02\x41\0B\x03"s, "Rx: \x02\x41\0B\x03"s}
                                    : Lines{"Tx: ECHO \x02\x41\0B"s, "Rx: A\0B"s};
        EXPECT_EQ(logged, expected);
    }
}

// Over GPIB, whose own send decodes escapes, a line the session has expanded goes out as it is: a
// typed \\r reaches the instrument as a backslash and an r, not as a CR.
TEST_F(ConsoleSessionTest, EscapesAreDecodedOnceOverGpib) {
    session.SetConnection("gpib:0,7:Simulator");
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    ASSERT_TRUE(session.Send("ECHO a\\\\r\\x41"));
    session.ReadReply();
    EXPECT_EQ(face.lines.back(), "Rx: a\\rA");
}

// An open that fails says why in one red line, and nothing else: a link that never opened has
// no end to tell. A file or program name in the reason keeps its case.
TEST_F(ConsoleSessionTest, AFailedOpenIsLoggedInRedWithItsReasonAlone) {
    RecordingBoxes boxes; // the GPIB loader's
    const std::pair<std::string, std::string> rows[] = {
        {"tcp:127.0.0.1:99999",
         "Opening tcp:127.0.0.1:99999 failed. Port '99999' is not a number from 1 to 65535."},
        {"tcpsrv::25x0", "Opening tcpsrv::25x0 failed. Port '25x0' is not a valid integer value."},
        {"gpib:0,7:Agilent", "Opening gpib:0,7:Agilent failed. libGpibAgilent.so: "}};
    for (const auto& [connection, said] : rows) {
        const size_t before = face.lines.size();
        session.SetConnection(connection);
        EXPECT_NE(session.Open(), OpenResult::Opened);
        ASSERT_EQ(face.lines.size(), before + 1) << testing::PrintToString(face.lines);
        EXPECT_TRUE(face.lines.back().starts_with(said)) << face.lines.back();
        EXPECT_EQ(face.colours.back(), LogColours::Error);
        EXPECT_FALSE(session.Connected());
    }
}

// A listening port is the connection: it says where it listens, refuses a send while no client
// is there, tells of each client coming and going, serves the next, and stops on Close.
TEST_F(ConsoleSessionTest, AListeningPortTellsOfEachClientAndServesTheNext) {
    session.SetConnection("tcpsrv:127.0.0.1:0");
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    int port = 0;
    ASSERT_EQ(std::sscanf(face.lines.back().c_str(), "Listening on 127.0.0.1, port %d.", &port), 1)
        << face.lines.back();
    EXPECT_FALSE(session.Send("NOBODY"));
    EXPECT_EQ(face.lines.back(), "Not sent: No client is connected.");
    auto lastEndsWith = [&](const char* end) { return face.lines.back().ends_with(end); };
    {
        TestClient client(port);
        ASSERT_TRUE(Until([&] { return lastEndsWith(" connected."); }));
        ASSERT_TRUE(client.Send("first\n"));
        ASSERT_TRUE(Until([&] { return face.lines.back() == "Rx: first"; }));
    }
    ASSERT_TRUE(Until([&] { return lastEndsWith(" left."); }));
    TestClient next(port);
    ASSERT_TRUE(Until([&] { return lastEndsWith(" connected."); }));
    EXPECT_TRUE(session.Send("HELLO"));
    EXPECT_EQ(next.ReadLine(), "HELLO\n");
    EXPECT_EQ(face.Count("Tx: NOBODY"), 0u);
    session.Close();
    EXPECT_FALSE(TestClient(port).Connected()) << "Close stops listening";
}

// Every line of a reply is timed from the send (a line timed from tick 0 would count the
// machine's uptime); the time is shown once per send, right after the reply's first line, the
// busy reply's too, which the statistics leave out.
TEST_F(ConsoleSessionTest, RepliesAreTimedFromTheSendAndTheTimeShownOncePerSend) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0", "--busy-every", "2"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    session.SetShowReplyTimes(true);
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    EXPECT_TRUE(session.Send("MULTI? 3"));
    ASSERT_TRUE(Until([&] { return face.lines.back() == "Rx: MULTI 3/3"; }));
    EXPECT_TRUE(session.Send("STATUS?"));
    ASSERT_TRUE(Until([&] { return face.Count("#ReplyTime=") == 2; }));
    const auto first = std::find(face.lines.begin(), face.lines.end(), "Rx: MULTI 1/3");
    ASSERT_NE(first, face.lines.end());
    EXPECT_TRUE((first + 1)->starts_with("#ReplyTime=")) << *(first + 1);
    EXPECT_EQ(*(face.lines.end() - 2), "Rx: ERROR_AMP_BUSY");
    EXPECT_EQ(session.Statistics().Count(), 3u);
    unsigned last = 0, average = 0, most = 0;
    ASSERT_EQ(std::sscanf(session.Statistics().Caption().c_str(), "%u/%u/%ums", &last, &average, &most), 3);
    EXPECT_LT(most, 60000u) << session.Statistics().Caption();
}

// A prompt shown after its idle time came with the reply: its line is timed to the reply's first
// byte, not to the end of the wait, and the reply, not the prompt, is the answer.
TEST_F(ConsoleSessionTest, APromptAfterTheReplyIsTimedToItsFirstByteAndIsNotTheAnswer) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0", "--prompt", "PROMPT> "});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    const int idleMs = 400;
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    session.SetLineEnds({TxLineEnd::Lf, RxLineEnd::CrLf, idleMs});
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    EXPECT_TRUE(session.Send("ECHO hello"));
    ASSERT_TRUE(Until([&] { return face.Count("Rx: PROMPT>") == 1; })) << testing::PrintToString(face.lines);
    EXPECT_EQ(session.LastReply(), "hello");
    unsigned last = 0, average = 0, most = 0;
    ASSERT_EQ(std::sscanf(session.Statistics().Caption().c_str(), "%u/%u/%ums", &last, &average, &most), 3);
    EXPECT_EQ(session.Statistics().Count(), 2u);
    EXPECT_LT(most, static_cast<unsigned>(idleMs)) << session.Statistics().Caption();
}

// The log file holds every line shown, after what it held before: a separator naming the
// connection when logging starts and again right before each connection's first line.
TEST_F(ConsoleSessionTest, TheLogFileHoldsEveryLineShownWithASeparatorBeforeEachConnection) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    TempDir dir;
    const std::string path = (dir.Path() / "session.txt").string();
    std::ofstream(path, std::ios::binary) << "an earlier session\r\n";
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    session.SetConnection(connection);
    ASSERT_TRUE(session.StartLogFile(path));
    EXPECT_NE(session.Title().find(path), std::string::npos);
    for (const char* echo : {"one", "two"}) {
        ASSERT_EQ(session.Open(), OpenResult::Opened);
        EXPECT_TRUE(session.Send(std::string("ECHO ") + echo));
        ASSERT_TRUE(Until([&] { return face.lines.back() == std::string("Rx: ") + echo; }));
        session.Close();
    }
    session.FlushLogFile();

    // The file's lines (each ended by CR LF): the separators, and everything else as shown.
    const std::string text = FileText(path);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "an earlier session");
    std::vector<std::string> others;
    std::vector<size_t> separators;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].starts_with("===== ") && lines[i].ends_with(" " + connection + " ====="))
            separators.push_back(i);
        else
            others.push_back(lines[i]);
    }
    ASSERT_EQ(separators.size(), 3u) << text;
    EXPECT_EQ(separators[0], 1u);
    for (size_t i : {separators[1], separators[2]})
        EXPECT_NE(lines.at(i + 1).find("] Connected to \"" + connection + "\""), std::string::npos) << text;
    EXPECT_EQ(others, face.shown);
}

// A log file that cannot be opened, or takes not even the separator (a full disk), is said once
// in red and leaves logging off; the session goes on.
TEST_F(ConsoleSessionTest, ALogFileThatFailsIsSaidOnceInRedAndLoggingStops) {
    TempDir dir;
    session.SetBaseTitle("disconnected");
    const std::string missing = (dir.Path() / "missing" / "session.txt").string();
    EXPECT_FALSE(session.StartLogFile(missing));
    session.StartLogFile("/dev/full");
    session.Log("goes on", LogColours::Status);
    session.FlushLogFile();
    EXPECT_EQ(face.lines,
              (std::vector<std::string>{
                  "Logging to " + missing + " failed: " + std::strerror(ENOENT) + ".",
                  "Logging to /dev/full stopped: " + std::string(std::strerror(ENOSPC)) + ".", "goes on"}));
    EXPECT_EQ(face.colours[0], LogColours::Error);
    EXPECT_EQ(face.colours[1], LogColours::Error);
    EXPECT_EQ(face.logFileFailed, 1);
    EXPECT_FALSE(session.LogFile().IsOpen());
    EXPECT_EQ(session.Title(), "disconnected");
}
