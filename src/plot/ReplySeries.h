#pragma once
// Series taken from the instrument's replies: each a name and a pattern in RE2's syntax with one
// capture group, searched for in every received line; a match whose group reads as a number adds
// the line's arrival time and that number to the series. With no series defined nothing is run.
// The points stay until the series' definition changes or they are cleared; the CSV stream, when
// started, gets one row per line that matched.
//
// Threads: one thread at a time, the session's UI thread (the plot window reads on it too).
#include "plot/SeriesCsv.h"
#include "plot/SeriesStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

// A pattern that users type, compiled as the series' are: RE2 syntax, matched byte for byte
// (Latin-1). None when it does not compile: problem says why, in the user's terms.
std::unique_ptr<re2::RE2> CompileReplyPattern(const std::string& pattern, std::string& problem);

struct SeriesDefinition {
    std::string name;
    std::string pattern;
    bool operator==(const SeriesDefinition&) const = default;
};

inline constexpr size_t MaxSeries = 8;

// Why a pattern cannot take numbers from lines ("" when it can): it does not compile (RE2 has no
// back-references nor look-around, and the reason names them), or it has not exactly one capture
// group.
std::string PatternProblem(const std::string& pattern);
// Why a set of series cannot be used ("" when it can): more than MaxSeries, a missing or repeated
// name, or a pattern's problem, each naming the series.
std::string DefinitionsProblem(const std::vector<SeriesDefinition>& definitions);
// The number a captured text holds: blanks around it and a leading '+' allowed, finite; else none.
bool ParseSeriesNumber(std::string_view text, double& value);

class ReplySeries {
public:
    ReplySeries();
    ~ReplySeries();
    ReplySeries(const ReplySeries&) = delete;
    ReplySeries& operator=(const ReplySeries&) = delete;

    // Takes a new set of series; refused (false, reason says why, nothing changes) when
    // DefinitionsProblem finds one. A series whose name and pattern stay keeps its points.
    bool SetDefinitions(const std::vector<SeriesDefinition>& definitions, std::string& reason);
    const std::vector<SeriesDefinition>& Definitions() const { return definitions_; }
    size_t Count() const { return definitions_.size(); }
    const SeriesStore& Points(size_t series) const;
    void ClearPoints();

    // A received line as it was logged (trimmed) with its arrival stamp "hh:nn:ss.zzz"; nowMs
    // (PlotTime.h) places the stamp on its day. True when a series took a number from it.
    bool Take(const std::string& line, const std::string& stamp, int64_t nowMs);

    // Grows with every point added and every change of the definitions, so a plot knows when to
    // draw again without being told per point.
    uint64_t Version() const { return version_; }
    // Grows only when the definitions change.
    uint64_t DefinitionsVersion() const { return definitionsVersion_; }

    // From now on writes a row per matching line to path, each flushed as it is written: appended
    // to a file with the same columns, a new file gets the header first (CsvStream::Open). False
    // when the file cannot be used: reason says why.
    CsvStream::Opened StartCsv(const std::string& path, std::string& reason);
    void StopCsv();
    // Called once when a row cannot be written (the stream has stopped then), with the file and why.
    std::function<void(const std::string& path, const std::string& reason)> CsvFailed;
    // Called when the file had been deleted and was made again (the row went into the new one).
    std::function<void(const std::string& path)> CsvReopened;

private:
    struct Matcher;
    void WriteCsvRow(int64_t time);
    std::vector<SeriesDefinition> definitions_;
    std::vector<std::unique_ptr<Matcher>> matchers_;
    std::vector<std::optional<double>> row_; //!< This line's numbers, reused to spare allocations.
    std::unique_ptr<CsvStream> csv_;
    uint64_t version_ = 0;
    uint64_t definitionsVersion_ = 0;
};
