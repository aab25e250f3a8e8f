// The trace's writes on POSIX: straight to the descriptor (no stdio buffer), so the trace is
// complete up to the last call when the process is killed. Only a regular file may block the
// caller; a pipe, terminal or socket that nobody drains must not hold the UI thread, so those are
// written without blocking and the text that finds no room is dropped.
#include "connection/TraceSink.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
enum SinkKind {
    Off,         // no stream
    File,        // regular file or block device: plain writes
    NonBlocking, // a descriptor of our own, opened non-blocking on the same pipe or terminal
    Socket,      // send() with MSG_DONTWAIT
    PollFirst,   // pipe or terminal that could not be reopened: write only what poll says fits
    Stdio,       // a stream without a descriptor (memory streams): fwrite and fflush
};

int Fd(const TraceSink& sink) {
    return static_cast<int>(sink.handle);
}

bool Writable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
}

// One write of the sink's kind: the bytes taken, or -1 with errno.
ssize_t WriteOnce(const TraceSink& sink, const char* data, size_t size) {
    switch (sink.kind) {
    case Socket:
        return ::send(Fd(sink), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    case PollFirst:
        // Up to PIPE_BUF bytes go into a pipe that polls writable without blocking.
        if (!Writable(Fd(sink))) {
            errno = EAGAIN;
            return -1;
        }
        return ::write(Fd(sink), data, std::min<size_t>(size, PIPE_BUF));
    default:
        return ::write(Fd(sink), data, size);
    }
}
} // namespace

void PrepareTraceSink(TraceSink& sink) {
    sink.kind = Off;
    if (!sink.stream) return;
    std::fflush(sink.stream); // what stdio holds already goes first
    const int fd = ::fileno(sink.stream);
    sink.handle = fd;
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        sink.kind = Stdio;
        return;
    }
    if (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) {
        sink.kind = File;
    } else if (S_ISSOCK(info.st_mode)) {
        sink.kind = Socket;
    } else {
        // O_NONBLOCK on the stream's own descriptor would change it for everyone who shares it
        // (the shell's terminal): open the same pipe or terminal again instead.
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        sink.kind = own >= 0 ? NonBlocking : PollFirst;
        if (own >= 0) sink.handle = sink.own = own;
    }
}

size_t WriteTraceSink(const TraceSink& sink, const char* data, size_t size) {
    if (sink.kind == Off) return size;
    if (sink.kind == Stdio) {
        const size_t done = std::fwrite(data, 1, size, sink.stream);
        std::fflush(sink.stream);
        return done;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = WriteOnce(sink, data + done, size - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // full (EAGAIN), or the stream failed: the rest is dropped
    }
    return done;
}

void ReleaseTraceSink(TraceSink& sink) {
    if (sink.own >= 0) ::close(static_cast<int>(sink.own));
    sink.own = -1;
    sink.handle = -1;
}

void WriteTraceNote(const std::string& text) {
    if (Writable(STDERR_FILENO)) (void)!::write(STDERR_FILENO, text.data(), text.size());
}
