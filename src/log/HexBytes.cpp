#include "log/HexBytes.h"

#include <algorithm>
#include <cstdint>

namespace {
constexpr char HexDigits[] = "0123456789ABCDEF";
// The stamp between the brackets is "hh:nn:ss.zzz"; a little room is left for longer ones.
constexpr std::size_t LongestStamp = 24;
// Cells of the gap between a block's hex and its text, and of the mark between two blocks.
constexpr std::string_view TextGap = "  ";
constexpr std::string_view BlockMark = " | ";

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A character as the fault quotes it; one that would not show is given by its code.
std::string Quoted(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f)
        return std::string("byte 0x") + HexDigits[byte >> 4] + HexDigits[byte & 0xF];
    return std::string("'") + c + "'";
}

std::string At(std::size_t index) {
    return " at column " + std::to_string(index + 1);
}

// Cells of a block of n bytes (n >= 1): "hh" and a blank per byte but the last, the gap, the text.
constexpr std::size_t BlockCells(std::size_t n) {
    return 3 * n - 1 + TextGap.size() + n;
}
constexpr std::size_t BlockStride = BlockCells(HexBlockBytes) + BlockMark.size();

void AppendBlock(std::string& row, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i > 0) row += ' ';
        row += HexDigits[byte >> 4];
        row += HexDigits[byte & 0xF];
    }
    row += TextGap;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        row += byte >= 0x20 && byte < 0x7f ? c : '.';
    }
}
} // namespace

bool ParseHexBytes(std::string_view typed, std::string& bytes, std::string& fault) {
    bytes.clear();
    fault.clear();
    std::size_t i = 0;
    while (i < typed.size()) {
        if (IsBlank(typed[i])) {
            ++i;
            continue;
        }
        const int high = DigitValue(typed[i]);
        if (high < 0) {
            fault = Quoted(typed[i]) + At(i) + " is not a hex digit";
        } else if (i + 1 == typed.size() || IsBlank(typed[i + 1])) {
            fault = Quoted(typed[i]) + At(i) + " has no second digit: bytes are pairs of hex digits";
        } else if (const int low = DigitValue(typed[i + 1]); low < 0) {
            fault = Quoted(typed[i + 1]) + At(i + 1) + " is not a hex digit";
        } else {
            bytes += static_cast<char>(high << 4 | low);
            i += 2;
            continue;
        }
        bytes.clear();
        return false;
    }
    return true;
}

std::size_t HexPayloadStart(std::string_view line) {
    std::size_t at = 0;
    if (line.starts_with('[')) {
        // Only the front is searched: every line appended to the log comes through here.
        const std::size_t close = line.substr(0, LongestStamp + 2).find("] ");
        if (close == std::string_view::npos) return std::string_view::npos;
        at = close + 2;
    }
    const std::string_view direction = line.substr(at, 4);
    return direction == "Tx: " || direction == "Rx: " ? at + 4 : std::string_view::npos;
}

std::size_t HexRowWidth(std::string_view line) {
    const std::size_t start = HexPayloadStart(line);
    if (start == std::string_view::npos) return 0;
    const std::size_t bytes = line.size() - start;
    if (bytes == 0) return start;
    const std::size_t fullBlocks = (bytes - 1) / HexBlockBytes;
    return start + fullBlocks * BlockStride + BlockCells(bytes - fullBlocks * HexBlockBytes);
}

std::string HexRowCells(std::string_view line, std::size_t first, std::size_t count) {
    const std::size_t start = HexPayloadStart(line);
    if (start == std::string_view::npos) return {};
    const std::size_t end = count > SIZE_MAX - first ? SIZE_MAX : first + count;
    std::string cells;
    if (first < start) cells.assign(line.substr(first, std::min(start, end) - first));
    const std::string_view payload = line.substr(start);
    // Blocks before the range are skipped by arithmetic; rendering starts at the first one in it.
    const std::size_t firstBlock = first > start ? (first - start) / BlockStride : 0;
    const std::size_t origin = start + firstBlock * BlockStride;
    std::string row;
    for (std::size_t block = firstBlock; block * HexBlockBytes < payload.size(); ++block) {
        if (start + block * BlockStride >= end) break;
        AppendBlock(row, payload.substr(block * HexBlockBytes, HexBlockBytes));
        if ((block + 1) * HexBlockBytes < payload.size()) row += BlockMark;
    }
    const std::size_t from = std::max(first, origin) - origin;
    if (from < row.size()) cells.append(row, from, std::min(row.size(), end - origin) - from);
    return cells;
}
