#pragma once
// The console's decisions that need no window: log line texts and colours, reply-time
// statistics and the command history.
#include "log/LogColours.h"

#include <cstdint>
#include <string>
#include <vector>

// The reply of a busy amplifier: logged like any line, left out of the statistics.
inline constexpr char AmpBusyReply[] = "ERROR_AMP_BUSY";

// "[" + timeStamp + "] " + text.
std::string StampedLine(const std::string& timeStamp, const std::string& text);

// A status line followed by why: "disconnected." and "the peer closed the connection" give
// "disconnected. The peer closed the connection." An empty reason leaves the line as it is.
std::string WithReason(const std::string& line, const std::string& reason);

// Why a line with a character beyond Latin-1 is not sent (instrument text is 8-bit).
std::string NotLatin1Text(uint32_t codePoint);

// The status line of a new connection.
std::string ConnectedText(const std::string& connection, const std::string& timeStamp, uint32_t ticks);

// Reply times since start or the last reset: count, sum and maximum in ms.
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

// The connections that opened last, newest first, each once, at most RecentConnectionsKept.
inline constexpr size_t RecentConnectionsKept = 8;
void AddRecentConnection(std::vector<std::string>& recent, const std::string& connection);
// As one settings value (one per line) and back; empty lines are dropped.
std::string JoinRecentConnections(const std::vector<std::string>& recent);
std::vector<std::string> SplitRecentConnections(const std::string& text);

// A line that comes again and again with nothing between, such as a send that fails on every
// tick of Repeat: the first is logged, the rest are only counted, and the count is told in one
// line before whatever is logged next, stamped with the time of the last repeat.
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

// Distinct commands, oldest first, with a recall position.
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
