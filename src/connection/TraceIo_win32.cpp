// The trace's writes on Windows: WriteFile on the stream's own handle (no stdio buffer), so the
// trace is complete up to the last call when the process is killed.
//
// A pipe that nobody drains is written in the pipes' no-wait mode (PIPE_NOWAIT, which
// SetNamedPipeHandleState sets on named and anonymous pipes alike): a write takes what fits and
// the rest is dropped. The mode belongs to the pipe's handle, which the
// process that started us shares, so it is set only while the trace writes there and given back
// after. Windows has no documented way to write without waiting to a console (it stops a writer
// while the operator selects text or presses Pause) nor to a socket handed over as standard
// output: those are written as a file is, and may hold the caller.
#include "connection/TraceSink.h"

#include <windows.h>

#include <io.h>

namespace {
enum SinkKind {
    Off,     // no stream, or one without a handle (a program without a console)
    Waiting, // a file, a console, or a handle whose mode cannot be changed: plain writes
    NoWait,  // a pipe in no-wait mode: what does not fit is dropped
};

HANDLE StreamHandle(std::FILE* stream) {
    const int fd = _fileno(stream);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A program without a console has -2 for its standard handles.
bool Usable(HANDLE handle) {
    return handle != INVALID_HANDLE_VALUE && handle != nullptr &&
           reinterpret_cast<std::intptr_t>(handle) != -2;
}

bool PipeWaits(HANDLE pipe, bool& waits) {
    DWORD state = 0;
    if (!GetNamedPipeHandleStateW(pipe, &state, nullptr, nullptr, nullptr, nullptr, 0)) return false;
    waits = (state & PIPE_NOWAIT) == 0;
    return true;
}

// The write end's read mode stays byte mode: nothing reads through it.
bool SetPipeWaits(HANDLE pipe, bool waits) {
    DWORD mode = PIPE_READMODE_BYTE | (waits ? PIPE_WAIT : PIPE_NOWAIT);
    return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != 0;
}

// Writes through handle; in no-wait mode a write that falls short means the pipe is full. Windows
// takes what fits; Wine takes a no-wait write whole or not at all.
size_t WriteHandle(HANDLE handle, bool noWait, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const auto chunk = static_cast<DWORD>(size - done < (1u << 20) ? size - done : (1u << 20));
        DWORD n = 0;
        if (!WriteFile(handle, data + done, chunk, &n, nullptr)) break; // the reader went away
        done += n;
        if (n == 0 || (noWait && n < chunk)) break;
    }
    return done;
}
} // namespace

void PrepareTraceSink(TraceSink& sink) {
    sink.kind = Off;
    if (!sink.stream) return;
    std::fflush(sink.stream); // what stdio holds already goes first
    const HANDLE handle = StreamHandle(sink.stream);
    if (!Usable(handle)) return;
    sink.handle = reinterpret_cast<std::intptr_t>(handle);
    sink.kind = Waiting;
    if (GetFileType(handle) != FILE_TYPE_PIPE) return;
    bool waits = true;
    if (PipeWaits(handle, waits) && !waits) {
        sink.kind = NoWait;
    } else if (SetPipeWaits(handle, false)) {
        sink.kind = NoWait;
        sink.own = sink.handle; // its waiting mode is given back
    }
}

size_t WriteTraceSink(const TraceSink& sink, const char* data, size_t size) {
    if (sink.kind == Off) return size;
    return WriteHandle(reinterpret_cast<HANDLE>(sink.handle), sink.kind == NoWait, data, size);
}

void ReleaseTraceSink(TraceSink& sink) {
    if (sink.own != -1) SetPipeWaits(reinterpret_cast<HANDLE>(sink.own), true);
    sink.own = -1;
    sink.handle = -1;
}

// Standard error as the C runtime has it (tests redirect it there). A pipe is switched to no-wait
// mode for this one write; one whose mode cannot be changed is not written.
void WriteTraceNote(const std::string& text) {
    const HANDLE error = StreamHandle(stderr);
    if (!Usable(error)) return;
    if (GetFileType(error) != FILE_TYPE_PIPE) {
        WriteHandle(error, false, text.data(), text.size());
        return;
    }
    bool waits = true;
    if (PipeWaits(error, waits) && !waits) {
        WriteHandle(error, true, text.data(), text.size());
    } else if (SetPipeWaits(error, false)) {
        WriteHandle(error, true, text.data(), text.size());
        SetPipeWaits(error, true);
    }
}
