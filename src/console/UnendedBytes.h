#pragma once
// Received bytes that wait for a line end that does not come, as when the connection's receive
// line end is not the instrument's: the log shows nothing of them, so the operator is told once
// per such wait, in the status bar, to look at the line end. Ticks come from the caller, so the
// decision needs no clock of its own.
#include <cstddef>
#include <cstdint>
#include <string>

class UnendedBytes {
public:
    // How long bytes wait before the hint.
    static constexpr uint32_t WaitMs = 2000;

    // waiting: bytes without a line end now; lastByteTick: when the last of them came; now: the
    // tick. The hint ("12 bytes without a line end: check the receive line end") when they have
    // waited WaitMs and this wait was not told yet; empty otherwise. A wait ends when no bytes
    // wait any more or more bytes come (which begins a new one).
    std::string Check(size_t waiting, uint32_t lastByteTick, uint32_t now);

private:
    bool told_ = false;
    uint32_t toldTick_ = 0; //!< The last byte tick of the wait that was told.
};
