#include "AmpsimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool HasEndpointArg(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--pty" || arg == "--tcp" || arg.starts_with("--tcp=")) return true;
    return false;
}

// The one place this file turns an error code into text.
std::string Failure(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

AmpsimProcess::AmpsimProcess(std::vector<std::string> args, int startTimeoutMs) {
    if (!HasEndpointArg(args)) args.insert(args.end(), {"--tcp", "127.0.0.1:0"});
    args.push_back("--exit-on-stdin-eof");
    if (Start(args)) ReadUntilReady(startTimeoutMs);
}

AmpsimProcess::~AmpsimProcess() {
    if (pid_ > 0) {
        Terminate();
        if (WaitExit(5000) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    CloseFd(stdinFd_);
    CloseFd(stdoutFd_);
}

// Both pipes are close-on-exec on our side, so no other child (a second simulator) inherits
// them and keeps this one's standard input open after we close it.
bool AmpsimProcess::Start(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error_ = Failure("pipe", errno);
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = Failure("pipe", errno);
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The child starts with default signal handling whatever this test process has set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGTERM, SIGINT, SIGPIPE})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::string path = CORVANE_BIN_DIR "/ampsim";
    std::vector<char*> argv{path.data()};
    std::vector<std::string> copies = args;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    stdoutFd_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        error_ = Failure("spawn " + path, rc);
        return false;
    }
    return true;
}

bool AmpsimProcess::ReadUntilReady(int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready_) {
        pollfd p{stdoutFd_, POLLIN, 0};
        int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "ampsim did not report ready within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        char buffer[512];
        ssize_t got = ::read(stdoutFd_, buffer, sizeof buffer);
        if (got <= 0) {
            error_ = "ampsim exited before it was ready (see its message above)";
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t lf; !ready_ && (lf = pending_.find('\n')) != std::string::npos;) {
            TakeLine(pending_.substr(0, lf));
            pending_.erase(0, lf + 1);
        }
    }
    return true;
}

void AmpsimProcess::TakeLine(const std::string& line) {
    if (line == "ready") {
        ready_ = true;
    } else if (line.starts_with("tcp ") && tcpPort_ == 0) {
        tcpPort_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    } else if (line.starts_with("pty ")) {
        ptyPath_ = line.substr(4);
    }
}

void AmpsimProcess::CloseStdin() {
    CloseFd(stdinFd_);
}

void AmpsimProcess::Terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
}

// The child's end of the stdout pipe closes when it exits, so waiting for end of file on it is
// waiting for the exit, with a time-out and without polling waitpid.
int AmpsimProcess::WaitExit(int timeoutMs) {
    if (pid_ <= 0) return -1;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{stdoutFd_, POLLIN, 0};
        int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        char buffer[512];
        if (::read(stdoutFd_, buffer, sizeof buffer) <= 0) break;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}
