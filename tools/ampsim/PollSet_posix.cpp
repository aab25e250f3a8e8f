#include "PollSet.h"

#include <cerrno>
#include <poll.h>

#include "SysError.h"

namespace ampsim {
namespace {

short ToPoll(unsigned events) {
    return static_cast<short>(((events & kPollIn) ? POLLIN : 0) | ((events & kPollOut) ? POLLOUT : 0));
}

unsigned FromPoll(short revents) {
    return ((revents & POLLIN) ? kPollIn : 0u) | ((revents & POLLOUT) ? kPollOut : 0u) |
           ((revents & POLLHUP) ? kPollHangUp : 0u) | ((revents & POLLERR) ? kPollError : 0u) |
           ((revents & POLLNVAL) ? kPollInvalid : 0u);
}

} // namespace

PollOutcome PollSet::Wait(int timeoutMs, std::string& error) {
    std::vector<pollfd> fds;
    fds.reserve(entries_.size());
    for (const Entry& entry : entries_)
        fds.push_back({static_cast<int>(entry.handle), ToPoll(entry.wanted), 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
        if (errno == EINTR) return PollOutcome::Interrupted;
        error = SysError("poll", errno);
        return PollOutcome::Failed;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i)
        entries_[i].happened = FromPoll(fds[i].revents);
    return PollOutcome::Ready;
}

} // namespace ampsim
