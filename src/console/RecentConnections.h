#pragma once
// The connections that opened last, newest first, each once, at most RecentConnectionsKept, and
// what each was last opened with (its line ends, idle time and escapes), so that picking one again
// brings back the line ends its instrument speaks.
#include "connection/LineEnds.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t RecentConnectionsKept = 8;
void AddRecentConnection(std::vector<std::string>& recent, const std::string& connection);
// As one settings value (one per line) and back; empty lines are dropped.
std::string JoinRecentConnections(const std::vector<std::string>& recent);
std::vector<std::string> SplitRecentConnections(const std::string& text);

// What a connection was last opened with.
struct ConnectionLines {
    LineEnds ends;
    bool escapes = false;
    bool operator==(const ConnectionLines& other) const {
        return ends.tx == other.ends.tx && ends.rx == other.ends.rx && ends.idleMs == other.ends.idleMs &&
               escapes == other.escapes;
    }
};

// One connection's lines as one settings line, "cr any 200 1 tcp:10.0.0.5:2500" (line end sent,
// received, idle ms, escapes, then the connection, which may hold spaces), and back: false, and
// nothing changed, for a line that is not one.
std::string ConnectionLinesText(const std::string& connection, const ConnectionLines& lines);
bool ParseConnectionLines(std::string_view text, std::string& connection, ConnectionLines& lines);
// The lines of those recent connections that have theirs, one a line, in a settings value of their
// own beside the list (which keeps its form, so an older program still reads it), and back. A
// connection without its lines (an entry from before they were kept) takes its kind's.
std::string JoinConnectionLines(const std::vector<std::string>& recent,
                                const std::map<std::string, ConnectionLines>& lines);
std::map<std::string, ConnectionLines> SplitConnectionLines(const std::string& text);
