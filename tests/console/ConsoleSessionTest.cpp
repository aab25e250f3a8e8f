// The conversation without a window, through a face that records what it is told: the
// automatic reconnect against a peer that accepts and drops at once.
#include "console/ConsoleSession.h"

#include "AmpsimProcess.h"
#include "TempDir.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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
// Shows lines in a list, waits for an open through the hand-over, and keeps its one timer as a
// due time that Pump fires.
class RecordingFace : public SessionFace {
public:
    explicit RecordingFace(Handover& ui) : ui_(ui) {}
    void ShowLine(const std::string& line, uint32_t) override {
        lines.push_back(line.substr(line.find("] ") + 2));
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
    // Runs hand-overs and the timer until done() or the time-out.
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
        }
        return done();
    }
    std::vector<std::string> lines;

private:
    Handover& ui_;
    std::optional<Handover::Clock::time_point> due_;
};

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

// Each attempt opens and is dropped at once: it counts as failed, the count goes on and the
// attempts keep coming, each after the next pause, rather than stopping after a few.
TEST(ConsoleSessionTest, APeerThatDropsEveryLinkAtOnceIsTriedAgainAndAgain) {
    Handover ui;
    RecordingFace face(ui);
    DroppingPeer peer;
    ConsoleSession session(face, ui);
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(peer.Port());
    session.SetConnection(connection);
    session.SetAutoReconnect(true);
    session.Open();
    auto attempt = [&](int n) {
        return std::count(face.lines.begin(), face.lines.end(),
                          "Reconnecting to " + connection + " (attempt " + std::to_string(n) + ")");
    };
    ASSERT_TRUE(face.Pump(
        session, [&] { return attempt(3) == 1; }, 20000))
        << testing::PrintToString(face.lines);
    EXPECT_EQ(attempt(1), 1);
    EXPECT_EQ(attempt(2), 1);
    // Between a reopen and its drop being told the link may be neither open nor reconnecting;
    // to the operator it is connected throughout.
    EXPECT_TRUE(session.Connected());
    session.Close();
    EXPECT_FALSE(session.Reconnecting());
}

// The session log file removed while logging, alone or with its folder: noticed at the next
// flush, said once, and no line goes on into the deleted file.
struct Vanishing {
    bool folderToo;
    std::string saidBefore; //!< The line logged, before and after the path.
    std::string saidAfter;
    bool logging; //!< Logging goes on (in a file made again).
};

class ALogFileThatVanishes : public testing::TestWithParam<Vanishing> {};

TEST_P(ALogFileThatVanishes, IsMadeAgainOrEndsLoggingAtTheNextFlush) {
    Handover ui;
    RecordingFace face(ui);
    TempDir dir;
    const auto folder = dir.Path() / "logs";
    std::filesystem::create_directory(folder);
    const std::string path = (folder / "session.txt").string();
    ConsoleSession session(face, ui);
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
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(text.str().starts_with("===== ")) << text.str();
    EXPECT_EQ(text.str().find("] before"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("] after\r\n"), std::string::npos) << text.str();
    EXPECT_TRUE(text.str().ends_with("] " + said + "\r\n")) << text.str();
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
TEST(ConsoleSessionTest, ARepeatedNotSentLineIsLoggedOnceWithItsCount) {
    Handover ui;
    RecordingFace face(ui);
    ConsoleSession session(face, ui);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(session.Send("STATUS?"));
    EXPECT_EQ(face.lines, std::vector<std::string>{"Not sent: not connected."});
    session.Log("next", LogColours::Status);
    EXPECT_EQ(face.lines, (std::vector<std::string>{"Not sent: not connected.",
                                                    "Not sent: not connected. (2 more times)", "next"}));
}

// With escapes on, a line goes out as its bytes, and one with a malformed escape not at all.
TEST(ConsoleSessionTest, EscapesBecomeBytesAndAMalformedOneIsNotSent) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    Handover ui;
    RecordingFace face(ui);
    ConsoleSession session(face, ui);
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    EXPECT_FALSE(session.Send("ECHO \\\\q\\q"));
    EXPECT_EQ(face.lines.back(),
              "Not sent: the escape \\q at column 9 is not one of \\r \\n \\t \\xhh \\\\.");
    EXPECT_TRUE(session.Send("ECHO a\\x41b\\\\"));
    ASSERT_TRUE(face.Pump(
        session, [&] { return face.lines.back().starts_with("Rx: "); }, 5000));
    EXPECT_TRUE(face.lines.back().starts_with("Rx: aAb\\")) << face.lines.back();
}

// With control bytes kept, a line is logged with every byte but its line end (a NUL, and bytes at
// its start and end, included); without, trimmed as before.
TEST(ConsoleSessionTest, KeptControlBytesAreLoggedAtEveryPlaceOfALine) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    Handover ui;
    RecordingFace face(ui);
    ConsoleSession session(face, ui);
    session.SetConnection("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    session.SetLineEnds({TxLineEnd::Lf, RxLineEnd::CrLf, 0});
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    for (const bool keep : {true, false}) {
        session.SetKeepControlBytes(keep);
        const size_t before = face.lines.size();
        EXPECT_TRUE(session.Send("ECHO \\x02A\\x00B\\x03"));
        ASSERT_TRUE(face.Pump(
            session, [&] { return face.lines.back().starts_with("Rx: "); }, 5000));
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
TEST(ConsoleSessionTest, EscapesAreDecodedOnceOverGpib) {
    Handover ui;
    RecordingFace face(ui);
    ConsoleSession session(face, ui);
    session.SetConnection("gpib:0,7:Simulator");
    ASSERT_EQ(session.Open(), OpenResult::Opened);
    session.SetEscapes(true);
    ASSERT_TRUE(session.Send("ECHO a\\\\r\\x41"));
    session.ReadReply();
    EXPECT_EQ(face.lines.back(), "Rx: a\\rA");
}
