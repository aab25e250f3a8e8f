#include "log/ChunkPacking.h"

bool PackChunk(const char*, std::size_t, std::unique_ptr<char[]>&, std::size_t&) {
    return false;
}

bool UnpackChunk(const char*, std::size_t, char*, std::size_t) {
    return false; // nothing was ever packed
}
