#pragma once
// The texts of the conversation's own log lines: the stamp in front of every line, a status line
// with its reason, a refused character and a new connection.
#include <cstdint>
#include <string>

// "[" + timeStamp + "] " + text.
std::string StampedLine(const std::string& timeStamp, const std::string& text);

// A status line followed by why: "disconnected." and "the peer closed the connection" give
// "disconnected. The peer closed the connection." An empty reason leaves the line as it is.
std::string WithReason(const std::string& line, const std::string& reason);

// Why a line with a character beyond Latin-1 is not sent (instrument text is 8-bit).
std::string NotLatin1Text(uint32_t codePoint);

// The status line of a new connection.
std::string ConnectedText(const std::string& connection, const std::string& timeStamp, uint32_t ticks);
