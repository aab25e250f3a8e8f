#pragma once
// Escapes in typed commands, bookmark commands and batch lines, for instruments that want control
// bytes: \r, \n, \t, \xhh (two hex digits, any byte) and \\ for the backslash itself. Plain C++.
#include <string>
#include <string_view>

// Replaces every escape in text by its byte. A backslash followed by anything else, a lone one at
// the end, or \x without two hex digits is malformed: false, bytes untouched, and error says
// which and where ("the escape \q at column 5 is not one of \r \n \t \xhh \\").
bool ExpandEscapes(std::string_view text, std::string& bytes, std::string& error);
