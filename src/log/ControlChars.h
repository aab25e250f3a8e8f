#pragma once
// How the log shows bytes a font would draw as nothing or a box: with "Show Control Characters" on,
// every byte below 0x20 (tab included) and 0x7f, and optionally every byte 0x80-0xff, appears as
// the four characters "\xhh" (lower-case hex). The stored line is never changed; this only maps it
// to the text on screen, so the option can be switched at any time. Plain C++; any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class ControlCharMode : uint8_t {
    Off,             // the bytes as they are, tabs expanded by the view
    Controls,        // 0x00-0x1f and 0x7f escaped
    ControlsAndHigh, // and 0x80-0xff as well
};

// Cells one escape takes on screen.
inline constexpr std::size_t EscapeCells = 4;

// Whether byte c is shown as an escape in mode.
inline bool ShownEscaped(unsigned char c, ControlCharMode mode) {
    if (mode == ControlCharMode::Off) return false;
    return c < 0x20 || c == 0x7f || (c >= 0x80 && mode == ControlCharMode::ControlsAndHigh);
}

// A run of escapes in the display text: characters [start, start + length). Neighbouring escapes
// form one run.
struct EscapeSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    bool operator==(const EscapeSpan&) const = default;
};

// A line as the log shows it: its characters (Latin-1, no tabs unless mode is Off) and where
// the escapes are, in order.
struct DisplayLine {
    std::string text;
    std::vector<EscapeSpan> escapes;
};

// Maps one stored line to what the log shows in mode. Off gives the line unchanged, no spans.
DisplayLine RenderControlChars(std::string_view line, ControlCharMode mode);

// The width of a line in character cells for each mode, measured in one pass when it is logged,
// so the extent of horizontal scrolling is known at once whichever mode is switched on.
struct LineWidths {
    std::size_t plain = 0;    // tabs expanded to the next multiple of tabWidth
    std::size_t controls = 0; // control bytes escaped
    std::size_t all = 0;      // control and high bytes escaped
    std::size_t In(ControlCharMode mode) const {
        return mode == ControlCharMode::Off ? plain : mode == ControlCharMode::Controls ? controls : all;
    }
};
LineWidths MeasureLine(std::string_view line, std::size_t tabWidth);

// The mode as kept in the settings: 0 off, 1 control bytes, 2 control and high bytes; any other
// value is off.
ControlCharMode ControlCharModeFromSetting(int value);
int ControlCharModeSetting(ControlCharMode mode);
