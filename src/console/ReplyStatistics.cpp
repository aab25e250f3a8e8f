#include "console/ReplyStatistics.h"

#include <algorithm>
#include <cstdio>

bool ReplyStatistics::Add(const std::string& trimmedLine, uint32_t dt) {
    if (trimmedLine == AmpBusyReply) return false;
    ++count_;
    sum_ += dt;
    max_ = std::max(max_, dt);
    last_ = dt;
    return true;
}

void ReplyStatistics::Reset() {
    *this = ReplyStatistics();
}

std::string ReplyStatistics::Caption() const {
    char text[64];
    std::snprintf(text, sizeof text, "%03u/%03u/%04ums", last_, count_ ? sum_ / count_ : 0u, max_);
    return text;
}
