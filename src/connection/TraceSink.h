#pragma once
// The trace's stream as each system writes it without waiting for a reader: TraceIo_posix.cpp and
// TraceIo_win32.cpp. For the trace's own files alone; every call runs under the trace's lock.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct TraceSink {
    std::FILE* stream = nullptr; //!< Not owned; set before Prepare.
    int kind = 0;                //!< How the side writes it, in the side's own terms.
    std::intptr_t handle = -1;   //!< The descriptor, or HANDLE, written.
    std::intptr_t own = -1;      //!< One the side opened or changed, which Release gives back.
};

// Looks at sink.stream once, before its first write; what stdio holds of it goes first.
void PrepareTraceSink(TraceSink& sink);
// Writes what the stream takes now; returns the bytes taken (the rest is dropped). Only a file on
// a disk may make the caller wait.
size_t WriteTraceSink(const TraceSink& sink, const char* data, size_t size);
// Gives back what Prepare opened or changed.
void ReleaseTraceSink(TraceSink& sink);
// Writes text on standard error only when it takes it without waiting: it may be the very pipe
// that was full.
void WriteTraceNote(const std::string& text);
