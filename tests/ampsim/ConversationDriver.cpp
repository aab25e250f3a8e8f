#include "ConversationDriver.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

ConversationDriver::ConversationDriver() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    clientEnd_ = ends[0];
    serverEnd_ = ends[1];
    ::fcntl(clientEnd_, F_SETFL, O_NONBLOCK);
    ::fcntl(serverEnd_, F_SETFL, O_NONBLOCK);
}

ConversationDriver::~ConversationDriver() {
    conversation_.reset(); // closes the server's end
    if (clientEnd_ >= 0) ::close(clientEnd_);
}

std::string ConversationDriver::Exchange(std::string_view bytes, Clock::time_point now) {
    if (!bytes.empty() &&
        ::send(clientEnd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size()))
        return "<send failed>";
    return Turn(now);
}

std::string ConversationDriver::Turn(Clock::time_point now) {
    // Two turns: what the first one's output let go (a flushed reply, a parked call) moves in the second.
    for (int i = 0; i < 2; ++i) {
        conversation_->ReadInput(now);
        conversation_->Advance(now);
    }
    std::string received;
    char buffer[64 * 1024];
    for (ssize_t n; (n = ::recv(clientEnd_, buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<size_t>(n));
    return received;
}

void ConversationDriver::EndSending() {
    ::shutdown(clientEnd_, SHUT_WR);
}

std::string Be32(unsigned value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

std::string Be64(unsigned long long value) {
    return Be32(static_cast<unsigned>(value >> 32)) + Be32(static_cast<unsigned>(value));
}
