#include "console/LogSearch.h"

#include "log/LogColours.h"
#include "plot/ReplySeries.h"

#include <re2/re2.h>

#include <algorithm>
#include <numeric>

namespace {
// Latin-1 letters: A-Z and the accented capitals 0xC0-0xDE (not 0xD7, the multiplication sign)
// lie 0x20 below their small letters.
std::array<unsigned char, 256> FoldTable(bool matchCase) {
    std::array<unsigned char, 256> fold{};
    for (std::size_t c = 0; c < fold.size(); ++c) {
        const bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
        fold[c] = static_cast<unsigned char>(capital && !matchCase ? c + 0x20 : c);
    }
    return fold;
}

// Over lines joined with LF, a pattern in multi-line mode matches wherever it matches within one
// line: ^ and $ hold at the line ends and \b sees the LF as a non-word byte. It may also match
// across lines (a class that takes LF), which the line's own match then rules out. Only \A, \z
// and switching multi-line off refer to the ends of the whole text; such a pattern is matched line
// by line.
std::unique_ptr<re2::RE2> JoinedPattern(const std::string& pattern) {
    for (const char* wholeText : {"\\A", "\\z", "-m"})
        if (pattern.find(wholeText) != std::string::npos) return nullptr;
    std::string problem;
    return CompileReplyPattern("(?m)" + pattern, problem);
}

unsigned char Byte(char c) {
    return static_cast<unsigned char>(c);
}
} // namespace

LogSearch::LogSearch(const LogLines& lines) : lines_(lines), clears_(lines.Clears()) {}

LogSearch::~LogSearch() = default;

std::string LogSearch::SetQuery(const FindQuery& query) {
    query_ = query;
    ready_ = false;
    pattern_.reset();
    joinedPattern_.reset();
    chunkCounts_.clear();
    left_ = 0;
    if (query.text.empty()) return {};
    if (query.pattern) {
        std::string problem;
        // RE2's own flag keeps the options CompileReplyPattern chooses (Latin-1, no logging).
        pattern_ = CompileReplyPattern(query.matchCase ? query.text : "(?i)" + query.text, problem);
        if (!pattern_) return problem;
        joinedPattern_ = JoinedPattern(pattern_->pattern());
    } else {
        fold_ = FoldTable(query.matchCase);
        needle_.clear();
        for (char c : query.text)
            needle_.push_back(static_cast<char>(fold_[Byte(c)]));
        const std::size_t n = needle_.size();
        skip_.fill(n);
        for (std::size_t i = 0; i + 1 < n; ++i)
            skip_[Byte(needle_[i])] = n - 1 - i;
    }
    ready_ = true;
    return {};
}

bool LogSearch::Ready() const {
    return ready_;
}

bool LogSearch::KindWanted(std::size_t i) const {
    switch (query_.lines) {
    case FindLines::Tx:
        return lines_.Colour(i) == LogColours::Tx;
    case FindLines::Rx:
        return lines_.Colour(i) == LogColours::Rx;
    case FindLines::All:
        break;
    }
    return true;
}

// Any case: Horspool over bytes that are folded as they are read; the needle's last byte decides
// each shift, which for log text skips most of the needle's length.
std::size_t LogSearch::FindText(const char* bytes, std::size_t from, std::size_t to) const {
    if (query_.matchCase) {
        // The library's search runs memchr over the text for the first byte: faster than any
        // byte-by-byte loop where that byte is rare.
        const std::size_t at = std::string_view(bytes + from, to - from).find(needle_);
        return at == std::string_view::npos ? at : from + at;
    }
    const std::size_t n = needle_.size();
    const std::size_t last = n - 1;
    const auto lastByte = Byte(needle_[last]);
    for (std::size_t at = from; at + n <= to;) {
        const unsigned char tail = fold_[Byte(bytes[at + last])];
        if (tail == lastByte) {
            std::size_t k = 0;
            while (k < last && fold_[Byte(bytes[at + k])] == Byte(needle_[k]))
                ++k;
            if (k == last) return at;
        }
        at += skip_[tail];
    }
    return std::string_view::npos;
}

bool LogSearch::LineMatches(std::string_view line) const {
    if (pattern_) return RE2::PartialMatch(line, *pattern_);
    return FindText(line.data(), 0, line.size()) != std::string_view::npos;
}

bool LogSearch::Matches(std::size_t i) const {
    return ready_ && KindWanted(i) && LineMatches(lines_.Text(i));
}

template <class Found>
void LogSearch::ScanChunk(const LogLines::ChunkSpan& span, Range range, Found&& found) const {
    if (!pattern_) {
        ScanText(span, range, found);
        return;
    }
    if (joinedPattern_) {
        ScanPattern(span, range, found);
        return;
    }
    for (std::size_t i = range.first; i < range.end; ++i) {
        if (!KindWanted(i)) continue;
        const std::size_t start = lines_.LineStart(i);
        const std::size_t end = i + 1 < span.end ? lines_.LineStart(i + 1) : span.size;
        if (RE2::PartialMatch(std::string_view(span.bytes + start, end - start), *pattern_) && !found(i))
            return;
    }
}

// RE2 finds the leftmost match in the joined lines, so no line before the one it starts in can
// match; that line is matched on its own and the search goes on after it. A literal start of the
// pattern is then sought over the whole chunk at once instead of once per line.
template <class Found>
void LogSearch::ScanPattern(const LogLines::ChunkSpan& span, Range range, Found&& found) const {
    const std::size_t base = lines_.LineStart(range.first);
    auto startOf = [&](std::size_t i) { return i < span.end ? lines_.LineStart(i) : span.size; };
    // Line i begins at its offset in the chunk, moved on by one LF per line before it.
    auto joinedStart = [&](std::size_t i) { return startOf(i) - base + (i - range.first); };
    joined_.clear();
    for (std::size_t i = range.first; i < range.end; ++i) {
        joined_.append(span.bytes + startOf(i), startOf(i + 1) - startOf(i));
        joined_.push_back('\n');
    }
    const std::string_view text(joined_);
    std::size_t line = range.first;
    while (line < range.end) {
        re2::StringPiece match;
        if (!joinedPattern_->Match(text, joinedStart(line), text.size(), RE2::UNANCHORED, &match, 1)) return;
        const auto hit = static_cast<std::size_t>(match.data() - text.data());
        std::size_t low = line;
        std::size_t high = range.end;
        while (high - low > 1) {
            const std::size_t middle = low + (high - low) / 2;
            (joinedStart(middle) <= hit ? low : high) = middle;
        }
        line = low;
        const std::string_view own =
            text.substr(joinedStart(line), joinedStart(line + 1) - 1 - joinedStart(line));
        if (KindWanted(line) && RE2::PartialMatch(own, *pattern_) && !found(line)) return;
        ++line;
    }
}

// The text is sought over the range's bytes at once; a hit that runs into the next line is no
// match, and since every later hit in that line would too, the search goes on at the next line.
template <class Found>
void LogSearch::ScanText(const LogLines::ChunkSpan& span, Range range, Found&& found) const {
    auto startOf = [&](std::size_t i) { return i < span.end ? lines_.LineStart(i) : span.size; };
    std::size_t from = startOf(range.first);
    const std::size_t to = startOf(range.end);
    std::size_t line = range.first;
    while (line < range.end) {
        const std::size_t hit = FindText(span.bytes, from, to);
        if (hit == std::string_view::npos) return;
        // The last line that starts at or before the hit (empty lines share a start).
        std::size_t low = line;
        std::size_t high = range.end;
        while (high - low > 1) {
            const std::size_t middle = low + (high - low) / 2;
            (startOf(middle) <= hit ? low : high) = middle;
        }
        line = low;
        from = startOf(line + 1);
        if (hit + needle_.size() <= from && KindWanted(line) && !found(line)) return;
        ++line;
    }
}

void LogSearch::CheckCleared() {
    if (lines_.Clears() == clears_) return;
    clears_ = lines_.Clears();
    chunkCounts_.clear();
    left_ = 0;
}

void LogSearch::BeginFind(std::ptrdiff_t from, bool forward) {
    CheckCleared();
    const std::size_t count = lines_.Count();
    const bool inLog = from >= 0 && static_cast<std::size_t>(from) < count;
    forward_ = forward;
    left_ = count;
    if (forward) {
        at_ = inLog ? static_cast<std::size_t>(from) + 1 : 0;
    } else {
        at_ = inLog ? static_cast<std::size_t>(from) : count;
    }
}

LogSearch::Progress LogSearch::StepFind(std::size_t chunks) {
    CheckCleared();
    if (!ready_) return Progress::NotFound;
    for (std::size_t step = 0; step < chunks; ++step) {
        const std::size_t count = lines_.Count();
        if (left_ == 0 || count == 0) return Progress::NotFound;
        std::optional<std::size_t> hit;
        if (forward_) {
            if (at_ >= count) at_ = 0;
            const LogLines::ChunkSpan span = lines_.LinesOfChunk(lines_.ChunkOfLine(at_));
            const std::size_t end = std::min(span.end, at_ + left_);
            ScanChunk(span, {at_, end}, [&](std::size_t line) {
                hit = line;
                return false;
            });
            left_ -= end - at_;
            at_ = end;
        } else {
            if (at_ == 0 || at_ > count) at_ = count;
            const LogLines::ChunkSpan span = lines_.LinesOfChunk(lines_.ChunkOfLine(at_ - 1));
            const std::size_t first = std::max(span.first, at_ - std::min(left_, at_));
            ScanChunk(span, {first, at_}, [&](std::size_t line) {
                hit = line;
                return true;
            });
            left_ -= at_ - first;
            at_ = first;
        }
        if (hit) {
            found_ = *hit;
            left_ = 0;
            return Progress::Found;
        }
    }
    return Progress::Pending;
}

std::size_t LogSearch::CountIn(const LogLines::ChunkSpan& span, Range range) const {
    std::size_t matches = 0;
    ScanChunk(span, range, [&](std::size_t) {
        ++matches;
        return true;
    });
    return matches;
}

bool LogSearch::StepCount(std::size_t chunks) {
    CheckCleared();
    // The newest chunk still takes lines, so only the ones before it keep their count.
    const std::size_t full = lines_.ChunkCount() > 0 ? lines_.ChunkCount() - 1 : 0;
    if (!ready_) return true;
    for (std::size_t step = 0; step < chunks && chunkCounts_.size() < full; ++step) {
        const LogLines::ChunkSpan span = lines_.LinesOfChunk(chunkCounts_.size());
        chunkCounts_.push_back(CountIn(span, {span.first, span.end}));
    }
    return chunkCounts_.size() >= full;
}

std::optional<std::size_t> LogSearch::Total() const {
    if (!ready_) return 0;
    const std::size_t chunks = lines_.ChunkCount();
    if (lines_.Clears() != clears_) return std::nullopt;
    if (chunks == 0) return 0;
    if (chunkCounts_.size() < chunks - 1) return std::nullopt;
    const LogLines::ChunkSpan newest = lines_.LinesOfChunk(chunks - 1);
    return std::accumulate(chunkCounts_.begin(),
                           chunkCounts_.begin() + static_cast<std::ptrdiff_t>(chunks - 1), std::size_t{0}) +
           CountIn(newest, {newest.first, newest.end});
}

std::optional<std::size_t> LogSearch::Number(std::size_t i) const {
    // A line found before a Clear may be gone.
    if (!ready_ || lines_.Clears() != clears_ || i >= lines_.Count()) return std::nullopt;
    const std::size_t chunk = lines_.ChunkOfLine(i);
    if (chunkCounts_.size() < chunk) return std::nullopt;
    const LogLines::ChunkSpan span = lines_.LinesOfChunk(chunk);
    return std::accumulate(chunkCounts_.begin(), chunkCounts_.begin() + static_cast<std::ptrdiff_t>(chunk),
                           std::size_t{0}) +
           CountIn(span, {span.first, i + 1});
}
