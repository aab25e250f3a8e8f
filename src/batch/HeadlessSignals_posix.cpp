// The run's signals on POSIX: SIGINT, SIGTERM and SIGHUP are blocked everywhere and waited for in
// a thread of their own, which hands the number to the run. SIGUSR1 ends the watch.
#include "batch/HeadlessSignals.h"

#include <csignal>
#include <pthread.h>
#include <thread>

struct HeadlessSignals::Watch {
    sigset_t set{};
    std::thread thread;
};

HeadlessSignals::HeadlessSignals(Handover& handover)
    : handover_(handover), watch_(std::make_unique<Watch>()) {
    std::signal(SIGPIPE, SIG_IGN);
    sigemptyset(&watch_->set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&watch_->set, s);
    pthread_sigmask(SIG_BLOCK, &watch_->set, nullptr);
    watch_->thread = std::thread([this] {
        for (;;) {
            int signal = 0;
            if (sigwait(&watch_->set, &signal) != 0 || signal == SIGUSR1) return;
            Tell(signal);
        }
    });
}

HeadlessSignals::~HeadlessSignals() {
    pthread_kill(watch_->thread.native_handle(), SIGUSR1);
    watch_->thread.join();
}
