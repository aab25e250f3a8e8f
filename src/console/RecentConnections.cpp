#include "console/RecentConnections.h"

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
