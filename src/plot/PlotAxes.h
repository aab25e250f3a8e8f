#pragma once
// What the plot's axes show, decided without a window: one value axis per unit with the series
// that share it, the ticks and labels of the time axis, and the cursor's read-out of every series.
// Plain C++; one thread at a time (the UI thread).
#include "plot/ReplySeries.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A value axis: the series of one unit ("" for those without), in the order they are defined.
struct UnitAxis {
    std::string unit;
    std::vector<size_t> series; //!< indices into the definitions
    bool operator==(const UnitAxis&) const = default;
};

// The axes in the order their units first appear; a unit is compared as written, blanks at its
// ends left out, so "dBm" and "dBm " share an axis and "dBm" and "dBW" do not.
std::vector<UnitAxis> GroupByUnit(const std::vector<SeriesDefinition>& definitions);
// An axis' title: its unit, or "no unit".
std::string AxisTitle(const UnitAxis& axis);

struct TimeTick {
    int64_t timeMs = 0; //!< local wall-clock milliseconds (PlotTime.h)
    std::string label;
    bool operator==(const TimeTick&) const = default;
};

// Ticks on round local times (1, 2 or 5 ms up to days, whole seconds, minutes and hours in the
// steps a clock reads: 15 s, 30 min, 6 h, ...) inside [fromMs, toMs], as many as fit widthPx with
// room for their labels. Labels read "hh:nn", "hh:nn:ss" or "hh:nn:ss.zzz", as fine as the step
// needs. When the span crosses midnight, the first tick and the first of each new day carry the
// date ("yyyy-mm-dd hh:nn"); when it is a day or longer, every tick does, so no two labels are the
// same.
std::vector<TimeTick> TimeTicks(int64_t fromMs, int64_t toMs, int widthPx);

// The read-out at the cursor's time: the time ("hh:nn:ss.zzz"), then each series that has points
// with the value of its point nearest that time, its name and unit ("FWD 44.97 dBm").
std::string CursorReadOut(const ReplySeries& series, int64_t timeMs);
