#include "AmpModel.h"

#include <cmath>
#include <cstdio>

namespace ampsim {
namespace {

constexpr std::string_view kRoutePrefix = "SVC QB ";
constexpr std::string_view kConvPrefix = "SVC CONV ";
constexpr std::string_view kDiagPrefix = "DIAG CHAN_";

Reply ReplyLine(std::string_view line) {
    return ampsim::ReplyLine(std::string(line));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Strips prefix from text; false (text untouched) when text does not start with it.
bool Consume(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Words separated by runs of blanks.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

// 1..4 hex digits, either case, as one 16-bit word.
bool ParseHexWord(std::string_view text, unsigned& value) {
    if (text.empty() || text.size() > 4) return false;
    value = 0;
    for (char c : text) {
        unsigned digit;
        if (IsDigit(c))
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value * 16 + digit;
    }
    return true;
}

// A decimal count 1..max, digits only.
bool ParseCount(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 12) return false;
    value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value >= 1 && value <= max;
}

// Drops the '?' that ends every conversion-table request; false when it is missing.
bool DropQuery(std::string_view& word) {
    if (word.size() < 2 || word.back() != '?') return false;
    word.remove_suffix(1);
    return true;
}

Reply ReplyRun(std::string prefix, std::string suffix, std::uint64_t count) {
    Reply reply;
    reply.run = LineRun{std::move(prefix), std::move(suffix), count};
    return reply;
}

// A channel reading that looks like a 12-bit ADC value and stays the same for the same channel,
// so tests and operators can recognise it.
Reply DiagChannel(std::string_view channel) {
    std::size_t digits = 0;
    while (digits < channel.size() && digits < 3 && IsDigit(channel[digits]))
        ++digits;
    bool valid = (digits == 1 || digits == 2) && channel.size() == digits + 3 && IsLetter(channel[digits]) &&
                 IsDigit(channel[digits + 1]) && channel[digits + 2] == '?';
    if (!valid) return ReplyLine(kErrorBadArgument);
    std::string name(channel.substr(0, digits + 2));
    unsigned hash = 2166136261u;
    for (char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return ReplyLine("DIAG CHAN_" + name + " = " + std::to_string(hash % 4096));
}

} // namespace

Reply AmpModel::Handle(std::string_view line) {
    if (std::optional<Reply> instead = gate_.Admit(line)) return *instead;
    return Dispatch(line);
}

Reply AmpModel::Dispatch(std::string_view command) {
    std::string_view rest = command;
    if (command == "STATUS?") return Status();
    if (command == "*IDN?") return Identity();
    if (command == "NOREPLY") return {};
    if (command == "DROP") {
        Reply reply;
        reply.partial = "PARTIAL";
        reply.close = true;
        return reply;
    }
    if (command == "FWD?" || command == "REFL?" || command == "TEMP?")
        return ReplyLine(ReadingLine(command.substr(0, command.size() - 1)));
    if (command == "READ?") {
        Reply reply;
        for (std::string_view name : {"FWD", "REFL", "TEMP"})
            reply.lines.push_back(ReadingLine(name));
        return reply;
    }
    if (command == "ECHO") return ReplyLine(std::string());
    if (Consume(rest, "ECHO ")) return ReplyLine(std::string(rest));
    if (Consume(rest, kRoutePrefix)) return Routed(rest);
    if (command.starts_with(kConvPrefix)) return Conversion("", command);
    if (Consume(rest, kDiagPrefix)) return DiagChannel(rest);
    std::uint64_t count = 0;
    if (Consume(rest, "MULTI? ")) {
        if (!ParseCount(rest, kMaxRunLines, count)) return ReplyLine(kErrorBadArgument);
        return ReplyRun("MULTI ", "/" + std::to_string(count), count);
    }
    if (Consume(rest, "FLOOD ")) {
        if (!ParseCount(rest, kMaxRunLines, count)) return ReplyLine(kErrorBadArgument);
        return ReplyRun("FLOOD ", "", count);
    }
    return ReplyLine(kErrorUnknownCommand);
}

// "SVC QB <address> <command>": the main board forwards the command to the board at that address.
// Only the conversion-table service lives on every board, so nothing else is forwarded.
Reply AmpModel::Routed(std::string_view rest) {
    std::size_t blank = rest.find(' ');
    if (blank == 0 || blank == std::string_view::npos) return ReplyLine(kErrorBadArgument);
    std::string board(rest.substr(0, blank));
    std::string_view command = rest.substr(blank + 1);
    if (!command.starts_with(kConvPrefix)) return ReplyLine(kErrorUnknownCommand);
    return Conversion(board, command);
}

Reply AmpModel::Conversion(const std::string& board, std::string_view command) {
    Consume(command, kConvPrefix);
    if (Consume(command, "UP ")) return ConvUpload(board, command);
    if (Consume(command, "DN ")) return ConvDownload(board, command);
    return ReplyLine(kErrorUnknownCommand);
}

// "tt ii xxxx yyyy T?": table, point index, x and y as 16-bit words in hex, sign tag S or U.
Reply AmpModel::ConvUpload(const std::string& board, std::string_view args) {
    std::vector<std::string_view> w = Words(args);
    if (w.size() != 5 || !DropQuery(w[4]) || w[4].size() != 1) return ReplyLine(kErrorBadArgument);
    unsigned table, index, x, y;
    char tag = w[4][0];
    if (!ParseHexWord(w[0], table) || table > kMaxTable || !ParseHexWord(w[1], index) ||
        index >= kTablePoints || !ParseHexWord(w[2], x) || !ParseHexWord(w[3], y) ||
        (tag != 'S' && tag != 'U'))
        return ReplyLine(kErrorBadArgument);
    if (faults_.silentPoint == index) return {};
    tables_[{board, table}][index] =
        ConvPoint{static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y), tag};
    if (std::optional<Reply> fault = ConvFault(table, index)) return *fault;
    return ReplyLine(std::string("OK"));
}

// "tt ii?": answered "CONV tt ii xxxx yyyy T", the layout the console's table download parses.
Reply AmpModel::ConvDownload(const std::string& board, std::string_view args) const {
    std::vector<std::string_view> w = Words(args);
    if (w.size() != 2 || !DropQuery(w[1])) return ReplyLine(kErrorBadArgument);
    unsigned table, index;
    if (!ParseHexWord(w[0], table) || table > kMaxTable || !ParseHexWord(w[1], index) ||
        index >= kTablePoints)
        return ReplyLine(kErrorBadArgument);
    if (std::optional<Reply> fault = ConvFault(table, index)) return *fault;
    ConvPoint p = Point(board, table, index);
    char text[64];
    std::snprintf(text, sizeof text, "CONV %02x %02x %04x %04x %c", table, index, p.x, p.y, p.tag);
    Reply reply = ReplyLine(std::string(text));
    if (faults_.doublePoint == index) reply.repeatMs = kDoubleReplyMs;
    if (faults_.latePoint == index) reply.lateMs = faults_.lateMs;
    return reply;
}

std::optional<Reply> AmpModel::ConvFault(unsigned table, unsigned index) const {
    if (faults_.silentPoint == index) return Reply{};
    if (faults_.malformedPoint != index) return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "CONV %02x %02x GARBLED", table, index);
    return ReplyLine(std::string(text));
}

ConvPoint AmpModel::Point(const std::string& board, unsigned table, std::size_t index) const {
    auto it = tables_.find({board, table});
    if (it == tables_.end() || index >= kTablePoints) return {};
    return it->second[index];
}

// Forward power wanders by a tenth of a dB from query to query, like a live reading would.
Reply AmpModel::Status() {
    static constexpr int kForwardTenths[] = {452, 453, 452, 451};
    int forward = kForwardTenths[statusQueries_++ % std::size(kForwardTenths)];
    char text[96];
    std::snprintf(text, sizeof text, "STATUS OK FWD=%d.%ddBm REFL=12.1dBm TEMP=38C", forward / 10,
                  forward % 10);
    return ReplyLine(std::string(text));
}

// Readings that drift like a warming amplifier and jitter like a real detector, deterministic so
// a test sees the same numbers every run: forward power wanders slowly around 45 dBm, reflected
// power follows it at a lower level, and the temperature climbs towards 48 C.
std::string AmpModel::ReadingLine(std::string_view name) {
    const double n = static_cast<double>(readings_++);
    double value = 0;
    const char* unit = "dBm";
    if (name == "FWD") {
        value = 45.0 + 0.8 * std::sin(n / 60.0) + 0.05 * noise_.Next();
    } else if (name == "REFL") {
        value = 12.0 + 0.3 * std::sin(n / 60.0 + 1.0) + 0.08 * noise_.Next();
    } else {
        value = 48.0 - 10.0 * std::exp(-n / 600.0) + 0.1 * noise_.Next();
        unit = "C";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*s %.2f %s", static_cast<int>(name.size()), name.data(), value, unit);
    return text;
}

Reply AmpModel::Identity() const {
    return ReplyLine("Veltrask,AmpSim," + options_.serial + ",1.0");
}

} // namespace ampsim
