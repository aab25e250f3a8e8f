#include "platform/WindowPlacement.h"

#include <algorithm>

namespace {
// The start of a span of length size, moved into [areaStart, areaStart + areaSize); size is
// no larger than areaSize.
int Within(int start, int size, int areaStart, int areaSize) {
    return std::clamp(start, areaStart, areaStart + areaSize - size);
}
} // namespace

ScreenRect FitOnScreen(const ScreenRect& wanted, const ScreenRect& available) {
    ScreenRect fitted;
    fitted.width = std::clamp(wanted.width, 1, std::max(1, available.width));
    fitted.height = std::clamp(wanted.height, 1, std::max(1, available.height));
    fitted.left = Within(wanted.left, fitted.width, available.left, std::max(fitted.width, available.width));
    fitted.top = Within(wanted.top, fitted.height, available.top, std::max(fitted.height, available.height));
    return fitted;
}
