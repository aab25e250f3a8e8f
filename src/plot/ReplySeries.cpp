#include "plot/ReplySeries.h"

#include "plot/PlotTime.h"

#include <re2/re2.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

namespace {
// Instrument text is 8-bit bytes, one character each (Latin-1), and the windows hand patterns over
// as Latin-1 too. RE2's Latin-1 mode matches byte for byte, as the log shows them: in its default
// UTF-8 mode a byte above 127 that is not part of valid UTF-8 matches no '.' or class, and such a
// byte in a pattern (a degree sign typed in the dialog) refuses the whole pattern.
RE2::Options PatternOptions() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_log_errors(false); // a refused pattern is reported to the user, not to stderr
    return options;
}

bool IsBackReference(const std::string& escape) {
    return escape.size() == 2 && ((escape[1] >= '1' && escape[1] <= '9') || escape[1] == 'k');
}

// RE2 says "invalid perl operator: (?<" for a look-behind and a named group alike.
std::string GroupOpeningProblem(const std::string& opening, const std::string& pattern) {
    if (opening == "(?=" || opening == "(?!")
        return "the look-ahead " + opening + " is not supported in RE2 syntax";
    if (opening == "(?<") {
        const size_t at = pattern.find(opening) + opening.size();
        const char next = at < pattern.size() ? pattern[at] : '\0';
        if (next == '=' || next == '!')
            return "the look-behind " + opening + next + " is not supported in RE2 syntax";
        return "a named group is written (?P<name>...) in RE2 syntax";
    }
    return "the group " + opening + " is not supported in RE2 syntax";
}

// RE2's texts name its internals ("invalid perl operator"); these say what to change, and name
// what RE2 does not offer at all: it matches in one pass over the line, so nothing refers back to
// what a group took or looks around the place it matches.
std::string CompileProblem(const RE2& compiled, const std::string& pattern) {
    const std::string& part = compiled.error_arg();
    switch (compiled.error_code()) {
    case RE2::ErrorMissingParen:
    case RE2::ErrorUnexpectedParen:
        return "a parenthesis is not closed or not opened";
    case RE2::ErrorMissingBracket:
        return "a [ ] bracket is not closed";
    case RE2::ErrorBadEscape:
        if (IsBackReference(part)) return "the back-reference " + part + " is not supported in RE2 syntax";
        return "the escape " + part + " is not valid";
    case RE2::ErrorTrailingBackslash:
        return "the pattern ends in a \\ that escapes nothing";
    case RE2::ErrorBadCharClass:
    case RE2::ErrorBadCharRange:
        return "the character class or range " + part + " is not valid";
    case RE2::ErrorRepeatArgument:
        return "a repeat (*, +, ? or { }) follows nothing it could repeat";
    case RE2::ErrorRepeatSize:
        return "the repeat count " + part + " is not valid or over 1000 (nested counts multiply)";
    case RE2::ErrorRepeatOp:
        return "the repeat " + part + " is not valid";
    case RE2::ErrorBadPerlOp:
        return GroupOpeningProblem(part, pattern);
    case RE2::ErrorBadNamedCapture:
        return "the group name in " + part + " is not valid";
    case RE2::ErrorPatternTooLarge:
        return "the pattern is too large";
    default:
        return "the pattern is not valid";
    }
}
} // namespace

std::unique_ptr<re2::RE2> CompileReplyPattern(const std::string& pattern, std::string& problem) {
    auto compiled = std::make_unique<RE2>(pattern, PatternOptions());
    if (compiled->ok()) return compiled;
    problem = CompileProblem(*compiled, pattern);
    return nullptr;
}

std::string PatternProblem(const std::string& pattern) {
    if (pattern.empty()) return "the pattern is empty";
    const RE2 compiled(pattern, PatternOptions());
    if (!compiled.ok()) return CompileProblem(compiled, pattern);
    if (compiled.NumberOfCapturingGroups() != 1)
        return "the pattern needs exactly one capture group ( ) around the number; it has " +
               std::to_string(compiled.NumberOfCapturingGroups());
    return {};
}

std::string DefinitionsProblem(const std::vector<SeriesDefinition>& definitions) {
    if (definitions.size() > MaxSeries)
        return "at most " + std::to_string(MaxSeries) + " series can be plotted";
    std::set<std::string> names;
    for (size_t i = 0; i < definitions.size(); ++i) {
        const SeriesDefinition& d = definitions[i];
        if (d.name.empty()) return "series " + std::to_string(i + 1) + " has no name";
        if (!names.insert(d.name).second) return "two series are named \"" + d.name + "\"";
        if (std::string problem = PatternProblem(d.pattern); !problem.empty())
            return "series \"" + d.name + "\": " + problem;
    }
    return {};
}

bool ParseSeriesNumber(std::string_view text, double& value) {
    size_t begin = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (begin == std::string_view::npos) return false;
    // from_chars takes no '+', which instruments like to send.
    if (text[begin] == '+' && begin < last && text[begin + 1] != '-') ++begin;
    const char* end = text.data() + last + 1;
    auto [at, error] = std::from_chars(text.data() + begin, end, value);
    return error == std::errc() && at == end && std::isfinite(value);
}

SeriesDefinition ParseSeriesOption(const std::string& text) {
    const size_t equals = text.find('=');
    SeriesDefinition d{text.substr(0, equals), equals == std::string::npos ? "" : text.substr(equals + 1)};
    const size_t open = d.name.rfind('[');
    if (d.name.ends_with(']') && open != std::string::npos && open > 0) {
        d.unit = d.name.substr(open + 1, d.name.size() - open - 2);
        d.name.erase(open);
    }
    return d;
}

struct ReplySeries::Matcher {
    explicit Matcher(const std::string& pattern) : regex(pattern, PatternOptions()) {}
    // A search anywhere in the line; RE2 runs in time linear in the line and keeps no stack per
    // character, so a 32 767-byte line or a pattern with nested repeats costs no more than that.
    bool Find(const std::string& line, std::string_view& group) const {
        re2::StringPiece found[2];
        if (!regex.Match(line, 0, line.size(), RE2::UNANCHORED, found, 2)) return false;
        group = found[1];
        return true;
    }
    RE2 regex;
    SeriesStore points;
};

ReplySeries::ReplySeries() = default;
ReplySeries::~ReplySeries() = default;

bool ReplySeries::SetDefinitions(const std::vector<SeriesDefinition>& definitions, std::string& reason) {
    reason = DefinitionsProblem(definitions);
    if (!reason.empty()) return false;
    // A CSV stream's columns are those it started with.
    StopCsv();
    std::vector<std::unique_ptr<Matcher>> matchers;
    for (const SeriesDefinition& d : definitions) {
        std::unique_ptr<Matcher> kept;
        for (size_t i = 0; i < definitions_.size() && !kept; ++i) {
            const SeriesDefinition& old = definitions_[i];
            if (old.name == d.name && old.pattern == d.pattern && matchers_[i])
                kept = std::move(matchers_[i]);
        }
        matchers.push_back(kept ? std::move(kept) : std::make_unique<Matcher>(d.pattern));
    }
    definitions_ = definitions;
    matchers_ = std::move(matchers);
    line_.assign(definitions_.size(), std::nullopt);
    row_.assign(definitions_.size(), std::nullopt);
    rowTime_.reset();
    ++version_;
    ++definitionsVersion_;
    return true;
}

const SeriesStore& ReplySeries::Points(size_t series) const {
    return matchers_[series]->points;
}

void ReplySeries::ClearPoints() {
    for (auto& m : matchers_)
        m->points.Clear();
    // The open row's numbers were stored: a row that went on would put new ones at an old time.
    CloseRow();
    ++version_;
}

bool ReplySeries::Take(const std::string& line, const std::string& stamp, int64_t nowMs) {
    if (matchers_.empty()) return false;
    bool any = false, filled = false;
    for (size_t i = 0; i < matchers_.size(); ++i) {
        double value = 0;
        line_[i].reset();
        std::string_view group;
        if (!matchers_[i]->Find(line, group) || !ParseSeriesNumber(group, value)) continue;
        line_[i] = value;
        any = true;
        filled |= row_[i].has_value();
    }
    if (!any) return false;
    const int64_t time = StampTime(stamp, nowMs).value_or(nowMs);
    if (filled || time - rowLastMs_ > ReplyGapMs) CloseRow();
    if (!rowTime_) rowTime_ = time;
    rowLastMs_ = time;
    for (size_t i = 0; i < matchers_.size(); ++i) {
        if (!line_[i]) continue;
        row_[i] = line_[i];
        matchers_[i]->points.Append({*rowTime_, *line_[i]});
    }
    ++version_;
    return true;
}

void ReplySeries::CloseRow() {
    if (!rowTime_) return;
    if (csv_) WriteCsvRow();
    rowTime_.reset();
    std::fill(row_.begin(), row_.end(), std::nullopt);
}

void ReplySeries::WriteCsvRow() {
    std::string reason;
    const CsvStream::Written written = csv_->Write(CsvRow(*rowTime_, row_), reason);
    if (written == CsvStream::Written::Reopened && CsvReopened) CsvReopened(csv_->Path());
    if (written != CsvStream::Written::Failed) return;
    const std::string path = csv_->Path();
    csv_.reset();
    if (CsvFailed) CsvFailed(path, reason);
}

CsvStream::Opened ReplySeries::StartCsv(const std::string& path, std::string& reason) {
    auto csv = std::make_unique<CsvStream>();
    std::vector<std::string> names;
    for (const SeriesDefinition& d : definitions_)
        names.push_back(d.name);
    const CsvStream::Opened opened = csv->Open(path, names, reason);
    if (opened == CsvStream::Opened::Yes) csv_ = std::move(csv);
    return opened;
}

void ReplySeries::StopCsv() {
    CloseRow();
    csv_.reset();
}
