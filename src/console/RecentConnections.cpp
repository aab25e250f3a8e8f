#include "console/RecentConnections.h"

#include <algorithm>

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

std::string ConnectionLinesText(const std::string& connection, const ConnectionLines& lines) {
    return std::string(LineEndName(lines.ends.tx)) + ' ' + std::string(LineEndName(lines.ends.rx)) + ' ' +
           std::to_string(lines.ends.idleMs) + ' ' + (lines.escapes ? '1' : '0') + ' ' + connection;
}

namespace {
// The next word of text (up to a space), which is taken off it.
std::string_view TakeWord(std::string_view& text) {
    const size_t space = std::min(text.find(' '), text.size());
    const std::string_view word = text.substr(0, space);
    text.remove_prefix(std::min(space + 1, text.size()));
    return word;
}

bool ParseIdleMs(std::string_view word, int& ms) {
    if (word.empty() || word.size() > 5) return false;
    int value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > LineEnds::MaxIdleMs) return false;
    ms = value;
    return true;
}
} // namespace

bool ParseConnectionLines(std::string_view text, std::string& connection, ConnectionLines& lines) {
    ConnectionLines read;
    const std::string_view tx = TakeWord(text);
    const std::string_view rx = TakeWord(text);
    const std::string_view idle = TakeWord(text);
    const std::string_view escapes = TakeWord(text);
    if (!ParseLineEnd(tx, read.ends.tx) || !ParseLineEnd(rx, read.ends.rx) ||
        !ParseIdleMs(idle, read.ends.idleMs) || (escapes != "0" && escapes != "1") || text.empty())
        return false;
    read.escapes = escapes == "1";
    connection = std::string(text);
    lines = read;
    return true;
}

std::string JoinConnectionLines(const std::vector<std::string>& recent,
                                const std::map<std::string, ConnectionLines>& lines) {
    std::string text;
    for (const std::string& connection : recent) {
        const auto found = lines.find(connection);
        if (found != lines.end())
            text += (text.empty() ? "" : "\n") + ConnectionLinesText(connection, found->second);
    }
    return text;
}

std::map<std::string, ConnectionLines> SplitConnectionLines(const std::string& text) {
    std::map<std::string, ConnectionLines> lines;
    std::string connection;
    ConnectionLines read;
    // Each line as the list's values are split; one that cannot be read is left out.
    for (const std::string& line : SplitRecentConnections(text)) {
        if (ParseConnectionLines(line, connection, read)) lines[connection] = read;
    }
    return lines;
}
