#pragma once
// Bytes written as hex digits, both ways: the input line's hex mode reads typed pairs of digits
// into the bytes to send, and the log's hex view lays out a sent or received line as its bytes in
// hex beside them as text. Plain C++; any thread.
#include <cstddef>
#include <string>
#include <string_view>

// Reads typed hex into bytes: pairs of hex digits in either case, blanks (space, tab) allowed
// between pairs but not inside one: "02 53 5403" is the four bytes 02 53 54 03. Empty text or
// blanks alone give no bytes and no fault. False when the text is not that: bytes is left empty and fault
// says what is wrong and at which column (from 1), e.g. "'G' at column 4 is not a hex digit".
bool ParseHexBytes(std::string_view typed, std::string& bytes, std::string& fault);

// --- The log's hex view ---
// A line of the log that the view shows in hex is a sent or received one: an optional stamp
// "[hh:nn:ss.zzz] ", then "Tx: " or "Rx: ", then its bytes. The stamp and direction stay text; the
// bytes follow in blocks of HexBlockBytes, each its bytes in hex and then as text (printable ASCII
// as it is, every other byte as '.'), and blocks are separated by " | ":
//     [14:03:07.045] Rx: 02 53 54 03 0D  .ST..
// A long line continues to the right on its one row (the view scrolls sideways), so every line
// stays one row and the row of any line is still found by arithmetic.
inline constexpr std::size_t HexBlockBytes = 16;

// Where the bytes of a sent or received line begin (after "Rx: "); npos for any other line, which
// the hex view shows as it would without it.
std::size_t HexPayloadStart(std::string_view line);
// Character cells the hex view takes for line; 0 for a line it does not show in hex.
std::size_t HexRowWidth(std::string_view line);
// The cells [first, first + count) of line as the hex view shows it (fewer at the end of the row;
// empty for a line it does not show in hex). Only the blocks in that range are formatted, so a
// line of megabytes costs what the screen shows of it.
std::string HexRowCells(std::string_view line, std::size_t first, std::size_t count);
