// Received lines of any bytes and any length up to the framer's limit through the series'
// patterns: the first byte picks a pattern (or takes one from the input up to its first LF), the
// rest is cut into lines at LF. Whatever arrives, each line returns; a line adds a point exactly
// when Take says so, every point is finite, and "^FWD ([0-9]+)" takes what a plain reading of the
// line finds.
#include "connection/LineFramer.h"
#include "plot/ReplySeries.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {
constexpr const char* FwdDigits = "^FWD ([0-9]+)";
const std::vector<std::string> Patterns{FwdDigits,
                                        "^FWD ([-+0-9.eE]+)",
                                        "([-+0-9.]+) dBm$",
                                        "TEMP=([0-9.]+)\260C",
                                        "^(?:[0-9]+,)*([0-9]+)+$",
                                        "(?i)v=\\s*(\\S*)"};

// What "^FWD ([0-9]+)" finds, read without a pattern: the run of digits after "FWD ".
bool FwdByHand(std::string_view line, double& value) {
    if (line.substr(0, 4) != "FWD ") return false;
    size_t end = 4;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9')
        ++end;
    return end > 4 && ParseSeriesNumber(line.substr(4, end - 4), value);
}

void TakeLine(ReplySeries& series, const std::string& pattern, const std::string& line) {
    const size_t before = series.Points(0).Size();
    const bool took = series.Take(line, "12:00:00.000", 0);
    const size_t after = series.Points(0).Size();
    if (after != before + (took ? 1 : 0)) std::abort();
    if (took && !std::isfinite(series.Points(0).At(before).value)) std::abort();
    if (pattern != FwdDigits) return;
    double value = 0;
    if (FwdByHand(line, value) != took) std::abort();
    if (took && series.Points(0).At(before).value != value) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string pattern;
    if (data[0] < Patterns.size()) {
        pattern = Patterns[data[0]];
    } else {
        const size_t end = rest.find('\n');
        pattern = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    ReplySeries series;
    std::string reason;
    const bool usable = PatternProblem(pattern).empty();
    if (series.SetDefinitions({{"S", pattern}}, reason) != usable) std::abort();
    if (!usable) return 0;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string line(rest.substr(0, std::min(end, LineFramer::MaxLine)));
        TakeLine(series, pattern, line);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return 0;
}
