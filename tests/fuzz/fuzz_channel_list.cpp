// GenerateChannelList on arbitrary input: it must stop at the input's end wherever an entry is cut,
// and whatever it writes is whole query lines, at most 207 per entry of at least two characters.
#include "console/ExtraTools.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string output = GenerateChannelList(input);
    if (output.empty()) return 0;
    const std::string head = "DIAG CHAN_", tail = "?\r\n";
    if (output.compare(0, head.size(), head) != 0) std::abort();
    if (output.size() < tail.size() || output.compare(output.size() - tail.size(), tail.size(), tail) != 0)
        std::abort();
    const size_t longestLine = head.size() + 2 + 2 + tail.size();
    if (output.size() > (size / 2 + 1) * 207 * longestLine) std::abort();
    return 0;
}
