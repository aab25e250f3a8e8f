// Feeds arbitrary bytes, cut into arbitrary chunks, through the line framer in each of its ways of
// ending a line: whatever arrives, lines stay within their limit and hold no line end, and the
// chunking never changes the lines nor the half line left at the end. A 0 byte is text like any.
#include "connection/LineFramer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
// 0: the defaults ('#' starts, '*' ends); 1: LF; 2: CR LF; 3: any of CR and LF.
void SetUp(LineFramer& framer, int way) {
    if (way == 0) return;
    framer.EndChar = '\n';
    framer.StartCharEnabled = false;
    if (way == 2) framer.Ends = LineFramer::LineEnd::CrLf;
    if (way == 3) framer.Ends = LineFramer::LineEnd::CrOrLf;
}

bool HoldsLineEnd(const std::string& line, int way) {
    switch (way) {
    case 0:
        return line.find('*') != std::string::npos;
    case 2:
        return line.find("\r\n") != std::string::npos;
    case 3:
        return line.find_first_of("\r\n") != std::string::npos;
    default:
        return line.find('\n') != std::string::npos;
    }
}

std::vector<std::string> FrameAll(const uint8_t* data, size_t size, size_t chunk, int way) {
    LineFramer framer;
    SetUp(framer, way);
    std::vector<std::string> lines;
    for (size_t at = 0; at < size; at += chunk) {
        size_t n = size - at < chunk ? size - at : chunk;
        framer.Process(data + at, n, [&](const std::string& line) { lines.push_back(line); });
        if (framer.PendingLength() > LineFramer::MaxLine) std::abort();
    }
    for (const auto& line : lines) {
        if (line.size() > LineFramer::MaxLine || HoldsLineEnd(line, way)) std::abort();
    }
    std::string partial;
    if (framer.TakePartial(partial)) lines.push_back("partial:" + partial);
    return lines;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t chunk = 1 + data[0] % 255;
    const int way = data[1] % 4;
    if (FrameAll(data + 2, size - 2, chunk, way) != FrameAll(data + 2, size - 2, size, way)) std::abort();
    return 0;
}
