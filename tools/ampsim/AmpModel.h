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

#include "Instrument.h"

namespace ampsim {

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

class AmpModel : public Instrument {
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
        : options_(std::move(options)), faults_(faults), gate_(options_.busyEvery) {}

    Reply Handle(std::string_view line) override;

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

    Options options_;
    ConvFaults faults_;
    CommandGate gate_;
    std::uint64_t statusQueries_ = 0;
    std::uint64_t readings_ = 0; // readings answered, the clock of their drift
    Noise noise_;
    std::map<std::pair<std::string, unsigned>, Table> tables_; // by (board address, table number)
};

} // namespace ampsim
