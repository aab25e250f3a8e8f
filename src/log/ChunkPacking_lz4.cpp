#include "log/ChunkPacking.h"

#include <cstring>
#include <lz4.h>

bool PackChunk(const char* plain, std::size_t size, std::unique_ptr<char[]>& packed,
               std::size_t& packedSize) {
    if (size == 0 || size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return false;
    const int plainSize = static_cast<int>(size);
    const int bound = LZ4_compressBound(plainSize);
    auto scratch = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(bound));
    const int made = LZ4_compress_default(plain, scratch.get(), plainSize, bound);
    if (made <= 0 || static_cast<std::size_t>(made) >= size - size / 8) return false;
    packedSize = static_cast<std::size_t>(made);
    packed = std::make_unique_for_overwrite<char[]>(packedSize);
    std::memcpy(packed.get(), scratch.get(), packedSize);
    return true;
}

bool UnpackChunk(const char* packed, std::size_t packedSize, char* plain, std::size_t plainSize) {
    const int got =
        LZ4_decompress_safe(packed, plain, static_cast<int>(packedSize), static_cast<int>(plainSize));
    return got == static_cast<int>(plainSize);
}
