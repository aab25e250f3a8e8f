#pragma once
// The millisecond tick: a monotonic counter as unsigned 32 bits. It wraps after about 49.7 days;
// differences are taken as unsigned 32-bit subtraction so they stay right across the wrap.
#include <chrono>
#include <cstdint>

inline uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

inline uint32_t TickDiff(uint32_t later, uint32_t earlier) {
    return later - earlier;
}
