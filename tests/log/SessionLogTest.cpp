#include "log/SessionLog.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> FileLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(FileText(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string NumberedLine(long i) {
    return "[12:00:00.000] Rx: line " + std::to_string(i);
}
} // namespace

TEST(SessionLogTest, LinesAreAppendedAsUtf8WithCrLfAndReopeningNeverTruncates) {
    TempDir dir;
    const auto path = dir.Path() / "session.txt";
    {
        SessionLog log;
        ASSERT_TRUE(log.Open(path.string())) << log.Failure();
        EXPECT_TRUE(log.WriteLine("[10:00:00.000] Rx: 12.5 \xB5V"));
    }
    SessionLog log;
    ASSERT_TRUE(log.Open(path.string()));
    EXPECT_TRUE(log.WriteLine(SessionSeparator("2026-12-07 10:01:00", "tcp:127.0.0.1:5025")));
    EXPECT_EQ(FileText(path), "[10:00:00.000] Rx: 12.5 \xC2\xB5V\r\n"
                              "===== 2026-12-07 10:01:00 tcp:127.0.0.1:5025 =====\r\n");
}

TEST(SessionLogTest, AFolderThatIsNotThereIsRefusedWithTheSystemsReason) {
    TempDir dir;
    SessionLog log;
    EXPECT_FALSE(log.Open((dir.Path() / "missing" / "session.txt").string()));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Failure(), std::strerror(ENOENT));
}

// A FIFO would hold the open and every write for a reader (the window at its start, a run for
// ever), a folder takes nothing: both are refused with what they are. /dev/null takes every line.
TEST(SessionLogTest, OnlyARegularFileOrASinkDeviceIsTaken) {
    TempDir dir;
    const std::string fifo = (dir.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    SessionLog log;
    EXPECT_FALSE(log.Open(fifo));
    EXPECT_EQ(log.Failure(), "it is a FIFO (named pipe), not a regular file");
    EXPECT_FALSE(log.Open(dir.Path().string()));
    EXPECT_EQ(log.Failure(), "it is a folder, not a regular file");
    ASSERT_TRUE(log.Open("/dev/null")) << log.Failure();
    EXPECT_TRUE(log.WriteLine("gone"));
}

TEST(SessionLogTest, AFullDiskClosesTheFileAndIsReportedOnce) {
    SessionLog log;
    ASSERT_TRUE(log.Open("/dev/full")) << log.Failure();
    EXPECT_FALSE(log.WriteLine("first"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Failure(), std::strerror(ENOSPC));
    // Closed: later lines neither write nor fail anew.
    EXPECT_FALSE(log.WriteLine("second"));
    EXPECT_EQ(log.Failure(), std::strerror(ENOSPC));
}

// A file that fills up in the middle of a line (here: the file size limit) keeps no part of it.
TEST(SessionLogTest, ALineThatDoesNotFitLeavesNoPartOfItBehind) {
    TempDir dir;
    const std::string path = (dir.Path() / "session.txt").string();
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        SessionLog log;
        long i = 0;
        if (log.Open(path))
            while (log.WriteLine(NumberedLine(i)))
                ++i;
        ::_exit(i > 0 && log.Failure() == std::strerror(EFBIG) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::string text = FileText(path);
    EXPECT_TRUE(text.ends_with("\r\n")) << text;
    EXPECT_EQ(text.size() % (NumberedLine(0).size() + 2), 0u) << text;
}

TEST(SessionLogTest, AFileDeletedMeanwhileIsAFailureNotASilentLoss) {
    TempDir dir;
    const auto path = dir.Path() / "session.txt";
    SessionLog log;
    ASSERT_TRUE(log.Open(path.string()));
    EXPECT_TRUE(log.WriteLine("kept"));
    std::filesystem::remove(path);
    EXPECT_FALSE(log.WriteLine("lost"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(log.Vanished());
    EXPECT_EQ(log.Failure(), std::strerror(ENOENT));
}

// A child logs lines without end and says when the 100 000th went out; it is then killed with
// SIGKILL. Every line it logged before is in the file, whole and in order.
TEST(SessionLogTest, EveryLineLoggedBeforeAKillIsInTheFile) {
    constexpr long Promised = 100000;
    TempDir dir;
    const auto path = dir.Path() / "session.txt";
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        SessionLog log;
        if (!log.Open(path.string())) ::_exit(2);
        for (long i = 0;; ++i) {
            if (!log.WriteLine(NumberedLine(i))) ::_exit(3);
            if (i + 1 == Promised && ::write(pipeFds[1], "!", 1) != 1) ::_exit(4);
        }
    }
    ::close(pipeFds[1]);
    char signal = 0;
    const ssize_t got = ::read(pipeFds[0], &signal, 1);
    ::close(pipeFds[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, 1) << "the child ended before logging every line";
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto lines = FileLines(path);
    ASSERT_GE(lines.size(), static_cast<size_t>(Promised));
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        ASSERT_EQ(lines[i], NumberedLine(static_cast<long>(i)) + "\r") << "line " << i;
    }
}
