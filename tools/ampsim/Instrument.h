#pragma once
// What ampsim's transports see of a simulated instrument: one command line in, the reply out. The
// amplifier (AmpModel) and the power meter (MeterModel) are both one; the server holds the one its
// options ask for and every link shares it. No I/O and no clock. Not thread-safe: one caller at a
// time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

class Instrument {
public:
    virtual ~Instrument() = default;

    // Runs one command line (without its LF; one trailing CR is ignored). An empty line gets an
    // empty reply and does not count as a command.
    virtual Reply Handle(std::string_view line) = 0;
};

// What every instrument does with a line before its own commands look at it: the trailing CR goes,
// an empty line is answered with nothing, and every Nth command (--busy-every, counted over all
// links) is refused with ERROR_AMP_BUSY without running.
class CommandGate {
public:
    explicit CommandGate(unsigned busyEvery = 0) : busyEvery_(busyEvery) {}

    // The reply that takes the command's place, or none when the command (line, trimmed) is to run.
    std::optional<Reply> Admit(std::string_view& line);

private:
    unsigned busyEvery_;
    std::uint64_t commands_ = 0;
};

// The detector noise of the simulated readings: xorshift32 from a fixed seed, so that a test sees
// the same numbers on every run.
class Noise {
public:
    // Uniform in [-1, 1).
    double Next();

private:
    std::uint32_t state_ = 2463534242u;
};

// A reply of one line.
Reply ReplyLine(std::string line);

} // namespace ampsim
