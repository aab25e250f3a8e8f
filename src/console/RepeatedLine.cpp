#include "console/RepeatedLine.h"

bool RepeatedLine::Repeats(const std::string& text, const std::string& stamp) {
    if (text_.empty() || text != text_) return false;
    ++more_;
    lastStamp_ = stamp;
    return true;
}

void RepeatedLine::Logged(const std::string& text) {
    text_ = text;
    more_ = 0;
}

bool RepeatedLine::TakeSummary(std::string& text, std::string& stamp) {
    const bool counted = more_ > 0;
    if (counted) {
        text = text_ + " (" + std::to_string(more_) + (more_ == 1 ? " more time)" : " more times)");
        stamp = lastStamp_;
    }
    text_.clear();
    more_ = 0;
    return counted;
}
