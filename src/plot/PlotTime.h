#pragma once
// Times of plotted points: local wall-clock milliseconds (the local day's number times 86 400 000
// plus the milliseconds of that day), so that a point prints back as the very "hh:nn:ss.zzz" stamp
// the log gave its line. Plain C++; any thread.
#include <cstdint>
#include <optional>
#include <string>

inline constexpr int64_t MsPerDay = 86400000;

// Local wall-clock milliseconds now.
int64_t LocalNowMs();
// The time of a line stamped "hh:nn:ss.zzz" that arrived shortly before nowMs: on nowMs's day,
// or on the day before when the stamp lies later in the day than now (a line framed just before
// midnight and handled just after it). None for a text that is no such stamp.
std::optional<int64_t> StampTime(const std::string& stamp, int64_t nowMs);
// "hh:nn:ss.zzz", as the log stamps lines.
std::string FormatStampTime(int64_t timeMs);
// The local day a time lies on (days since 1970-01-01, also before it).
int64_t DayOf(int64_t timeMs);
// "yyyy-mm-dd" of that day.
std::string FormatDate(int64_t timeMs);
// "yyyy-mm-dd hh:nn:ss.zzz": ISO 8601 local time with a blank between date and time, as the CSV
// files stamp their rows.
std::string FormatStampDateTime(int64_t timeMs);
