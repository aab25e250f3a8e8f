// The raw trace against the streams it meets in real use: a pipe that nobody reads must not hold
// up a send, and a trace to a file must be complete when the process is killed right after.
#include "connection/TraceIo.h"
#include "TempDir.h"
#include "TestSupport.h"
#include "TioRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
std::string DrainPipe(int fd) {
    std::string text;
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
} // namespace

TEST(TraceIoStream, APipeNobodyReadsDropsTraceInsteadOfBlockingASend) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096); // fills after a few lines
    std::FILE* pipeStream = ::fdopen(ends[1], "w");
    ASSERT_NE(pipeStream, nullptr);
    SetTraceStream(pipeStream);

    Handover ui;
    PtyPair pty;
    TioRecorder recorder; // outlives io, whose end still notifies it
    TIO io(ui);
    recorder.Attach(io);
    ASSERT_TRUE(io.Open("com:" + pty.SlavePath()));
    const std::string line = std::string(2000, 'x') + "\n";
    constexpr int Lines = 16;
    testing::internal::CaptureStderr();
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (int i = 0; i < Lines; ++i)
            io.Send(line);
        sent = true;
    });
    // The instrument takes every line; only the trace's reader sleeps.
    std::string arrived = pty.ReadBytes(line.size() * Lines);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!sent && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    bool blocked = !sent;
    std::string traced = DrainPipe(ends[0]);
    while (!sent) // a sender stuck in the trace is let go, so the test can fail rather than hang
        traced += DrainPipe(ends[0]);
    sender.join();
    EXPECT_FALSE(blocked) << "a send waited for the trace's reader";
    EXPECT_EQ(arrived.size(), line.size() * Lines);

    // The reader caught up: the next send is traced whole and the loss is reported, once.
    ASSERT_TRUE(io.Send("LAST\n"));
    EXPECT_EQ(pty.ReadBytes(5), "LAST\n");
    ASSERT_TRUE(io.Send("AFTER\n"));
    EXPECT_EQ(pty.ReadBytes(6), "AFTER\n");
    traced += DrainPipe(ends[0]);
    std::string notes = testing::internal::GetCapturedStderr();
    io.Close();
    SetTraceStream(nullptr);
    std::fclose(pipeStream);
    ::close(ends[0]);

    EXPECT_NE(traced.find("\r\nTx: LAST\\x0aAFTER\\x0a"), std::string::npos)
        << "after a gap a header comes first";
    std::smatch count;
    ASSERT_TRUE(std::regex_search(notes, count, std::regex("([0-9]+) bytes of trace were dropped"))) << notes;
    EXPECT_EQ(notes.find("dropped", notes.find("dropped") + 1), std::string::npos) << "said once: " << notes;
    // Every formatted byte either reached the pipe or was counted (headers after gaps aside).
    const size_t formatted = Lines * (line.size() + 3) + std::string("LAST\\x0aAFTER\\x0a").size();
    const size_t accounted = traced.size() + std::stoul(count[1]);
    EXPECT_GE(accounted, formatted);
    EXPECT_LE(accounted, formatted + (Lines + 2) * std::string("\r\nTx: ").size());
}

TEST(TraceIoStream, ATraceToAFileIsCompleteWhenTheProcessIsKilledRightAfterSending) {
    TempDir dir;
    const std::string tracePath = (dir.Path() / "trace.txt").string();
    int traceFd = ::open(tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(traceFd, 0);
    int said[2];
    ASSERT_EQ(::pipe2(said, O_CLOEXEC), 0);
    PtyPair pty;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, traceFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, said[1], STDERR_FILENO);
    const std::string helper = std::string(CORVANE_BIN_DIR) + "/trace_send_helper";
    std::string port = pty.SlavePath();
    std::string text = "PING";
    char* argv[] = {const_cast<char*>(helper.c_str()), port.data(), text.data(), nullptr};
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(traceFd);
    ::close(said[1]);
    ASSERT_EQ(spawned, 0);

    EXPECT_EQ(pty.ReadLine(), "PING\n");
    char word[8] = {};
    pollfd p{said[0], POLLIN, 0};
    bool ready = ::poll(&p, 1, 5000) == 1 && ::read(said[0], word, 5) == 5;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(said[0]);
    ASSERT_TRUE(ready) << "the helper did not send";
    EXPECT_EQ(std::string(word), "sent\n");
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(FileText(tracePath), "\r\nTx: PING\\x0a");
}
