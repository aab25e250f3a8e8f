#include "connection/TraceIo.h"

#include <mutex>

namespace {
// The reader thread traces what it receives while the UI thread traces what it sends: one lock
// keeps the last direction and the stream's output consistent.
std::mutex traceLock;
TraceDirection lastDirection = TraceDirection::None; // guarded by traceLock
std::FILE* traceStream = stdout;                     // guarded by traceLock
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
    std::lock_guard guard(traceLock);
    if (!traceStream) return;
    std::string text;
    text.reserve(count + 8);
    FormatTrace(lastDirection, direction, bytes, count, text);
    std::fwrite(text.data(), 1, text.size(), traceStream);
}

void SetTraceStream(std::FILE* stream) {
    std::lock_guard guard(traceLock);
    traceStream = stream;
}
