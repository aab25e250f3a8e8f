#include "console/UnendedBytes.h"

#include "platform/Tick.h"

std::string UnendedBytes::Check(size_t waiting, uint32_t lastByteTick, uint32_t now) {
    if (waiting == 0) {
        told_ = false;
        return {};
    }
    if (TickDiff(now, lastByteTick) < WaitMs) return {};
    if (told_ && toldTick_ == lastByteTick) return {};
    told_ = true;
    toldTick_ = lastByteTick;
    return std::to_string(waiting) + (waiting == 1 ? " byte" : " bytes") +
           " without a line end: check the receive line end";
}
