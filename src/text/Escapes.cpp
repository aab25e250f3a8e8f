#include "text/Escapes.h"

#include <algorithm>

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Malformed(std::string_view escape, size_t at) {
    return "the escape " + std::string(escape) + " at column " + std::to_string(at + 1) +
           " is not one of \\r \\n \\t \\xhh \\\\";
}
} // namespace

bool ExpandEscapes(std::string_view text, std::string& bytes, std::string& error) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) {
            error = Malformed("\\", i);
            return false;
        }
        const char kind = text[i + 1];
        switch (kind) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            const int high = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            const int low = i + 3 < text.size() ? HexDigit(text[i + 3]) : -1;
            if (high < 0 || low < 0) {
                error = Malformed(text.substr(i, std::min<size_t>(4, text.size() - i)), i);
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            error = Malformed(text.substr(i, 2), i);
            return false;
        }
        ++i;
    }
    bytes = std::move(out);
    return true;
}
