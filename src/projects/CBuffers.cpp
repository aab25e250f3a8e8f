#include "projects/CBuffers.h"

#include <algorithm>
#include <cstring>

std::string ReadCBuffer(const char* buffer, int size) {
    if (!buffer || size <= 0) return {};
    return std::string(buffer, ::strnlen(buffer, static_cast<size_t>(size)));
}

void CopyToCBuffer(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    size_t count = std::min(text.size(), static_cast<size_t>(size) - 1);
    // Step back over continuation bytes (10xxxxxx) to the start of a character cut in two.
    if (count < text.size()) {
        size_t start = count;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        count = start;
    }
    std::copy_n(text.data(), count, buffer);
    std::fill(buffer + count, buffer + size, '\0');
}
