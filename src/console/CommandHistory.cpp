#include "console/CommandHistory.h"

#include <algorithm>

void CommandHistory::Add(const std::string& text) {
    entries_.erase(std::remove(entries_.begin(), entries_.end(), text), entries_.end());
    entries_.push_back(text);
    index_ = entries_.size();
}

bool CommandHistory::Previous(std::string& text) {
    if (entries_.empty() || index_ == 0) return false;
    text = entries_[--index_];
    return true;
}

bool CommandHistory::Next(std::string& text) {
    if (entries_.empty() || index_ + 1 >= entries_.size()) return false;
    text = entries_[++index_];
    return true;
}
