// ExtractProjectNumber on arbitrary text: the number holds ASCII digits and letters only, letters
// only after six digits, is no longer than the text, and reads back as itself.
#include "projects/ProjectSearch.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string number = ExtractProjectNumber(text);
    if (number.size() > text.size()) std::abort();
    for (size_t i = 0; i < number.size(); ++i) {
        if (IsDigit(number[i])) continue;
        if (!IsLetter(number[i]) || i < 6) std::abort();
        for (size_t k = 0; k < 6; ++k)
            if (!IsDigit(number[k])) std::abort();
    }
    if (ExtractProjectNumber(number) != number) std::abort();
    return 0;
}
