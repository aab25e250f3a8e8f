#pragma once
// Packing of the log's full chunks. With LZ4 (ChunkPacking_lz4.cpp) a chunk of log text takes a
// fraction of its size; a build without the library (ChunkPacking_plain.cpp) keeps every chunk as
// it is. Any thread may call; nothing is shared.
#include <cstddef>
#include <memory>

// Packs size bytes; false when they are not worth packing (packing would save less than an eighth)
// or cannot be packed here, and then packed is left alone.
bool PackChunk(const char* plain, std::size_t size, std::unique_ptr<char[]>& packed, std::size_t& packedSize);

// Unpacks what PackChunk made back into plain, which holds plainSize bytes; false when the packed
// bytes do not give exactly plainSize bytes.
bool UnpackChunk(const char* packed, std::size_t packedSize, char* plain, std::size_t plainSize);
