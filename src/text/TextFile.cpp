#include "text/TextFile.h"

#include "platform/System.h"
#include "text/TextFile_sys.h"

#include <algorithm>

// Opening, reading and replacing the files themselves is in TextFile_posix.cpp and TextFile_win32.cpp.

bool NextUtf8CodePoint(const std::string& text, size_t& i, uint32_t& codePoint) {
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        codePoint = lead;
        ++i;
        return true;
    }
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
    } else {
        return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return false;
    i += length;
    return true;
}

bool IsValidUtf8(const std::string& text) {
    uint32_t codePoint = 0;
    for (size_t i = 0; i < text.size();) {
        if (!NextUtf8CodePoint(text, i, codePoint)) return false;
    }
    return true;
}

std::string Latin1ToUtf8(const std::string& latin1) {
    std::string utf8;
    utf8.reserve(latin1.size());
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

namespace {
constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// The Latin-1 form of a valid UTF-8 line, or the line unchanged when a character does not fit.
std::string Utf8LineToLatin1(const std::string& line) {
    std::string latin1;
    latin1.reserve(line.size());
    uint32_t codePoint = 0;
    for (size_t i = 0; i < line.size();) {
        NextUtf8CodePoint(line, i, codePoint);
        if (codePoint > 0xFF) return line;
        latin1 += static_cast<char>(codePoint);
    }
    return latin1;
}

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

uint32_t FirstBeyondLatin1(const std::string& line) {
    uint32_t first = 0;
    uint32_t codePoint = 0;
    for (size_t i = 0; i < line.size();) {
        if (!NextUtf8CodePoint(line, i, codePoint)) return 0;
        if (codePoint > 0xFF && first == 0) first = codePoint;
    }
    return first;
}

std::vector<std::string> DecodeTextLines(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return SplitTextLines(bytes);
    const bool bom = bytes.rfind(ByteOrderMark, 0) == 0;
    std::vector<std::string> lines = SplitTextLines(bom ? bytes.substr(3) : bytes);
    for (std::string& line : lines)
        line = Utf8LineToLatin1(line);
    return lines;
}

TextEncoding DetectTextEncoding(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return TextEncoding::Bytes;
    if (bytes.rfind(ByteOrderMark, 0) == 0) return TextEncoding::Utf8Bom;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    return ascii ? TextEncoding::Plain : TextEncoding::Utf8;
}

std::string EncodeTextLines(const std::vector<std::string>& lines, TextEncoding encoding) {
    if (encoding == TextEncoding::Bytes) return JoinTextLines(lines);
    bool utf8 = encoding != TextEncoding::Plain;
    for (const std::string& line : lines)
        utf8 = utf8 || FirstBeyondLatin1(line) != 0;
    if (!utf8) return JoinTextLines(lines);
    std::string text;
    // A first line that itself begins with U+FEFF would lose it to the reader, which drops a
    // leading byte order mark: a mark of its own in front keeps it.
    if (encoding == TextEncoding::Utf8Bom || (!lines.empty() && lines.front().rfind(ByteOrderMark, 0) == 0))
        text = ByteOrderMark;
    for (const std::string& line : lines)
        text.append(FirstBeyondLatin1(line) != 0 ? line : Latin1ToUtf8(line)).append("\r\n");
    return text;
}

bool ReadTextBytes(const std::string& path, std::string& bytes, int& errorCode, bool* opened) {
    ReadableFile file;
    if (!file.Open(path, errorCode, opened)) return false;
    if (file.Size() > MaxTextFileBytes) {
        errorCode = TextFileTooLarge;
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        const long n = file.ReadSome(buffer, sizeof buffer, errorCode);
        if (n < 0) return false;
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        // A file that grows while it is read is held to the same limit.
        if (bytes.size() > MaxTextFileBytes) {
            errorCode = TextFileTooLarge;
            return false;
        }
    }
    return true;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, int& errorCode, bool* opened) {
    std::string bytes;
    if (!ReadTextBytes(path, bytes, errorCode, opened)) return false;
    lines = DecodeTextLines(bytes);
    return true;
}

std::string TextFileErrorText(int code) {
    if (code == TextFileTooLarge)
        return "The file is larger than " + std::to_string(MaxTextFileBytes / (size_t{1024} * 1024)) +
               " MB, the limit for text files.";
    if (code == TextFileNotRegular) return "It is not a regular file.";
    return GetSystemErrorText(code);
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                    bool* created) {
    return WriteTextData(path, EncodeTextLines(lines), errorCode, created);
}
