#include "plot/PlotAxes.h"

#include "plot/PlotTime.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {
std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

constexpr int64_t Second = 1000, Minute = 60 * Second, Hour = 60 * Minute;
// Steps a reader of a clock counts in; each divides a day, so ticks fall on the same times every
// day.
constexpr std::array<int64_t, 27> TickSteps = {
    1,           2,        5,          10,         20,          50,          100,
    200,         500,      Second,     2 * Second, 5 * Second,  10 * Second, 15 * Second,
    30 * Second, Minute,   2 * Minute, 5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute,
    Hour,        2 * Hour, 3 * Hour,   6 * Hour,   12 * Hour,   MsPerDay};

// About what a label takes on screen, gap included: "hh:nn:ss" and "yyyy-mm-dd hh:nn".
constexpr int TimeLabelPx = 80, DateLabelPx = 130;

std::string TimeLabel(int64_t timeMs, int64_t step) {
    std::string stamp = FormatStampTime(timeMs);
    if (step < Second) return stamp;
    return stamp.substr(0, step < Minute ? 8 : 5);
}

// The smallest step whose ticks fit; a day (or a multiple of it) for longer spans.
int64_t TickStep(int64_t span, int maxTicks) {
    for (const int64_t step : TickSteps) {
        if (span / step < maxTicks) return step;
    }
    return (span / maxTicks / MsPerDay + 1) * MsPerDay;
}

// The first multiple of step at or after timeMs, also for times before 1970.
int64_t FirstTick(int64_t timeMs, int64_t step) {
    const int64_t below = timeMs >= 0 ? timeMs / step * step : (timeMs - step + 1) / step * step;
    return below == timeMs ? below : below + step;
}
} // namespace

std::vector<UnitAxis> GroupByUnit(const std::vector<SeriesDefinition>& definitions) {
    std::vector<UnitAxis> axes;
    for (size_t i = 0; i < definitions.size(); ++i) {
        const std::string unit = Trimmed(definitions[i].unit);
        auto axis = std::find_if(axes.begin(), axes.end(), [&](const UnitAxis& a) { return a.unit == unit; });
        if (axis == axes.end()) axis = axes.insert(axes.end(), UnitAxis{unit, {}});
        axis->series.push_back(i);
    }
    return axes;
}

std::string AxisTitle(const UnitAxis& axis) {
    return axis.unit.empty() ? "no unit" : axis.unit;
}

std::vector<TimeTick> TimeTicks(int64_t fromMs, int64_t toMs, int widthPx) {
    if (toMs <= fromMs || widthPx <= 0) return {};
    const bool crossesMidnight = DayOf(fromMs) != DayOf(toMs);
    const bool daysLong = toMs - fromMs >= MsPerDay;
    const int maxTicks = std::max(1, widthPx / (crossesMidnight ? DateLabelPx : TimeLabelPx));
    const int64_t step = TickStep(toMs - fromMs, maxTicks);
    std::vector<TimeTick> ticks;
    for (int64_t t = FirstTick(fromMs, step); t <= toMs; t += step) {
        const bool newDay = ticks.empty() || DayOf(ticks.back().timeMs) != DayOf(t);
        std::string label = daysLong || (crossesMidnight && newDay) ? FormatDate(t) + " " : std::string();
        label += TimeLabel(t, step);
        ticks.push_back({t, std::move(label)});
    }
    return ticks;
}

namespace {
// The point of store nearest timeMs; the earlier one when two are as near. Size() when empty.
size_t NearestPoint(const SeriesStore& store, int64_t timeMs) {
    if (store.Size() == 0) return 0;
    const size_t after = store.LowerBound(timeMs);
    if (after == 0) return 0;
    if (after == store.Size()) return after - 1;
    return timeMs - store.At(after - 1).timeMs <= store.At(after).timeMs - timeMs ? after - 1 : after;
}
} // namespace

std::string CursorReadOut(const ReplySeries& series, int64_t timeMs) {
    std::string text = FormatStampTime(timeMs);
    for (size_t i = 0; i < series.Count(); ++i) {
        const SeriesStore& points = series.Points(i);
        const size_t at = NearestPoint(points, timeMs);
        if (at == points.Size()) continue;
        const SeriesDefinition& d = series.Definitions()[i];
        char number[32];
        std::snprintf(number, sizeof number, "%.6g", points.At(at).value);
        text += "   " + d.name + " " + number;
        if (const std::string unit = Trimmed(d.unit); !unit.empty()) text += " " + unit;
    }
    return text;
}
