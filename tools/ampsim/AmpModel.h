#pragma once
// The simulated amplifier's command model: one command line in, the reply out. No I/O and no
// clock, so the TCP/pty server and the simulated GPIB driver can share it and tests can drive it
// directly. Not thread-safe: one caller at a time (the server is single-threaded; a driver that
// calls it from several threads must hold its own lock).
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ampsim {

// Error replies. ERROR_AMP_BUSY is the exact text the console reacts to.
inline constexpr std::string_view kErrorUnknownCommand = "ERROR_UNKNOWN_COMMAND";
inline constexpr std::string_view kErrorBadArgument = "ERROR_BAD_ARGUMENT";
inline constexpr std::string_view kErrorAmpBusy = "ERROR_AMP_BUSY";

// A run of generated lines prefix + i + suffix for i = 1..count. Long replies (FLOOD 1000000)
// travel this way so the caller can produce them as its peer drains them instead of holding
// them all in memory.
struct LineRun {
    std::string prefix;
    std::string suffix;
    std::uint64_t count = 0;

    std::string Line(std::uint64_t i) const { return prefix + std::to_string(i) + suffix; }
};

// What one command asks of the transport, in this order: send `lines`, then the lines of `run`,
// then `partial` with no line end, then close the connection when `close` is set. Lines carry no
// terminator; the transport adds CR LF.
struct Reply {
    std::vector<std::string> lines;
    LineRun run;
    std::string partial;
    bool close = false;
    // Timing the transport adds, in ms: the lines go out only this long after the reply is due,
    // and once more this long after that; 0 = not. The next command waits for both, as it does
    // on an instrument that answers one command at a time.
    unsigned lateMs = 0;
    unsigned repeatMs = 0;

    bool Empty() const { return lines.empty() && run.count == 0 && partial.empty() && !close; }
};

// One point of a conversion table as the board stores it: x and y as 16-bit words, the sign tag
// ('S' or 'U') that says how y is meant.
struct ConvPoint {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    char tag = 'U';
};

// Faults of one point index of every conversion table, on any board, up and down: the silent
// point's requests are lost (not stored, not answered); the malformed point's are carried out
// but answered with a line that is no point ("CONV tt ii GARBLED").
// The download reply of the double point is sent twice, kDoubleReplyMs apart; that of the late
// point lateMs late.
struct ConvFaults {
    std::optional<unsigned> silentPoint;
    std::optional<unsigned> malformedPoint;
    std::optional<unsigned> doublePoint;
    std::optional<unsigned> latePoint;
    unsigned lateMs = 1050;
};
inline constexpr unsigned kDoubleReplyMs = 50;

class AmpModel {
public:
    static constexpr std::size_t kTablePoints = 20;
    static constexpr unsigned kMaxTable = 0xff;
    static constexpr std::uint64_t kMaxRunLines = 1000000000;

    struct Options {
        std::string serial = "AS000001"; // the serial number in the *IDN? reply
        unsigned busyEvery = 0;          // every Nth command is refused with ERROR_AMP_BUSY; 0 = never
    };
    using ConvFaults = ampsim::ConvFaults;

    AmpModel() = default;
    explicit AmpModel(Options options, ConvFaults faults = {})
        : options_(std::move(options)), faults_(faults) {}

    // Runs one command line (without its LF; one trailing CR is ignored). An empty line gets an
    // empty reply and does not count as a command.
    Reply Handle(std::string_view line);

    // The stored point of a board ("" = main board) and table; unset points read x=0 y=0 tag U.
    ConvPoint Point(const std::string& board, unsigned table, std::size_t index) const;

private:
    using Table = std::array<ConvPoint, kTablePoints>;

    Reply Dispatch(std::string_view command);
    Reply Routed(std::string_view rest);
    Reply Conversion(const std::string& board, std::string_view command);
    Reply ConvUpload(const std::string& board, std::string_view args);
    Reply ConvDownload(const std::string& board, std::string_view args) const;
    // The reply a fault option puts in place of the point's own; nullopt when the point has none.
    std::optional<Reply> ConvFault(unsigned table, unsigned index) const;
    Reply Status();
    Reply Identity() const;
    // FWD?, REFL?, TEMP? and READ? (all three lines).
    std::string ReadingLine(std::string_view name);
    double Jitter();

    Options options_;
    ConvFaults faults_;
    std::uint64_t commands_ = 0;
    std::uint64_t statusQueries_ = 0;
    std::uint64_t readings_ = 0;        // readings answered, the clock of their drift
    std::uint32_t noise_ = 2463534242u; // xorshift state of the jitter: the same run every time
    std::map<std::pair<std::string, unsigned>, Table> tables_; // by (board address, table number)
};

} // namespace ampsim
