// The trace's format, its lock and the count of what was lost, alike on every system; the writes
// themselves are each system's (TraceSink.h).
#include "connection/TraceIo.h"

#include "connection/TraceSink.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {
// The reader thread traces what it receives while the UI thread traces what it sends: one lock
// keeps the last direction and the stream's output consistent. Never destroyed, so a thread that
// traces while the process exits finds it intact.
struct TraceState {
    std::mutex lock;
    // Guarded by lock:
    std::FILE* stream = stdout;
    bool prepared = false;
    TraceSink sink;
    uint64_t dropped = 0; //!< bytes dropped since the stream last took a whole call's text
    TraceDirection last = TraceDirection::None;
};

TraceState& State() {
    static auto* state = new TraceState;
    return *state;
}

// Says once on standard error how much trace text a stream that was not drained cost.
void ReportDropped(TraceState& state) {
    if (state.dropped == 0) return;
    const std::string text = "Corvane: the raw trace output was not being read; " +
                             std::to_string(state.dropped) + " bytes of trace were dropped\n";
    state.dropped = 0;
    WriteTraceNote(text);
}

void ReportDroppedAtExit() {
    // A thread still tracing while the process ends must not hold the exit up.
    TraceState& state = State();
    std::unique_lock guard(state.lock, std::try_to_lock);
    if (guard.owns_lock()) ReportDropped(state);
}

void Release(TraceState& state) {
    ReportDropped(state);
    if (state.prepared) ReleaseTraceSink(state.sink);
    state.prepared = false;
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
    if (!state.stream) return;
    if (!state.prepared) {
        state.sink = TraceSink{};
        state.sink.stream = state.stream;
        PrepareTraceSink(state.sink);
        state.prepared = true;
    }
    std::string text;
    text.reserve(count + 8);
    FormatTrace(state.last, direction, bytes, count, text);
    size_t taken = WriteTraceSink(state.sink, text.data(), text.size());
    if (taken < text.size()) {
        static std::once_flag atExit;
        std::call_once(atExit, [] { std::atexit(ReportDroppedAtExit); });
        state.dropped += text.size() - taken;
        // Text after a gap starts with its direction again, so no byte shows under the wrong one.
        state.last = TraceDirection::None;
    } else {
        ReportDropped(state);
    }
}

void SetTraceStream(std::FILE* stream) {
    TraceState& state = State();
    std::lock_guard guard(state.lock);
    Release(state);
    state.stream = stream;
    state.last = TraceDirection::None;
}
