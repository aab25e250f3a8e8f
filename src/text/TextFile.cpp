#include "text/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
} // namespace

std::vector<std::string> SplitTextLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append("\r\n");
    return text;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, int& errorCode, bool* opened) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        errorCode = errno;
        return false;
    }
    if (opened) *opened = true;
    std::string text;
    char buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    if (std::ferror(file.get())) {
        errorCode = errno;
        return false;
    }
    lines = SplitTextLines(text);
    return true;
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                    bool* created) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        errorCode = errno;
        return false;
    }
    if (created) *created = true;
    std::string text = JoinTextLines(lines);
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    int code = errno;
    // The last buffered bytes may only fail at close (a full disk, a network share).
    if (std::fclose(file) != 0 && written) {
        written = false;
        code = errno;
    }
    if (!written) errorCode = code;
    return written;
}
