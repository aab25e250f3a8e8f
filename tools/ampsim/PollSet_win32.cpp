#include "PollSet.h"

#include <winsock2.h>

#include "SysError.h"

namespace ampsim {
namespace {

// The normal-data flags: WSAPoll refuses some of the others in what it is asked for.
short ToPoll(unsigned events) {
    return static_cast<short>(((events & kPollIn) ? POLLRDNORM : 0) | ((events & kPollOut) ? POLLWRNORM : 0));
}

unsigned FromPoll(short revents) {
    return ((revents & (POLLRDNORM | POLLRDBAND)) ? kPollIn : 0u) | ((revents & POLLWRNORM) ? kPollOut : 0u) |
           ((revents & POLLHUP) ? kPollHangUp : 0u) | ((revents & POLLERR) ? kPollError : 0u) |
           ((revents & POLLNVAL) ? kPollInvalid : 0u);
}

} // namespace

PollOutcome PollSet::Wait(int timeoutMs, std::string& error) {
    std::vector<WSAPOLLFD> fds;
    fds.reserve(entries_.size());
    for (const Entry& entry : entries_)
        fds.push_back({static_cast<SOCKET>(entry.handle), ToPoll(entry.wanted), 0});
    if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) == SOCKET_ERROR) {
        const int err = ::WSAGetLastError();
        if (err == WSAEINTR) return PollOutcome::Interrupted;
        error = SysError("WSAPoll", err);
        return PollOutcome::Failed;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i)
        entries_[i].happened = FromPoll(fds[i].revents);
    return PollOutcome::Ready;
}

} // namespace ampsim
