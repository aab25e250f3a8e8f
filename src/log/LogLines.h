#pragma once
// The console log's lines: 8-bit text and a 32-bit colour per line, kept compactly because the
// log is never trimmed and can reach millions of lines.
//
// Texts live back to back in chunks, and a line costs one 64-bit word (chunk, offset in the
// chunk, colour slot) plus its share of a chunk. A full chunk is packed with LZ4: log lines repeat
// each other (stamps, commands, replies), so ten million of them fit where two million plain
// ones would. Reading a packed chunk unpacks it into a one-chunk cache; the newest chunk, where
// the view follows the log, stays plain. Colours are few in practice (Tx, Rx, status, error,
// window text); each distinct value gets a slot in a small table. Not thread-safe: one thread
// (the UI thread) owns a store, and reading changes the cache.
#include "log/ControlChars.h"
#include "log/LogColours.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class LogLines {
public:
    // Columns a tab advances to, for the width of a line.
    static constexpr std::size_t TabWidth = 8;

    LogLines();
    ~LogLines();
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    // Appends one log entry. It is split at CR LF and LF into lines of the same colour. A lone CR
    // is a byte of the line: an instrument's reply that holds one is still one line with one
    // stamp, and the control-character view shows the CR where it came. A line end at the very
    // end closes the last line and opens no empty one, as when a text file is read; an empty
    // text is one empty line. Returns the number of lines added (at least 1).
    std::size_t Append(std::string_view text, uint32_t colour);

    std::size_t Count() const { return index_.size(); }
    // The bytes of line i (< Count()), without a line end. The view stays valid until the next
    // Text, Append or Clear.
    std::string_view Text(std::size_t i) const;
    uint32_t Colour(std::size_t i) const;
    // Character cells of the widest line so far, tabs expanded to the next multiple of TabWidth;
    // the extent of horizontal scrolling.
    std::size_t LongestWidth() const { return longestWidths_.plain; }
    // The same with the bytes mode shows as escapes counted at their escaped width.
    std::size_t LongestWidth(ControlCharMode mode) const { return longestWidths_.In(mode); }
    // Character cells of the widest line in the hex view (HexRowWidth); 0 when no line is shown in hex.
    std::size_t LongestHexWidth() const { return longestHexWidth_; }

    // Removes every line and gives the memory back.
    void Clear();
    // How many times the store was cleared: a scan that kept line numbers starts over when it changes.
    std::size_t Clears() const { return clears_; }

    // One chunk's lines in place, for scans over the whole store that must not copy each line:
    // lines first..end-1 lie back to back in bytes[0..size), line i from LineStart(i) up to the
    // next line's start (size for the last). Valid until the next read, Append or Clear.
    struct ChunkSpan {
        const char* bytes = nullptr;
        std::size_t size = 0;
        std::size_t first = 0;
        std::size_t end = 0;
    };
    std::size_t ChunkCount() const { return chunks_.size(); }
    // Unpacks chunk number (< ChunkCount()) when it is packed.
    ChunkSpan LinesOfChunk(std::size_t number) const;
    std::size_t ChunkOfLine(std::size_t i) const;
    std::size_t LineStart(std::size_t i) const;

    // Every line as plain text, each ended with CR LF; nothing for an empty log.
    void WriteText(std::ostream& out) const;
    // Lines first..last (inclusive, both < Count()) joined with lineEnd, none after the last.
    std::string JoinText(std::size_t first, std::size_t last, std::string_view lineEnd) const;

    // Character cells of text with tabs expanded to the next multiple of TabWidth.
    static std::size_t Width(std::string_view text);

private:
    struct Chunk {
        std::unique_ptr<char[]> data; //!< Plain bytes; none once packed.
        std::unique_ptr<char[]> packed;
        std::size_t size = 0;
        std::size_t used = 0;
        std::size_t packedSize = 0;
    };
    // The plain bytes of the chunk last unpacked.
    struct Unpacked {
        std::size_t chunk = SIZE_MAX;
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
    };

    void AppendLine(std::string_view line, uint32_t slot, uint32_t colour);
    char* Reserve(std::size_t length, std::size_t& chunk, std::size_t& offset);
    uint32_t SlotOf(uint32_t colour);
    std::size_t LineEnd(std::size_t i, std::size_t chunk) const;
    void Pack(Chunk& chunk);
    const char* Bytes(std::size_t chunk) const;

    std::vector<Chunk> chunks_;
    std::vector<uint64_t> index_;   //!< Per line: colour slot, chunk number, offset in the chunk.
    std::vector<uint32_t> palette_; //!< The colour of each slot below the rare slot.
    std::unordered_map<std::size_t, uint32_t> rareColours_; //!< Line -> colour, once the slots are full.
    LineWidths longestWidths_; //!< The widest line in each mode, each on its own.
    std::size_t longestHexWidth_ = 0;
    std::size_t clears_ = 0;
    mutable Unpacked unpacked_;
};
