#include "log/LogLines.h"

#include "log/ChunkPacking.h"
#include "log/HexBytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace {
// Chunks of 256 KiB: large enough that packing finds the repeats and the allocator's overhead
// vanishes, small enough that packing one (when it is full) or unpacking one (to paint a place
// far up the log) takes well under a millisecond.
constexpr std::size_t ChunkSize = std::size_t{256} << 10;

// An index word: colour slot in the top 8 bits, chunk number in the next 24, offset in the chunk
// in the low 32. A line never crosses chunks, so its end is the next line's start in the same
// chunk or the chunk's fill mark.
constexpr int SlotShift = 56;
constexpr int ChunkShift = 32;
constexpr uint64_t ChunkMask = (uint64_t{1} << 24) - 1;
constexpr uint64_t OffsetMask = (uint64_t{1} << 32) - 1;
// The slot of a colour that found no free slot; its value is kept per line.
constexpr uint32_t RareSlot = 255;

std::size_t ChunkOf(uint64_t word) {
    return static_cast<std::size_t>((word >> ChunkShift) & ChunkMask);
}
std::size_t OffsetOf(uint64_t word) {
    return static_cast<std::size_t>(word & OffsetMask);
}
uint32_t SlotOfWord(uint64_t word) {
    return static_cast<uint32_t>(word >> SlotShift);
}

} // namespace

LogLines::LogLines() = default;
LogLines::~LogLines() = default;

std::size_t LogLines::Append(std::string_view text, uint32_t colour) {
    uint32_t slot = SlotOf(colour);
    std::size_t added = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            // The tail after the last line end; nothing when the text ended with one.
            if (start < text.size() || added == 0) {
                AppendLine(text.substr(start), slot, colour);
                ++added;
            }
            return added;
        }
        const std::size_t crlf = end > start && text[end - 1] == '\r' ? 1 : 0;
        AppendLine(text.substr(start, end - start - crlf), slot, colour);
        ++added;
        start = end + 1;
    }
}

void LogLines::AppendLine(std::string_view line, uint32_t slot, uint32_t colour) {
    std::size_t chunk = 0;
    std::size_t offset = 0;
    char* target = Reserve(line.size(), chunk, offset);
    if (!line.empty()) {
        std::memcpy(target, line.data(), line.size());
    }
    if (slot == RareSlot) {
        rareColours_.emplace(index_.size(), colour);
    }
    index_.push_back(uint64_t{slot} << SlotShift | uint64_t{chunk} << ChunkShift | offset);
    LineWidths widths = MeasureLine(line, TabWidth);
    longestWidths_.plain = std::max(longestWidths_.plain, widths.plain);
    longestWidths_.controls = std::max(longestWidths_.controls, widths.controls);
    longestWidths_.all = std::max(longestWidths_.all, widths.all);
    longestHexWidth_ = std::max(longestHexWidth_, HexRowWidth(line));
}

// Room for length bytes at the end of the newest chunk, or in a new one; a line longer than a
// chunk gets a chunk of its own size.
char* LogLines::Reserve(std::size_t length, std::size_t& chunk, std::size_t& offset) {
    if (chunks_.empty() || chunks_.back().size - chunks_.back().used < length) {
        if (!chunks_.empty()) Pack(chunks_.back());
        Chunk fresh;
        fresh.size = std::max(ChunkSize, length);
        fresh.data = std::make_unique_for_overwrite<char[]>(fresh.size);
        chunks_.push_back(std::move(fresh));
    }
    Chunk& last = chunks_.back();
    chunk = chunks_.size() - 1;
    offset = last.used;
    last.used += length;
    return last.data.get() + offset;
}

// A chunk that packs badly (random bytes) stays plain.
void LogLines::Pack(Chunk& chunk) {
    if (PackChunk(chunk.data.get(), chunk.used, chunk.packed, chunk.packedSize)) chunk.data.reset();
}

const char* LogLines::Bytes(std::size_t number) const {
    const Chunk& chunk = chunks_[number];
    if (chunk.data) return chunk.data.get();
    if (unpacked_.chunk != number) {
        if (unpacked_.size < chunk.used) {
            unpacked_.data = std::make_unique_for_overwrite<char[]>(chunk.used);
            unpacked_.size = chunk.used;
        }
        // Packed here from bytes that never left the process: a failure would be a broken store.
        if (!UnpackChunk(chunk.packed.get(), chunk.packedSize, unpacked_.data.get(), chunk.used))
            std::abort();
        unpacked_.chunk = number;
    }
    return unpacked_.data.get();
}

// A linear search: a log holds a handful of colours, fewer than a hash lookup costs.
uint32_t LogLines::SlotOf(uint32_t colour) {
    auto found = std::find(palette_.begin(), palette_.end(), colour);
    if (found != palette_.end()) {
        return static_cast<uint32_t>(found - palette_.begin());
    }
    if (palette_.size() == RareSlot) {
        return RareSlot;
    }
    palette_.push_back(colour);
    return static_cast<uint32_t>(palette_.size() - 1);
}

std::size_t LogLines::LineEnd(std::size_t i, std::size_t chunk) const {
    if (i + 1 < index_.size() && ChunkOf(index_[i + 1]) == chunk) {
        return OffsetOf(index_[i + 1]);
    }
    return chunks_[chunk].used;
}

std::string_view LogLines::Text(std::size_t i) const {
    uint64_t word = index_[i];
    std::size_t chunk = ChunkOf(word);
    std::size_t offset = OffsetOf(word);
    return {Bytes(chunk) + offset, LineEnd(i, chunk) - offset};
}

uint32_t LogLines::Colour(std::size_t i) const {
    uint32_t slot = SlotOfWord(index_[i]);
    return slot == RareSlot ? rareColours_.at(i) : palette_[slot];
}

void LogLines::Clear() {
    // Swapping with empty containers frees their storage; clear() would keep the capacity.
    std::vector<Chunk>().swap(chunks_);
    std::vector<uint64_t>().swap(index_);
    palette_.clear();
    std::unordered_map<std::size_t, uint32_t>().swap(rareColours_);
    longestWidths_ = {};
    longestHexWidth_ = 0;
    unpacked_ = {};
    ++clears_;
}

LogLines::ChunkSpan LogLines::LinesOfChunk(std::size_t number) const {
    // Lines are in chunk order, so a chunk's lines are one run of the index.
    auto chunkBelow = [](uint64_t word, std::size_t chunk) { return ChunkOf(word) < chunk; };
    auto first = std::lower_bound(index_.begin(), index_.end(), number, chunkBelow);
    auto end = std::lower_bound(first, index_.end(), number + 1, chunkBelow);
    return {Bytes(number), chunks_[number].used, static_cast<std::size_t>(first - index_.begin()),
            static_cast<std::size_t>(end - index_.begin())};
}

std::size_t LogLines::ChunkOfLine(std::size_t i) const {
    return ChunkOf(index_[i]);
}

std::size_t LogLines::LineStart(std::size_t i) const {
    return OffsetOf(index_[i]);
}

void LogLines::WriteText(std::ostream& out) const {
    for (std::size_t i = 0; i < index_.size(); ++i) {
        std::string_view line = Text(i);
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        out.write("\r\n", 2);
    }
}

std::string LogLines::JoinText(std::size_t first, std::size_t last, std::string_view lineEnd) const {
    std::size_t total = 0;
    for (std::size_t i = first; i <= last; ++i) {
        total += Text(i).size() + lineEnd.size();
    }
    std::string joined;
    joined.reserve(total);
    for (std::size_t i = first; i <= last; ++i) {
        if (i != first) {
            joined.append(lineEnd);
        }
        joined.append(Text(i));
    }
    return joined;
}

std::size_t LogLines::Width(std::string_view text) {
    std::size_t width = 0;
    for (char c : text) {
        width = c == '\t' ? (width / TabWidth + 1) * TabWidth : width + 1;
    }
    return width;
}
