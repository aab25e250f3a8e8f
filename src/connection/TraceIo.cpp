#include "connection/TraceIo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// How trace text reaches the stream. Each call writes straight to the descriptor (no stdio
// buffer), so the trace is complete up to the last call when the process is killed. Only a
// regular file may block the caller; a pipe, terminal or socket that nobody drains must not hold
// the UI thread, so those are written without blocking and the text that finds no room is dropped.
enum class SinkKind {
    Off,         // no stream
    File,        // regular file or block device: plain writes
    NonBlocking, // a descriptor of our own, opened non-blocking on the same pipe or terminal
    Socket,      // send() with MSG_DONTWAIT
    PollFirst,   // pipe or terminal that could not be reopened: write only what poll says fits
    Stdio,       // a stream without a descriptor (memory streams): fwrite and fflush
};

struct TraceSink {
    std::FILE* stream = stdout;
    bool prepared = false;
    SinkKind kind = SinkKind::Off;
    int fd = -1;
    int ownFd = -1;       //!< the non-blocking descriptor we opened, closed when the stream changes
    uint64_t dropped = 0; //!< bytes dropped since the stream last took a whole call's text
    TraceDirection last = TraceDirection::None;
};

// The reader thread traces what it receives while the UI thread traces what it sends: one lock
// keeps the last direction and the stream's output consistent. Never destroyed, so a thread that
// traces while the process exits finds it intact.
struct TraceState {
    std::mutex lock;
    TraceSink sink; // guarded by lock
};

TraceState& State() {
    static auto* state = new TraceState;
    return *state;
}

void Prepare(TraceSink& sink) {
    sink.prepared = true;
    sink.kind = SinkKind::Off;
    if (!sink.stream) return;
    std::fflush(sink.stream); // what stdio holds already goes first
    sink.fd = ::fileno(sink.stream);
    struct stat info {};
    if (sink.fd < 0 || ::fstat(sink.fd, &info) != 0) {
        sink.kind = SinkKind::Stdio;
        return;
    }
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        sink.kind = SinkKind::File;
    } else if (S_ISSOCK(info.st_mode)) {
        sink.kind = SinkKind::Socket;
    } else {
        // O_NONBLOCK on the stream's own descriptor would change it for everyone who shares it
        // (the shell's terminal): open the same pipe or terminal again instead.
        std::string path = "/proc/self/fd/" + std::to_string(sink.fd);
        sink.ownFd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        sink.kind = sink.ownFd >= 0 ? SinkKind::NonBlocking : SinkKind::PollFirst;
        if (sink.ownFd >= 0) sink.fd = sink.ownFd;
    }
}

// Writes what the sink takes without waiting (a regular file excepted); returns the bytes taken.
size_t WriteSome(const TraceSink& sink, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = -1;
        switch (sink.kind) {
        case SinkKind::Off:
            return size;
        case SinkKind::Stdio:
            done += std::fwrite(data + done, 1, size - done, sink.stream);
            std::fflush(sink.stream);
            return done;
        case SinkKind::File:
        case SinkKind::NonBlocking:
            n = ::write(sink.fd, data + done, size - done);
            break;
        case SinkKind::Socket:
            n = ::send(sink.fd, data + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            break;
        case SinkKind::PollFirst: {
            // Up to PIPE_BUF bytes go into a pipe that polls writable without blocking.
            pollfd p{sink.fd, POLLOUT, 0};
            if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return done;
            n = ::write(sink.fd, data + done, std::min<size_t>(size - done, PIPE_BUF));
            break;
        }
        }
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // full (EAGAIN), or the stream failed: the rest is dropped
    }
    return done;
}

// Says once on standard error how much trace text a stream that was not drained cost. Written
// only when standard error has room, since it may be the very pipe that was full.
void ReportDropped(TraceSink& sink) {
    if (sink.dropped == 0) return;
    std::string text = "Corvane: the raw trace output was not being read; " + std::to_string(sink.dropped) +
                       " bytes of trace were dropped\n";
    sink.dropped = 0;
    pollfd p{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT))
        (void)!::write(STDERR_FILENO, text.data(), text.size());
}

void ReportDroppedAtExit() {
    // A thread still tracing while the process ends must not hold the exit up.
    TraceState& state = State();
    std::unique_lock guard(state.lock, std::try_to_lock);
    if (guard.owns_lock()) ReportDropped(state.sink);
}

void Release(TraceSink& sink) {
    ReportDropped(sink);
    if (sink.ownFd >= 0) ::close(sink.ownFd);
    sink.ownFd = -1;
    sink.fd = -1;
    sink.prepared = false;
}
} // namespace

void FormatTrace(TraceDirection& last, TraceDirection direction, const void* bytes, size_t count,
                 std::string& out) {
    static const char hex[] = "0123456789abcdef";
    if (direction != last) {
        out += direction == TraceDirection::Send ? "\r\nTx: " : "\r\nRx: ";
        last = direction;
    }
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        unsigned char b = p[i];
        if (b >= 32 && b <= 126) {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
}

void TraceIo(TraceDirection direction, const void* bytes, size_t count) {
    TraceState& state = State();
    std::lock_guard guard(state.lock);
    TraceSink& sink = state.sink;
    if (!sink.stream) return;
    if (!sink.prepared) Prepare(sink);
    std::string text;
    text.reserve(count + 8);
    FormatTrace(sink.last, direction, bytes, count, text);
    size_t taken = WriteSome(sink, text.data(), text.size());
    if (taken < text.size()) {
        static std::once_flag atExit;
        std::call_once(atExit, [] { std::atexit(ReportDroppedAtExit); });
        sink.dropped += text.size() - taken;
        // Text after a gap starts with its direction again, so no byte shows under the wrong one.
        sink.last = TraceDirection::None;
    } else {
        ReportDropped(sink);
    }
}

void SetTraceStream(std::FILE* stream) {
    TraceState& state = State();
    std::lock_guard guard(state.lock);
    Release(state.sink);
    state.sink.stream = stream;
    state.sink.last = TraceDirection::None;
}
