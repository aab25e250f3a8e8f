#include "connection/ModemLines.h"

#include <array>
#include <utility>

namespace {
std::array<std::pair<const char*, bool>, 4> Inputs(const ModemLines& lines) {
    return {{{"CTS", lines.cts}, {"DSR", lines.dsr}, {"DCD", lines.dcd}, {"RI", lines.ri}}};
}
} // namespace

std::string ModemInputsText(const ModemLines& lines) {
    std::string text;
    for (const auto& [name, on] : Inputs(lines))
        text += (text.empty() ? "" : "  ") + std::string(name) + (on ? " 1" : " 0");
    return text;
}

std::vector<std::string> ModemInputChanges(const ModemLines& before, const ModemLines& now) {
    std::vector<std::string> changes;
    const auto was = Inputs(before);
    const auto is = Inputs(now);
    for (size_t i = 0; i < is.size(); ++i) {
        if (was[i].second != is[i].second)
            changes.push_back(std::string(is[i].first) + (is[i].second ? " on" : " off"));
    }
    return changes;
}
