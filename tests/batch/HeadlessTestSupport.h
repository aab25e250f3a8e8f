#pragma once
#include "TestSupport.h"
// Shared by the headless runner's tests: scripts in a temporary folder, a loopback port nobody
// listens on, and checks of the log lines' form.
#include "TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Runs run(outStream, errStream) with both streams in memory; their text ends in out and err.
template <class Run> int RunCapturingOutput(const Run& run, std::string& out, std::string& err) {
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0;
    size_t errSize = 0;
    std::FILE* outStream = ::open_memstream(&outText, &outSize);
    std::FILE* errStream = ::open_memstream(&errText, &errSize);
    const int code = run(outStream, errStream);
    std::fclose(outStream);
    std::fclose(errStream);
    out.assign(outText, outSize);
    err.assign(errText, errSize);
    std::free(outText);
    std::free(errText);
    return code;
}

// A loopback port that refuses connections: bound once by the system's choice, then let go.
inline int RefusingPort() {
    return FreeLoopbackPort();
}

inline std::vector<std::string> SplitLines(const std::string& text, const std::string& end = "\n") {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size())
        lines.push_back(text.substr(start, at - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The texts of the log lines, the time stamp checked and taken off; a line of another form is
// kept whole, so the comparison shows it.
inline std::vector<std::string> LogTexts(const std::string& output, const std::string& end = "\n") {
    static const std::regex stamped(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] (.*)$)");
    std::vector<std::string> texts;
    for (const std::string& line : SplitLines(output, end)) {
        std::smatch match;
        texts.push_back(std::regex_match(line, match, stamped) ? match[1].str() : "UNSTAMPED " + line);
    }
    return texts;
}

// Only the lines of the conversation (Tx and Rx).
inline std::vector<std::string> Conversation(const std::vector<std::string>& texts) {
    std::vector<std::string> lines;
    for (const std::string& text : texts)
        if (text.starts_with("Tx: ") || text.starts_with("Rx: ")) lines.push_back(text);
    return lines;
}
