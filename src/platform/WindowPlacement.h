#pragma once
// Where a window goes on the screen. A stored place may come from a larger screen or another
// monitor layout, and a window's design size may exceed a small screen; either would leave part
// of the window (the buttons at its right edge) off screen. Plain C++; any thread.

// A rectangle in screen pixels: the whole window with its frame, or a screen's available area.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// wanted made no larger than available and then moved, as little as it takes, to lie within it.
ScreenRect FitOnScreen(const ScreenRect& wanted, const ScreenRect& available);
