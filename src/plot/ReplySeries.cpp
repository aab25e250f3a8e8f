#include "plot/ReplySeries.h"

#include "plot/PlotTime.h"

#include <charconv>
#include <cmath>
#include <regex>
#include <set>

namespace {
// libstdc++'s what() texts are terse internals ("Parenthesis is not closed."); these read alike
// whichever library builds us.
std::string RegexErrorText(std::regex_constants::error_type code) {
    namespace rc = std::regex_constants;
    switch (code) {
    case rc::error_paren:
        return "a parenthesis is not closed or not opened";
    case rc::error_brack:
        return "a [ ] bracket is not closed";
    case rc::error_brace:
        return "a { } brace is not closed";
    case rc::error_badbrace:
        return "a { } repeat count is not valid";
    case rc::error_range:
        return "a character range is not valid";
    case rc::error_escape:
        return "an escape is not valid or ends the pattern";
    case rc::error_badrepeat:
        return "a repeat (*, +, ? or { }) follows nothing it could repeat";
    case rc::error_ctype:
        return "a character class name is not valid";
    case rc::error_backref:
        return "a back reference is not valid";
    case rc::error_collate:
        return "a collating element name is not valid";
    case rc::error_complexity:
    case rc::error_stack:
        return "the pattern is too complex";
    default:
        return "the pattern is not valid";
    }
}

std::regex Compile(const std::string& pattern) {
    return std::regex(pattern, std::regex::ECMAScript);
}
} // namespace

std::string PatternProblem(const std::string& pattern) {
    if (pattern.empty()) return "the pattern is empty";
    try {
        const std::regex compiled = Compile(pattern);
        if (compiled.mark_count() != 1)
            return "the pattern needs exactly one capture group ( ) around the number; it has " +
                   std::to_string(compiled.mark_count());
    } catch (const std::regex_error& e) {
        return RegexErrorText(e.code());
    }
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

bool ParseSeriesNumber(const std::string& text, double& value) {
    size_t begin = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (begin == std::string::npos) return false;
    // from_chars takes no '+', which instruments like to send.
    if (text[begin] == '+' && begin < last && text[begin + 1] != '-') ++begin;
    const char* end = text.data() + last + 1;
    auto [at, error] = std::from_chars(text.data() + begin, end, value);
    return error == std::errc() && at == end && std::isfinite(value);
}

struct ReplySeries::Matcher {
    explicit Matcher(const std::string& pattern) : regex(Compile(pattern)) {}
    std::regex regex;
    std::smatch match; //!< Kept between lines: its storage is reused.
    SeriesStore points;
};

ReplySeries::ReplySeries() = default;
ReplySeries::~ReplySeries() = default;

bool ReplySeries::SetDefinitions(const std::vector<SeriesDefinition>& definitions, std::string& reason) {
    reason = DefinitionsProblem(definitions);
    if (!reason.empty()) return false;
    std::vector<std::unique_ptr<Matcher>> matchers;
    for (const SeriesDefinition& d : definitions) {
        std::unique_ptr<Matcher> kept;
        for (size_t i = 0; i < definitions_.size() && !kept; ++i) {
            if (definitions_[i] == d && matchers_[i]) kept = std::move(matchers_[i]);
        }
        matchers.push_back(kept ? std::move(kept) : std::make_unique<Matcher>(d.pattern));
    }
    definitions_ = definitions;
    matchers_ = std::move(matchers);
    row_.assign(definitions_.size(), std::nullopt);
    // A CSV stream's columns are those it started with.
    StopCsv();
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
    ++version_;
}

bool ReplySeries::Take(const std::string& line, const std::string& stamp, int64_t nowMs) {
    if (matchers_.empty()) return false;
    bool any = false;
    for (size_t i = 0; i < matchers_.size(); ++i) {
        Matcher& m = *matchers_[i];
        double value = 0;
        row_[i].reset();
        if (!std::regex_search(line, m.match, m.regex) || !ParseSeriesNumber(m.match.str(1), value)) continue;
        row_[i] = value;
        any = true;
    }
    if (!any) return false;
    const int64_t time = StampTime(stamp, nowMs).value_or(nowMs);
    for (size_t i = 0; i < matchers_.size(); ++i) {
        if (row_[i]) matchers_[i]->points.Append({time, *row_[i]});
    }
    ++version_;
    if (csv_) WriteCsvRow(time);
    return true;
}

void ReplySeries::WriteCsvRow(int64_t time) {
    std::string reason;
    const CsvStream::Written written = csv_->Write(CsvRow(time, row_), reason);
    if (written == CsvStream::Written::Reopened && CsvReopened) CsvReopened(csv_->Path());
    if (written != CsvStream::Written::Failed) return;
    const std::string path = csv_->Path();
    csv_.reset();
    if (CsvFailed) CsvFailed(path, reason);
}

bool ReplySeries::StartCsv(const std::string& path, std::string& reason) {
    auto csv = std::make_unique<CsvStream>();
    std::vector<std::string> names;
    for (const SeriesDefinition& d : definitions_)
        names.push_back(d.name);
    if (!csv->Open(path, names, reason)) return false;
    csv_ = std::move(csv);
    return true;
}

void ReplySeries::StopCsv() {
    csv_.reset();
}
