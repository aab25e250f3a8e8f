#include "connection/FdIo.h"

#include "connection/FdIo_sys.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

void GuardedFd::Attach(int fd) {
    std::lock_guard guard(lock_);
    if (fd >= 0) fd_sys::SetNonBlocking(fd);
    fd_ = fd;
}

bool GuardedFd::Close() {
    std::lock_guard guard(lock_);
    const int fd = fd_.exchange(-1);
    if (fd < 0) return false;
    fd_sys::CloseDescriptor(fd);
    return true;
}

ssize_t GuardedFd::ReadSome(void* buffer, size_t size) {
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return fd_sys::ReadSome(fd_, buffer, size);
}

ssize_t GuardedFd::ReceiveSome(void* buffer, size_t size, int64_t& arrivalNs) {
    arrivalNs = 0;
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return fd_sys::ReceiveSome(fd_, buffer, size, arrivalNs);
}

ssize_t GuardedFd::WriteSome(const void* data, size_t size) {
    std::lock_guard guard(lock_);
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    return fd_sys::WriteSome(fd_, data, size);
}

ssize_t ReadSoon(GuardedFd& fd, void* buffer, size_t size) {
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(SoonMicros);
    do {
        ssize_t n = fd.ReadSome(buffer, size);
        if (n > 0) return n;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return 0;
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return 0;
}

bool AwakeReads::Awake() {
    ++reads_;
    // Both ways once each at the start, then the quicker, the other now and then.
    if (micros_[0] == 0 || micros_[1] == 0) return micros_[0] != 0;
    const bool awake = micros_[1] < micros_[0];
    return reads_ % ProbeEvery == 0 ? !awake : awake;
}

ssize_t AwakeReads::Spin(GuardedFd& fd, void* buffer, size_t size) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(SoonMicros);
    do {
        ssize_t n = fd.ReadSome(buffer, size);
        if (n > 0) return n;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return 0;
    } while (std::chrono::steady_clock::now() < until);
    return 0;
}

void AwakeReads::Took(bool awake, std::chrono::steady_clock::duration waited) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(waited).count();
    const double sample = static_cast<double>(std::clamp<int64_t>(micros, 1, CapMicros));
    double& average = micros_[awake ? 1 : 0];
    // A way taken now and then is followed more quickly than the one in use.
    const bool inUse = (micros_[1] < micros_[0]) == awake;
    average = average == 0 ? sample : average + (sample - average) / (inUse ? 8 : 2);
}

ssize_t WriteAll(GuardedFd& fd, const WakeEvent& wake, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    unsigned start = GetTickCount();
    while (done < size) {
        ssize_t n = fd.WriteSome(p + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            start = GetTickCount(); // the limit is on progress: a slow port may take long in all
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int left = RemainingMs(WriteTimeoutMs, start);
            WaitResult waited = left == 0 ? WaitResult::Timeout : WaitWritable(fd.Fd(), wake, left);
            if (waited == WaitResult::Timeout) errno = ETIMEDOUT;
            if (waited != WaitResult::Ready) return -1;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return -1;
        }
    }
    return static_cast<ssize_t>(size);
}

int RemainingMs(int timeoutMs, unsigned startTick) {
    if (timeoutMs < 0) return -1;
    uint32_t elapsed = TickDiff(GetTickCount(), startTick);
    return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}

namespace {
WaitResult WaitFor(WaitItem target, const WakeEvent& wake, int timeoutMs) {
    WaitItem items[2] = {{-1, &wake}, target};
    const int n = WaitAny(items, 2, timeoutMs);
    if (n < 0) return WaitResult::Failed;
    if (items[0].ready) return WaitResult::Woken;
    if (n == 0) return WaitResult::Timeout;
    return items[1].closed ? WaitResult::Failed : WaitResult::Ready;
}
} // namespace

WaitResult WaitReadable(int fd, const WakeEvent& wake, int timeoutMs) {
    return WaitFor({fd}, wake, timeoutMs);
}

WaitResult WaitWritable(int fd, const WakeEvent& wake, int timeoutMs) {
    return WaitFor({fd, nullptr, true}, wake, timeoutMs);
}
