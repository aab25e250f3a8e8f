#pragma once
// Series taken from the instrument's replies: each a name and a pattern in RE2's syntax with one
// capture group, searched for in every received line; a match whose group reads as a number adds
// the line's arrival time and that number to the series. With no series defined nothing is run.
// The points stay until the series' definition changes or they are cleared.
//
// Rows: the numbers of one reply form one row, with one time (that of the reply's first number)
// and a column per series. A row is open from its first number until a line
//   - brings a number for a series the row holds already: that is the next reading, or
//   - arrives more than ReplyGapMs after the row's last number: the lines of one reply follow each
//     other within milliseconds, and a number that comes later is not drawn at an earlier time.
// A send marks no border: a script or PingPong sends the next command on the first line of a
// reply, while the rest of it is still coming in. Every number of a row is stored with the row's
// time, so the export (which merges by time) and the CSV stream write the same rows. The stream
// writes a row once it is closed: when the next row starts, at CloseRow and at StopCsv.
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
    std::string unit = {}; //!< "" for none; series of one unit share a value axis
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
// A series as the runner's --series gives it: "NAME=PATTERN" or "NAME[UNIT]=PATTERN", split at the
// first '=' (a pattern may hold more); a name ending in a bracketed part names the unit.
SeriesDefinition ParseSeriesOption(const std::string& text);

class ReplySeries {
public:
    ReplySeries();
    ~ReplySeries();
    ReplySeries(const ReplySeries&) = delete;
    ReplySeries& operator=(const ReplySeries&) = delete;

    // Takes a new set of series; refused (false, reason says why, nothing changes) when
    // DefinitionsProblem finds one. A series whose name and pattern stay keeps its points (its unit
    // may change). The open row is closed first.
    bool SetDefinitions(const std::vector<SeriesDefinition>& definitions, std::string& reason);
    const std::vector<SeriesDefinition>& Definitions() const { return definitions_; }
    size_t Count() const { return definitions_.size(); }
    const SeriesStore& Points(size_t series) const;
    void ClearPoints();

    // A received line as it was logged (trimmed) with its arrival stamp "hh:nn:ss.zzz"; nowMs
    // (PlotTime.h) places the stamp on its day. True when a series took a number from it.
    bool Take(const std::string& line, const std::string& stamp, int64_t nowMs);
    static constexpr int64_t ReplyGapMs = 250;
    // Closes the open row (it goes to the CSV stream); the next number starts a new one.
    void CloseRow();

    // Grows with every point added and every change of the definitions, so a plot knows when to
    // draw again without being told per point.
    uint64_t Version() const { return version_; }
    // Grows only when the definitions change.
    uint64_t DefinitionsVersion() const { return definitionsVersion_; }

    // From now on writes a row per reply to path, each flushed as it is written: appended
    // to a file with the same columns, a new file gets the header first (CsvStream::Open). False
    // when the file cannot be used: reason says why.
    CsvStream::Opened StartCsv(const std::string& path, std::string& reason);
    // Writes the open row, then stops.
    void StopCsv();
    // Called once when a row cannot be written (the stream has stopped then), with the file and why.
    std::function<void(const std::string& path, const std::string& reason)> CsvFailed;
    // Called when the file had been deleted and was made again (the row went into the new one).
    std::function<void(const std::string& path)> CsvReopened;

private:
    struct Matcher;
    void WriteCsvRow();
    std::vector<SeriesDefinition> definitions_;
    std::vector<std::unique_ptr<Matcher>> matchers_;
    std::vector<std::optional<double>> line_; //!< This line's numbers, reused to spare allocations.
    std::vector<std::optional<double>> row_;  //!< The open row's numbers (see Rows above).
    std::optional<int64_t> rowTime_;          //!< The open row's time; none when no row is open.
    int64_t rowLastMs_ = 0;                   //!< When the open row's last number came.
    std::unique_ptr<CsvStream> csv_;
    uint64_t version_ = 0;
    uint64_t definitionsVersion_ = 0;
};
