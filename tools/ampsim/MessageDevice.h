#pragma once
// The instrument as a message link (VXI-11, HiSLIP) sees it: a whole command message in, its reply
// queued as one message, and a status byte. Each reply line ends in LF, as IEEE 488.2 instruments
// end their responses; a reply of several lines (READ?, MULTI? n) is one message. Long runs
// (FLOOD n) are produced as they are taken, so a reply costs memory only for what is being sent.
// The model's late and repeated replies (conversion-table faults) are sent once, on time: those
// faults are about a line link's timing.
//
// "*OPC" is taken here, not by the model: it raises a service request at once (status byte bit 6),
// as an instrument does whose service-request enable register is set for operation complete.
// Single-threaded; the model is shared with every other link of the server.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "Conversation.h"
#include "Instrument.h"

namespace ampsim {

class MessageDevice {
public:
    static constexpr std::uint8_t kMessageAvailable = 0x10; // MAV
    static constexpr std::uint8_t kRequestService = 0x40;   // RQS
    static constexpr int kNoStop = -1;

    struct Piece {
        std::string bytes;
        bool end = false;     // the reply's last byte is in this piece
        bool stopped = false; // the piece ends at the stop character
    };

    // model must outlive the device; each reply is due delay after its command.
    MessageDevice(Instrument& model, std::chrono::milliseconds delay) : model_(model), delay_(delay) {}

    // Runs one command message (a trailing LF or CR LF is not part of it). True when it raised a
    // new service request.
    bool Command(std::string_view message, Clock::time_point now);
    // When the oldest queued reply is (or was) due; none while nothing is queued.
    std::optional<Clock::time_point> ReplyDue() const;
    bool ReplyReady(Clock::time_point now) const;
    // Takes up to max bytes of the oldest reply, which must be ready; with a stop character
    // (0..255), the piece ends after its first occurrence.
    Piece Take(std::size_t max, int stop = kNoStop);
    // MAV while a reply is ready, RQS while a service request is pending.
    std::uint8_t StatusByte(Clock::time_point now) const;
    // A status poll ends the service request, as a serial poll does on the bus.
    void ClearServiceRequest() { serviceRequested_ = false; }
    // Device clear: the queued replies go.
    void Clear() { replies_.clear(); }

private:
    struct Queued {
        std::string text; // produced and not yet taken
        LineRun run;
        std::uint64_t next = 1; // the run's next line
        std::string tail;       // the reply's partial line, after the run
        bool tailAdded = false;
        Clock::time_point due;
    };
    // Produces the reply into text until it holds more than want bytes or all of it.
    static void Produce(Queued& reply, std::size_t want);

    Instrument& model_;
    std::chrono::milliseconds delay_;
    std::deque<Queued> replies_;
    bool serviceRequested_ = false;
};

} // namespace ampsim
