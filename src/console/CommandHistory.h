#pragma once
// The commands the operator sent: distinct, oldest first, with a recall position.
#include <cstddef>
#include <string>
#include <vector>

class CommandHistory {
public:
    // Removes every equal entry, appends text, and sets the position past the newest.
    void Add(const std::string& text);
    // Moves back one entry; false (nothing recalled) at the oldest or when empty.
    bool Previous(std::string& text);
    // Moves forward one entry; false at the newest (the input keeps its text).
    bool Next(std::string& text);

    const std::vector<std::string>& Entries() const { return entries_; }
    size_t Index() const { return index_; }

private:
    std::vector<std::string> entries_;
    size_t index_ = 0;
};
