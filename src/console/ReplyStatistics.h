#pragma once
// Reply times since start or the last reset: count, sum and maximum in ms.
#include <cstdint>
#include <string>

// The reply of a busy amplifier: logged like any line, left out of the statistics.
inline constexpr char AmpBusyReply[] = "ERROR_AMP_BUSY";

class ReplyStatistics {
public:
    // Counts a reply of dt ms unless it is the busy reply; true when it was counted.
    bool Add(const std::string& trimmedLine, uint32_t dt);
    void Reset();
    // "this/average/maximum": "%03u/%03u/%04ums".
    std::string Caption() const;

    uint32_t Count() const { return count_; }

private:
    uint32_t count_ = 0;
    uint32_t sum_ = 0;
    uint32_t max_ = 0;
    uint32_t last_ = 0;
};
