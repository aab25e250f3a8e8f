// Feeds arbitrary bytes, cut into arbitrary chunks, through the line framer: whatever arrives,
// lines stay within their limit, hold no 0 byte and no end character, and the chunking never
// changes the lines.
#include "connection/LineFramer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::vector<std::string> FrameAll(const uint8_t* data, size_t size, size_t chunk, bool defaults) {
    LineFramer framer;
    if (!defaults) {
        framer.EndChar = '\n';
        framer.StartCharEnabled = false;
    }
    std::vector<std::string> lines;
    for (size_t at = 0; at < size; at += chunk) {
        size_t n = size - at < chunk ? size - at : chunk;
        framer.Process(data + at, n, [&](const std::string& line) { lines.push_back(line); });
        if (framer.PendingLength() > LineFramer::MaxLine) std::abort();
    }
    for (const auto& line : lines) {
        if (line.size() > LineFramer::MaxLine || line.find('\0') != std::string::npos) std::abort();
        if (line.find(static_cast<char>(framer.EndChar)) != std::string::npos) std::abort();
    }
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t chunk = 1 + data[0] % 255;
    bool defaults = data[0] & 1;
    if (FrameAll(data + 1, size - 1, chunk, defaults) != FrameAll(data + 1, size - 1, size, defaults))
        std::abort();
    return 0;
}
