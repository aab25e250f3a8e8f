#include "connection/TcpChannel.h"

#include "connection/Sockets.h"
#include "platform/System.h"
#include "platform/Tick.h"

#include <cerrno>
#include <chrono>

bool TcpChannel::Connect(const std::string& host, int port, int timeoutMs, std::string& failure) {
    fd_.Close(); // a connection left from before; the wake event stays as the owner set it
    if (!socketUser_.exchange(true)) SocketStartup();
    ConnectAttempt attempt;
    attempt.cancel = &wake_;
    attempt.timeoutMs = timeoutMs;
    const int s = TcpConnect(host + ":" + std::to_string(port), attempt);
    if (s == NoSocket) {
        failure = "cannot connect to " + host + ":" + std::to_string(port) + ": " + attempt.reason;
        return false;
    }
    fd_.Attach(s);
    // A Close that came while the connect was under way may have found nothing to close yet.
    if (wake_.IsSignalled()) {
        fd_.Close();
        failure = "cannot connect to " + host + ":" + std::to_string(port) + ": cancelled";
        return false;
    }
    return true;
}

bool TcpChannel::Send(std::string_view bytes, int timeoutMs, std::string& failure) {
    const unsigned start = GetTickCount();
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = fd_.WriteSome(bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failure = errno == EBADF ? "closed" : "send failed: " + GetSystemErrorText(errno);
            return false;
        }
        const int left = RemainingMs(timeoutMs, start);
        const WaitResult waited = left == 0 ? WaitResult::Timeout : WaitWritable(fd_.Fd(), wake_, left);
        if (waited == WaitResult::Timeout) failure = "send timed out";
        if (waited == WaitResult::Woken || waited == WaitResult::Failed) failure = "closed";
        if (waited != WaitResult::Ready) return false;
    }
    return true;
}

TcpChannel::Got TcpChannel::Receive(std::string& into, int timeoutMs, std::string& failure) {
    if (wake_.IsSignalled() || !fd_.IsOpen()) {
        failure = "closed";
        return Got::Closed;
    }
    const unsigned start = GetTickCount();
    const auto began = std::chrono::steady_clock::now();
    char buffer[65536];
    const bool awake = awake_.Awake();
    if (awake) {
        if (const ssize_t early = AwakeReads::Spin(fd_, buffer, sizeof buffer); early > 0) {
            awake_.Took(true, std::chrono::steady_clock::now() - began);
            into.append(buffer, static_cast<size_t>(early));
            return Got::Bytes;
        }
    }
    for (bool first = true;; first = false) {
        const ssize_t n = fd_.ReadSome(buffer, sizeof buffer);
        if (n > 0 && !first) awake_.Took(awake, std::chrono::steady_clock::now() - began);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            return Got::Bytes;
        }
        if (n == 0) {
            failure = "the instrument closed the connection";
            return Got::Ended;
        }
        if (errno == EINTR) continue;
        if (errno == EBADF) {
            failure = "closed";
            return Got::Closed;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            failure = "receive failed: " + GetSystemErrorText(errno);
            return Got::Failed;
        }
        const WaitResult waited = WaitReadable(fd_.Fd(), wake_, RemainingMs(timeoutMs, start));
        if (waited == WaitResult::Timeout) {
            failure = "timed out";
            return Got::TimedOut;
        }
        if (waited != WaitResult::Ready) {
            failure = "closed";
            return Got::Closed;
        }
    }
}

void TcpChannel::Close() {
    wake_.Signal();
    fd_.Close();
    if (socketUser_.exchange(false)) SocketCleanup();
}
