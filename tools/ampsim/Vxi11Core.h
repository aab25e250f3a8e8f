#pragma once
// VXI-11's core channel (program DEVICE_CORE 0x0607AF, version 1) for one client connection: the
// links it creates to the devices "inst0", "inst1", ... (all of them the server's one instrument,
// each link with its own reply queue and status byte), and their procedures. A write's chunks
// are joined until one carries END, then the whole command goes to the model; a read returns
// the queued reply in pieces of at most the request size, the last with END, and with nothing
// queued it waits up to its io_timeout (while a --delay'ed reply is not yet due, or forever
// absent) and then fails with I/O timeout.
//
// Not offered: the abort channel (create_link names port 0) and the interrupt channel
// (create_intr_chan, device_enable_srq and device_docmd answer "operation not supported");
// locks are granted at once, since links never wait on each other here. Single-threaded.
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "Instrument.h"
#include "MessageDevice.h"
#include "RpcProgram.h"

namespace ampsim {

class Vxi11Core : public RpcProgram {
public:
    static constexpr std::uint32_t kProgram = 0x0607AF;
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::uint32_t kMaxRecvSize = 64 * 1024;         // announced by create_link
    static constexpr std::size_t kMaxCommand = std::size_t{1} << 20; // a longer command is refused
    static constexpr std::uint32_t kMaxReadPiece = 1024 * 1024;

    // model must outlive the program; replies are due delay after their command.
    Vxi11Core(Instrument& model, std::chrono::milliseconds delay) : model_(model), delay_(delay) {}

    std::uint32_t Number() const override { return kProgram; }
    std::uint32_t Version() const override { return kVersion; }
    RpcOutcome Call(std::uint32_t procedure, std::string_view args, Clock::time_point arrived,
                    Clock::time_point now) override;

private:
    struct Link {
        MessageDevice device;
        std::string command; // chunks written so far, waiting for the one with END
        bool locked = false;
    };

    RpcOutcome CreateLink(std::string_view args);
    RpcOutcome Write(std::string_view args, Clock::time_point now);
    RpcOutcome Read(std::string_view args, Clock::time_point arrived, Clock::time_point now);
    // The procedures that take Device_GenericParms: readstb, trigger, clear, remote, local.
    RpcOutcome Generic(std::uint32_t procedure, std::string_view args, Clock::time_point now);
    RpcOutcome Lock(std::uint32_t procedure, std::string_view args);
    RpcOutcome DestroyLink(std::string_view args);
    Link* Find(std::uint32_t id);

    Instrument& model_;
    std::chrono::milliseconds delay_;
    std::map<std::uint32_t, Link> links_;
    std::uint32_t nextLink_ = 1;
};

} // namespace ampsim
