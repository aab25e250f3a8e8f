// DecodeEscapes on arbitrary bytes. The source sits in a heap block that ends exactly at its 0 and
// the outputs in blocks of exactly the size passed, so the sanitizer sees any read or write beyond
// them, including for texts that end inside an escape.
#include "text/Strtools.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t cut = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const size_t length = strnlen(bytes, size - 1);
    auto source = std::make_unique<char[]>(length + 1);
    std::memcpy(source.get(), bytes, length);
    source[length] = 0;

    // Room for every character plus the 0 always suffices, and decoding never expands.
    auto full = std::make_unique<unsigned char[]>(length + 1);
    const size_t count = DecodeEscapes(source.get(), full.get(), length + 1);
    Check(count <= length);
    Check(full[count] == 0);
    if (std::memchr(source.get(), '\\', length) == nullptr)
        Check(count == length && std::memcmp(full.get(), source.get(), length) == 0);

    // A smaller output gets a prefix of the same bytes, cut to leave room for the 0.
    const size_t outputSize = cut % (length + 2);
    auto small = std::make_unique<unsigned char[]>(outputSize + 1);
    small[outputSize] = 0xA5;
    const size_t smallCount = DecodeEscapes(source.get(), small.get(), outputSize);
    Check(small[outputSize] == 0xA5);
    if (outputSize == 0) {
        Check(smallCount == 0);
    } else {
        Check(smallCount == std::min(count, outputSize - 1));
        Check(small[smallCount] == 0 && std::memcmp(small.get(), full.get(), smallCount) == 0);
    }

    // The string form reads the same text, stopping at an embedded 0 like the buffer form.
    const std::string decoded = DecodeEscapes(std::string(bytes, size - 1));
    Check(decoded == std::string(reinterpret_cast<const char*>(full.get()), count));
    return 0;
}
