#pragma once
// A line that comes again and again with nothing between, such as a send that fails on every
// tick of Repeat: the first is logged, the rest are only counted, and the count is told in one
// line before whatever is logged next, stamped with the time of the last repeat.
#include <cstdint>
#include <string>

class RepeatedLine {
public:
    // True when text repeats the line logged last: counted, not to be logged.
    bool Repeats(const std::string& text, const std::string& stamp);
    // text was logged: equal lines that follow count as its repeats.
    void Logged(const std::string& text);
    // "<text> (n more times)" and the stamp of the last repeat, when any were counted; false
    // when none were. Forgets the line either way, so call it before any other line is logged.
    bool TakeSummary(std::string& text, std::string& stamp);

private:
    std::string text_;
    std::string lastStamp_;
    uint32_t more_ = 0;
};
