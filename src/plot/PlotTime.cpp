#include "plot/PlotTime.h"

#include "platform/System.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {
bool ParseDigits(const std::string& text, size_t at, size_t count, int max, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}
} // namespace

int64_t LocalNowMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The zone and daylight saving in force at that moment.
    return (static_cast<int64_t>(now.tv_sec) + UtcOffsetSeconds(now.tv_sec)) * 1000 + now.tv_nsec / 1000000;
}

std::optional<int64_t> StampTime(const std::string& stamp, int64_t nowMs) {
    if (stamp.size() != 12 || stamp[2] != ':' || stamp[5] != ':' || stamp[8] != '.') return std::nullopt;
    int h = 0, m = 0, s = 0, ms = 0;
    if (!ParseDigits(stamp, 0, 2, 23, h) || !ParseDigits(stamp, 3, 2, 59, m) ||
        !ParseDigits(stamp, 6, 2, 59, s) || !ParseDigits(stamp, 9, 3, 999, ms))
        return std::nullopt;
    const int64_t ofDay = ((h * 60 + m) * 60 + s) * int64_t{1000} + ms;
    int64_t time = DayOf(nowMs) * MsPerDay + ofDay;
    // A stamp is taken before it is handled, so one well ahead of now belongs to yesterday.
    if (time > nowMs + MsPerDay / 2) time -= MsPerDay;
    return time;
}

std::string FormatStampTime(int64_t timeMs) {
    int64_t ofDay = timeMs % MsPerDay;
    if (ofDay < 0) ofDay += MsPerDay;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ofDay / 3600000),
                  static_cast<int>(ofDay / 60000 % 60), static_cast<int>(ofDay / 1000 % 60),
                  static_cast<int>(ofDay % 1000));
    return text;
}

int64_t DayOf(int64_t timeMs) {
    return timeMs >= 0 ? timeMs / MsPerDay : (timeMs - MsPerDay + 1) / MsPerDay;
}

std::string FormatDate(int64_t timeMs) {
    using namespace std::chrono;
    const year_month_day date{sys_days{days{DayOf(timeMs)}}};
    char text[24];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string FormatStampDateTime(int64_t timeMs) {
    return FormatDate(timeMs) + " " + FormatStampTime(timeMs);
}
