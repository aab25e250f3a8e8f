#pragma once
// The simulated RF power meter (ampsim --meter): a sensor on the amplifier's output coupler, so its
// reading wanders around 45 dBm as the amplifier's forward power does, with the same kind of
// deterministic jitter. A frequency correction and a coupler offset act on the reading, so that a
// test can see its settings work. Setting commands answer nothing, as SCPI instruments do. No I/O
// and no clock; one caller at a time.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "Instrument.h"

namespace ampsim {

class MeterModel : public Instrument {
public:
    static constexpr double kDefaultFrequencyHz = 1e9;
    static constexpr double kMinFrequencyHz = 1e6;
    static constexpr double kMaxFrequencyHz = 110e9;
    static constexpr double kMaxOffsetDb = 100; // either way

    struct Options {
        std::string serial = "AS000001"; // the serial number in the *IDN? reply
        unsigned busyEvery = 0;          // every Nth command is refused with ERROR_AMP_BUSY; 0 = never
    };

    MeterModel() = default;
    explicit MeterModel(Options options) : options_(std::move(options)), gate_(options_.busyEvery) {}

    Reply Handle(std::string_view line) override;

private:
    enum class Unit { Dbm, Watt };

    Reply Dispatch(std::string_view keyword, std::string_view argument);
    // The commands without an argument.
    Reply Plain(std::string_view keyword);
    // UNIT, FREQ and OFFS with their argument.
    Reply Set(std::string_view keyword, std::string_view argument);
    void Reset();
    // The next reading in the current unit, as the meter prints it.
    std::string Reading();
    // The next reading in dBm, settings applied.
    double PowerDbm();

    Options options_;
    CommandGate gate_;
    Noise noise_;
    std::uint64_t readings_ = 0; // readings taken, the clock of their drift
    Unit unit_ = Unit::Dbm;
    double frequencyHz_ = kDefaultFrequencyHz;
    double offsetDb_ = 0;
};

} // namespace ampsim
