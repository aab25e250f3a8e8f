#include "StopSources.h"

#include <cerrno>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

#include "SysError.h"

namespace ampsim {

struct StopSources::State {
    int signalFd = -1;
    bool watchStdin = false;
    std::size_t signalIndex = 0;
    std::size_t stdinIndex = 0;
};

StopSources::StopSources() : state_(std::make_unique<State>()) {}

StopSources::~StopSources() {
    if (state_->signalFd >= 0) ::close(state_->signalFd);
}

// Termination signals arrive through a descriptor so the poll loop sees them like any other event.
// A parent may have left them ignored, which would also hide them from the descriptor.
bool StopSources::Open(bool watchStdin, std::string& error) {
    state_->watchStdin = watchStdin;
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0 ||
        (state_->signalFd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        error = SysError("signalfd", errno);
        return false;
    }
    return true;
}

void StopSources::AddTo(PollSet& set) {
    state_->signalIndex = set.Add(state_->signalFd, kPollIn);
    if (state_->watchStdin) state_->stdinIndex = set.Add(STDIN_FILENO, kPollIn);
}

// Whatever arrives on standard input is ignored; its end (or an error) means the parent is gone.
bool StopSources::Stopped(const PollSet& set) {
    bool stop = false;
    if (set.Events(state_->signalIndex)) {
        signalfd_siginfo info;
        while (::read(state_->signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            stop = true;
    }
    if (state_->watchStdin && set.Events(state_->stdinIndex)) {
        char buffer[4096];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) stop = true;
    }
    return stop;
}

} // namespace ampsim
