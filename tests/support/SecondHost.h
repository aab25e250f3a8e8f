#pragma once
// Inside netns-run --two-hosts: while an OnSecondHost lives, the thread that made it is in the
// second host's network namespace (NETNS_PEER, 10.77.0.2), so a process started meanwhile (an
// ampsim, `ip`) lives there. Needs root, as --two-hosts does. POSIX (Linux) only.
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

class OnSecondHost {
public:
    OnSecondHost() : home_(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC)) {
        const char* peer = std::getenv("NETNS_PEER");
        const int there =
            peer ? ::open(("/proc/" + std::string(peer) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC) : -1;
        entered_ = there >= 0 && ::setns(there, CLONE_NEWNET) == 0;
        if (there >= 0) ::close(there);
    }
    ~OnSecondHost() {
        if (entered_) ::setns(home_, CLONE_NEWNET);
        if (home_ >= 0) ::close(home_);
    }
    OnSecondHost(const OnSecondHost&) = delete;
    OnSecondHost& operator=(const OnSecondHost&) = delete;
    bool Entered() const { return entered_; }

private:
    int home_;
    bool entered_ = false;
};
