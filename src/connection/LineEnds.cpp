#include "connection/LineEnds.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<std::string_view, TxLineEnd>, 4> TxNames{
    {{"lf", TxLineEnd::Lf}, {"cr", TxLineEnd::Cr}, {"crlf", TxLineEnd::CrLf}, {"none", TxLineEnd::None}}};
constexpr std::array<std::pair<std::string_view, RxLineEnd>, 4> RxNames{
    {{"lf", RxLineEnd::Lf}, {"cr", RxLineEnd::Cr}, {"crlf", RxLineEnd::CrLf}, {"any", RxLineEnd::Any}}};

template <class Names, class End> std::string_view NameOf(const Names& names, End end) {
    for (const auto& [name, value] : names) {
        if (value == end) return name;
    }
    return {};
}

template <class Names, class End> bool Parse(const Names& names, std::string_view text, End& end) {
    for (const auto& [name, value] : names) {
        if (name == text) {
            end = value;
            return true;
        }
    }
    return false;
}
} // namespace

std::string_view TxLineEndBytes(TxLineEnd end) {
    switch (end) {
    case TxLineEnd::Cr:
        return "\r";
    case TxLineEnd::CrLf:
        return "\r\n";
    case TxLineEnd::None:
        return "";
    case TxLineEnd::Lf:
        break;
    }
    return "\n";
}

std::string_view LineEndName(TxLineEnd end) {
    return NameOf(TxNames, end);
}

std::string_view LineEndName(RxLineEnd end) {
    return NameOf(RxNames, end);
}

bool ParseLineEnd(std::string_view name, TxLineEnd& end) {
    return Parse(TxNames, name, end);
}

bool ParseLineEnd(std::string_view name, RxLineEnd& end) {
    return Parse(RxNames, name, end);
}

uint8_t EndCharFor(RxLineEnd end) {
    return end == RxLineEnd::Cr ? '\r' : '\n';
}

LineFramer::LineEnd FramerEndsFor(RxLineEnd end) {
    if (end == RxLineEnd::CrLf) return LineFramer::LineEnd::CrLf;
    if (end == RxLineEnd::Any) return LineFramer::LineEnd::CrOrLf;
    return LineFramer::LineEnd::Char;
}
