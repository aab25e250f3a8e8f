#include "log/ControlChars.h"

namespace {
constexpr char HexDigits[] = "0123456789abcdef";
} // namespace

DisplayLine RenderControlChars(std::string_view line, ControlCharMode mode) {
    DisplayLine shown;
    if (mode == ControlCharMode::Off) {
        shown.text.assign(line);
        return shown;
    }
    shown.text.reserve(line.size());
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        if (!ShownEscaped(byte, mode)) {
            shown.text.push_back(c);
            continue;
        }
        const std::size_t at = shown.text.size();
        if (!shown.escapes.empty() && shown.escapes.back().start + shown.escapes.back().length == at) {
            shown.escapes.back().length += EscapeCells;
        } else {
            shown.escapes.push_back({at, EscapeCells});
        }
        shown.text += '\\';
        shown.text += 'x';
        shown.text += HexDigits[byte >> 4];
        shown.text += HexDigits[byte & 0xF];
    }
    return shown;
}

LineWidths MeasureLine(std::string_view line, std::size_t tabWidth) {
    std::size_t plain = 0;
    std::size_t controls = 0;
    std::size_t high = 0;
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            plain = (plain / tabWidth + 1) * tabWidth;
        } else {
            ++plain;
        }
        controls += byte < 0x20 || byte == 0x7f;
        high += byte >= 0x80;
    }
    const std::size_t extra = EscapeCells - 1;
    return {plain, line.size() + controls * extra, line.size() + (controls + high) * extra};
}

ControlCharMode ControlCharModeFromSetting(int value) {
    switch (value) {
    case 1:
        return ControlCharMode::Controls;
    case 2:
        return ControlCharMode::ControlsAndHigh;
    default:
        return ControlCharMode::Off;
    }
}

int ControlCharModeSetting(ControlCharMode mode) {
    return static_cast<int>(mode);
}
