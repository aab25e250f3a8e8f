#include "AmpsimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct AmpsimProcess::Child {
    pid_t pid = -1;
    int stdinFd = -1;
    int stdoutFd = -1;
};

namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    return left > 0 ? static_cast<int>(left) : 0;
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

AmpsimProcess::AmpsimProcess(std::vector<std::string> args, int startTimeoutMs)
    : child_(std::make_unique<Child>()) {
    if (Start(FullArguments(std::move(args)))) ReadUntilReady(startTimeoutMs);
}

AmpsimProcess::~AmpsimProcess() {
    if (child_->pid > 0) {
        Terminate();
        if (WaitExit(5000) < 0) {
            ::kill(child_->pid, SIGKILL);
            ::waitpid(child_->pid, nullptr, 0);
        }
    }
    CloseFd(child_->stdinFd);
    CloseFd(child_->stdoutFd);
}

long long AmpsimProcess::Pid() const {
    return child_->pid;
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
    int rc = ::posix_spawn(&child_->pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    child_->stdinFd = in[1];
    child_->stdoutFd = out[0];
    if (rc != 0) {
        child_->pid = -1;
        error_ = Failure("spawn " + path, rc);
        return false;
    }
    return true;
}

long AmpsimProcess::ReadOutput(char* buffer, std::size_t size, Clock::time_point deadline) {
    for (;;) {
        pollfd p{child_->stdoutFd, POLLIN, 0};
        int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        ssize_t got = ::read(child_->stdoutFd, buffer, size);
        return got > 0 ? static_cast<long>(got) : 0;
    }
}

void AmpsimProcess::CloseStdin() {
    CloseFd(child_->stdinFd);
}

void AmpsimProcess::Terminate() {
    if (child_->pid > 0) ::kill(child_->pid, SIGTERM);
}

// The child's end of the stdout pipe closes when it exits, so waiting for end of file on it is
// waiting for the exit, with a time-out and without polling waitpid.
int AmpsimProcess::WaitExit(int timeoutMs) {
    if (child_->pid <= 0) return -1;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char buffer[512];
        long got = ReadOutput(buffer, sizeof buffer, deadline);
        if (got < 0) return -1;
        if (got == 0) break;
    }
    int status = 0;
    while (::waitpid(child_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    child_->pid = -1;
    return status;
}
