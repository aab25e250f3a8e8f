#include "console/ExtraTools.h"

#include "platform/System.h"
#include "text/Strtools.h"
#include "text/TextFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads "%u %d" as the C library does: blanks before each number, an optional sign, digits.
// Values beyond the types wrap as they would there.
bool ReadNumberPair(const std::string& line, int& x, int& y) {
    const char* text = line.c_str();
    char* end = nullptr;
    unsigned long first = std::strtoul(text, &end, 10);
    if (end == text) return false;
    const char* rest = end;
    long second = std::strtol(rest, &end, 10);
    if (end == rest) return false;
    x = static_cast<int>(static_cast<unsigned int>(first));
    y = static_cast<int>(second);
    return true;
}

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ToLocalTime(now, local);
    return local;
}
} // namespace

std::string SignatureLine(const std::string& user, const std::string& dnsDomain, const std::string& computer,
                          const std::string& dateTimeStamp, const std::string& connection) {
    return user + "@" + dnsDomain + "\\" + computer + ", " + dateTimeStamp + ", Connection=" + connection;
}

std::string SignatureLine(const std::string& connection) {
    return SignatureLine(GetLocalUserName(), GetDnsDomainName(), GetLocalComputerName(), GetDateTimeStamp(),
                         connection);
}

std::string ProposedLogFileName(const std::string& connectionKindName, const std::tm& t) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d-%02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return "RemoteControlTest_" + connectionKindName + "_" + stamp + ".txt";
}

std::string ProposedLogFileName(const std::string& connectionKindName) {
    return ProposedLogFileName(connectionKindName, LocalNow());
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
    int code = 0;
    if (WriteTextData(path, text, code)) return true;
    error = "Cannot write \"" + path + "\": " + TextFileErrorText(code);
    return false;
}

std::string FormatNumberList(const std::string& text) {
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        int x = 0, y = 0;
        if (ReadNumberPair(TrimText(std::string_view(text).substr(start, end - start)), x, y)) {
            char line[64];
            std::snprintf(line, sizeof line, "{%5d, %5d }, \\\r\n", x, y);
            result += line;
        }
        start = end;
        if (start < text.size() && text[start] == '\r') ++start;
        if (start < text.size() && text[start] == '\n') ++start;
    }
    return result;
}

std::string GenerateChannelList(const std::string& input) {
    std::string output;
    int group = 1;
    const size_t n = input.size();
    size_t i = 0;
    while (i < n) {
        const char c = input[i];
        if (c == '#') {
            i += 4;
            continue;
        }
        if (c == ' ') {
            ++i;
            continue;
        }
        if (IsDigit(c)) {
            group = c - '0';
            if (++i < n && IsDigit(input[i])) group = group * 10 + (input[i++] - '0');
        }
        if (i >= n) break;
        const char letter = input[i++];
        if (i >= n) break;
        const int count = static_cast<unsigned char>(input[i++]) - '0';
        for (int j = 0; j < count; ++j) {
            char line[48];
            // A zero byte is a character like any other here, so the length comes from snprintf.
            int length = std::snprintf(line, sizeof line, "DIAG CHAN_%d%c%c?\r\n", group, letter,
                                       static_cast<char>('1' + j));
            output.append(line, static_cast<size_t>(length));
        }
    }
    return output;
}
