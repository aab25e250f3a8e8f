#pragma once
// Finding lines in the console's log: the next or previous line that holds a text or matches a
// pattern, from a given line with wrap-around, and the number of such lines.
//
// A whole pass over ten million lines takes a good part of a second, too long to hold a window
// still, so both the find and the count are done in steps of a few chunks of the store each, and
// the caller (the window's event loop) calls the next step when it has time. Lines appended
// meanwhile are counted too: a chunk's count is kept once the chunk is full, and the newest chunk
// is counted again when the total is asked for. Clearing the store starts the count over.
//
// The store is read chunk by chunk in place (LogLines::LinesOfChunk): a text is sought over a chunk's
// bytes at once and a hit is mapped to its line, so no line is copied. Lives in the console room
// because the patterns are the plot's (RE2, Latin-1, the same reasons for a refused pattern).
// Not thread-safe: one thread owns the search and its store.
#include "log/LogLines.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

// Which lines are searched; a line's kind is its colour.
enum class FindLines { All, Tx, Rx };

struct FindQuery {
    std::string text; //!< Latin-1 bytes; a pattern in RE2 syntax when pattern is set.
    bool pattern = false;
    bool matchCase = false;
    FindLines lines = FindLines::All;
};

class LogSearch {
public:
    explicit LogSearch(const LogLines& lines);
    ~LogSearch();
    LogSearch(const LogSearch&) = delete;
    LogSearch& operator=(const LogSearch&) = delete;

    // What to look for from now on; the count starts over. Returns why it cannot be searched ("" when
    // it can): a pattern RE2 refuses, with its reason. An empty text searches nothing.
    std::string SetQuery(const FindQuery& query);
    // True when a query is set that can find something.
    bool Ready() const;
    // Whether line i (< Count() of the store) is found by the query; false without one.
    bool Matches(std::size_t i) const;

    // --- Find: Begin, then Step until it says Found or NotFound. ---
    enum class Progress { Pending, Found, NotFound };
    // Looks at every line once, starting after line from (before it when backward) and wrapping at
    // the end of the log; from itself comes last. from < 0 (or past the end) starts at the first
    // line (the last when backward).
    void BeginFind(std::ptrdiff_t from, bool forward);
    // Searches up to chunks chunks of the store. After Found, FoundLine says where.
    Progress StepFind(std::size_t chunks);
    std::size_t FoundLine() const { return found_; }

    // --- Count: StepCount until it says true; Total and Number are then known. ---
    // Counts up to chunks more chunks; true when every full chunk is counted. Lines appended later
    // make it false again.
    bool StepCount(std::size_t chunks);
    // The number of matching lines, once every full chunk is counted.
    std::optional<std::size_t> Total() const;
    // The place (from 1) of matching line i among all matching lines, once the chunks before its
    // chunk are counted.
    std::optional<std::size_t> Number(std::size_t i) const;

private:
    struct Range {
        std::size_t first;
        std::size_t end;
    };
    bool KindWanted(std::size_t i) const;
    // Calls found(line) for each matching line of range (within span), in order, while it returns
    // true.
    template <class Found> void ScanChunk(const LogLines::ChunkSpan& span, Range range, Found&& found) const;
    template <class Found>
    void ScanPattern(const LogLines::ChunkSpan& span, Range range, Found&& found) const;
    template <class Found> void ScanText(const LogLines::ChunkSpan& span, Range range, Found&& found) const;
    // Where the folded needle first lies in bytes[from..to), or npos.
    std::size_t FindText(const char* bytes, std::size_t from, std::size_t to) const;
    bool LineMatches(std::string_view line) const;
    std::size_t CountIn(const LogLines::ChunkSpan& span, Range range) const;
    void CheckCleared();

    const LogLines& lines_;
    std::size_t clears_;
    FindQuery query_;
    bool ready_ = false;
    std::unique_ptr<re2::RE2> pattern_;
    // The pattern in multi-line mode, run over a chunk's lines joined with LF to find the lines
    // worth matching one by one; none when the pattern may refer to the ends of the whole text.
    std::unique_ptr<re2::RE2> joinedPattern_;
    mutable std::string joined_;            //!< The lines of the chunk being searched, each ended with LF.
    std::string needle_;                    //!< The text, folded when case does not matter.
    std::array<unsigned char, 256> fold_{}; //!< Byte -> the byte compared (its lower case or itself).
    std::array<std::size_t, 256> skip_{};   //!< Horspool shifts over folded bytes.

    // The find under way: lines left to look at, and the next line (forward) or the line after
    // the next one (backward).
    bool forward_ = true;
    std::size_t at_ = 0;
    std::size_t left_ = 0;
    std::size_t found_ = 0;

    std::vector<std::size_t> chunkCounts_; //!< Matching lines of each full chunk counted so far.
};
