// SplitAtFirst on arbitrary text and separator: a found split must put the text back together
// at the separator's first occurrence; a miss must hand the text back whole.
#include "text/Strtools.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t separatorSize = std::min<size_t>(data[0] % 8, size - 1);
    const std::string separator(reinterpret_cast<const char*>(data + 1), separatorSize);
    const std::string text(reinterpret_cast<const char*>(data + 1 + separatorSize), size - 1 - separatorSize);

    std::string head = "stale head", tail = "stale tail";
    const bool found = SplitAtFirst(text, head, separator, tail);
    if (found) {
        if (separator.empty() || head + separator + tail != text) std::abort();
        if (text.find(separator) != head.size()) std::abort();
    } else {
        if (head != text || !tail.empty()) std::abort();
        if (!separator.empty() && text.find(separator) != std::string::npos) std::abort();
    }
    return 0;
}
