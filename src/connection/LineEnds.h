#pragma once
// What ends a line on a connection: what a send appends (LF as instruments of this family expect,
// CR, CR LF or nothing) and what ends a received line (LF, CR, CR LF, or any of CR and LF with a
// CR LF pair counting once). The defaults are LF both ways.
#include "connection/LineFramer.h"

#include <string>
#include <string_view>

enum class TxLineEnd { Lf, Cr, CrLf, None };
enum class RxLineEnd { Lf, Cr, CrLf, Any };

struct LineEnds {
    static constexpr int MaxIdleMs = 60000;
    TxLineEnd tx = TxLineEnd::Lf;
    RxLineEnd rx = RxLineEnd::Lf;
    // Received bytes that wait this long without a line end are shown as a line (a prompt);
    // 0: off, they wait for their line end.
    int idleMs = 0;
};

// The bytes a send appends.
std::string_view TxLineEndBytes(TxLineEnd end);
// The names used in settings and on the command line: "lf", "cr", "crlf", "none" / "any".
std::string_view LineEndName(TxLineEnd end);
std::string_view LineEndName(RxLineEnd end);
// False (end unchanged) for a name that is none of them.
bool ParseLineEnd(std::string_view name, TxLineEnd& end);
bool ParseLineEnd(std::string_view name, RxLineEnd& end);
// How a LineFramer (its EndChar and Ends, no start character) frames lines that end so.
uint8_t EndCharFor(RxLineEnd end);
LineFramer::LineEnd FramerEndsFor(RxLineEnd end);
