#pragma once
// The connections that opened last, newest first, each once, at most RecentConnectionsKept.
#include <cstddef>
#include <string>
#include <vector>

inline constexpr size_t RecentConnectionsKept = 8;
void AddRecentConnection(std::vector<std::string>& recent, const std::string& connection);
// As one settings value (one per line) and back; empty lines are dropped.
std::string JoinRecentConnections(const std::vector<std::string>& recent);
std::vector<std::string> SplitRecentConnections(const std::string& text);
