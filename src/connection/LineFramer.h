#pragma once
// Frames received bytes into lines. A line ends at EndChar (when enabled); StartChar (when enabled)
// throws away what was collected so far and starts afresh. Neither is stored. A line longer than
// MaxLine keeps its first MaxLine bytes; the rest is dropped until the line ends. The text of a
// line is what precedes its first 0 byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class LineFramer {
public:
    static constexpr size_t MaxLine = 32767;

    bool StartCharEnabled = true;
    bool EndCharEnabled = true;
    uint8_t StartChar = '#';
    uint8_t EndChar = '*';

    // Feeds n bytes in order; onLine(const std::string&) is called for each completed line.
    template <class OnLine> void Process(const uint8_t* bytes, size_t n, OnLine&& onLine) {
        for (size_t i = 0; i < n; ++i) {
            uint8_t b = bytes[i];
            if (StartCharEnabled && b == StartChar) {
                length_ = 0;
            } else if (EndCharEnabled && b == EndChar) {
                std::string line(buffer_, ::strnlen(buffer_, length_));
                length_ = 0;
                onLine(line);
            } else if (length_ < MaxLine) {
                buffer_[length_++] = static_cast<char>(b);
            }
        }
    }

    // Bytes of the line being received so far.
    size_t PendingLength() const { return length_; }

private:
    char buffer_[MaxLine + 1] = {};
    size_t length_ = 0;
};
