#include "console/LogTexts.h"

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

std::string ConnectedText(const std::string& connection, const std::string& timeStamp, uint32_t ticks) {
    return "Connected to \"" + connection + "\". Time=" + timeStamp + " Ticks=" + std::to_string(ticks);
}
