#include "console/ConsoleLogic.h"

#include <algorithm>
#include <cstdio>

std::string StampedLine(const std::string& timeStamp, const std::string& text) {
    std::string line;
    line.reserve(timeStamp.size() + text.size() + 3);
    line += '[';
    line += timeStamp;
    line += "] ";
    line += text;
    return line;
}

std::string ConnectedText(const std::string& connection, const std::string& timeStamp, uint32_t ticks) {
    return "Connected to \"" + connection + "\". Time=" + timeStamp + " Ticks=" + std::to_string(ticks);
}

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

std::string WithReason(const std::string& line, const std::string& reason) {
    if (reason.empty()) return line;
    std::string said = reason;
    // "timed out" starts a sentence; a file or program name ("libGpibX.so: ...") keeps its case.
    const std::string firstWord = said.substr(0, said.find(' '));
    bool plainWord =
        std::all_of(firstWord.begin(), firstWord.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (plainWord) said[0] = static_cast<char>(said[0] - 'a' + 'A');
    if (said.back() != '.') said += '.';
    return line + " " + said;
}

std::string NotLatin1Text(uint32_t codePoint) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", codePoint);
    return std::string("Not sent: the character ") + code +
           " is not in the instrument's character set (Latin-1).";
}

void AddRecentConnection(std::vector<std::string>& recent, const std::string& connection) {
    std::erase(recent, connection);
    recent.insert(recent.begin(), connection);
    if (recent.size() > RecentConnectionsKept) recent.resize(RecentConnectionsKept);
}

std::string JoinRecentConnections(const std::vector<std::string>& recent) {
    std::string text;
    for (const std::string& connection : recent)
        text += (text.empty() ? "" : "\n") + connection;
    return text;
}

std::vector<std::string> SplitRecentConnections(const std::string& text) {
    std::vector<std::string> recent;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start && recent.size() < RecentConnectionsKept)
            recent.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return recent;
}

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
