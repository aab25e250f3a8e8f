#include "MeterModel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace ampsim {
namespace {

// The sensor's calibration is flat up to here; above, the reading drops kDropDbPerGhz per GHz.
constexpr double kFlatUpToHz = 1e9;
constexpr double kDropDbPerGhz = 0.1;

constexpr std::array<std::string_view, 8> kPlainCommands = {"*IDN?", "MEAS:POW?", "POW?", "UNIT?",
                                                            "FREQ?", "OFFS?",     "*RST", "ZERO"};

bool IsPlain(std::string_view keyword) {
    return std::find(kPlainCommands.begin(), kPlainCommands.end(), keyword) != kPlainCommands.end();
}

bool IsSetting(std::string_view keyword) {
    return keyword == "UNIT" || keyword == "FREQ" || keyword == "OFFS";
}

Reply BadArgument() {
    return ReplyLine(std::string(kErrorBadArgument));
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A finite decimal number, the whole text ("2.4e9", "-20", "+0.5").
std::optional<double> ParseNumber(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1); // from_chars takes only '-'
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Three significant digits without an exponent, so that a reply reads like the meter's display:
// 31.4, 316, 0.00314.
std::string Watts(double dbm) {
    const double watts = std::pow(10.0, (dbm - 30.0) / 10.0);
    const int decimals = std::clamp(2 - static_cast<int>(std::floor(std::log10(watts))), 0, 15);
    return Fixed(watts, decimals);
}

} // namespace

Reply MeterModel::Handle(std::string_view line) {
    if (std::optional<Reply> instead = gate_.Admit(line)) return *instead;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return Dispatch(line, {});
    return Dispatch(line.substr(0, blank), TrimBlanks(line.substr(blank + 1)));
}

Reply MeterModel::Dispatch(std::string_view keyword, std::string_view argument) {
    if (IsSetting(keyword)) return Set(keyword, argument);
    if (!IsPlain(keyword)) return ReplyLine(std::string(kErrorUnknownCommand));
    if (!argument.empty()) return BadArgument();
    return Plain(keyword);
}

Reply MeterModel::Plain(std::string_view keyword) {
    if (keyword == "*IDN?") return ReplyLine("Veltrask,PowerSim," + options_.serial + ",1.0");
    if (keyword == "MEAS:POW?" || keyword == "POW?") return ReplyLine(Reading());
    if (keyword == "UNIT?") return ReplyLine(unit_ == Unit::Dbm ? "DBM" : "W");
    if (keyword == "OFFS?") return ReplyLine(Fixed(offsetDb_, 2));
    if (keyword == "ZERO") return ReplyLine("ZERO OK");
    if (keyword == "FREQ?") {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", frequencyHz_);
        return ReplyLine(text);
    }
    Reset(); // *RST
    return {};
}

Reply MeterModel::Set(std::string_view keyword, std::string_view argument) {
    if (keyword == "UNIT") {
        if (argument != "DBM" && argument != "W") return BadArgument();
        unit_ = argument == "W" ? Unit::Watt : Unit::Dbm;
        return {};
    }
    const std::optional<double> value = ParseNumber(argument);
    if (!value) return BadArgument();
    if (keyword == "FREQ") {
        if (*value < kMinFrequencyHz || *value > kMaxFrequencyHz) return BadArgument();
        frequencyHz_ = *value;
        return {};
    }
    if (std::abs(*value) > kMaxOffsetDb) return BadArgument();
    offsetDb_ = *value;
    return {};
}

void MeterModel::Reset() {
    unit_ = Unit::Dbm;
    frequencyHz_ = kDefaultFrequencyHz;
    offsetDb_ = 0;
}

std::string MeterModel::Reading() {
    const double dbm = PowerDbm();
    return unit_ == Unit::Watt ? Watts(dbm) : Fixed(dbm, 2);
}

// The amplifier's forward power as its FWD? reports it: a slow wander of 0.8 dB around 45 dBm
// and a detector jitter of 0.05 dB.
double MeterModel::PowerDbm() {
    const double n = static_cast<double>(readings_++);
    const double forward = 45.0 + 0.8 * std::sin(n / 60.0) + 0.05 * noise_.Next();
    const double aboveGhz = std::max(0.0, (frequencyHz_ - kFlatUpToHz) / 1e9);
    return forward - kDropDbPerGhz * aboveGhz + offsetDb_;
}

} // namespace ampsim
