#pragma once
// The simulated GPIB driver behind libGpibSimulator.so's exports: devices on adapters 0 to 31 at
// addresses 0 to 31 (which ones answer: SimConfig.h), each a simulated amplifier (ampsim's
// AmpModel) with its own reply queue.
//
// Behaviour
// - gpib_send: one message of one or more command lines, each ended by LF (CR LF, or nothing for
//   the last one, also do). Each line goes through the device's model and its reply lines are
//   queued. The time-out is not used: sending never waits.
// - gpib_recv: the next queued reply line with its LF, 0-terminated; a line longer than the buffer
//   holds comes in pieces. Waits up to the time-out for one; then 0 and a time-out error text.
// - Commands of the simulator itself, never seen by the model: "GPIBSIM ERROR" (an error event, with
//   an error text), "GPIBSIM INTERRUPT" (an interrupt event), "GPIBSIM SRQ" (a service request now).
// - The SRQ command (CORVANE_GPIBSIM_SRQ_ON): the device requests service a moment later (an SRQ
//   event, and gpib_wait returns). It also goes to the model; a reply that says the model does not
//   know it is dropped, so "*OPC" leaves nothing to read, as on an instrument.
// - A send or receive on a handle that is not open: 0, an error text and an error event.
// Events come from the simulator's event thread only, through the target given to gpib_init.
//
// Threads: the host calls one function at a time (GpibDriver.h); the event thread reaches devices
// and the notify target under their locks. The destructor (library unload) stops the event thread.
#include "connection/GpibDriver.h"

#include "AmpModel.h"
#include "EventThread.h"
#include "ReplyQueue.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace gpibsim {

struct Device {
    Device(int adapterNumber, int deviceAddress);

    const int adapter;
    const int address;
    std::mutex mutex;                //!< Protects model, replies and serviceRequested.
    std::condition_variable changed; //!< A reply queued or service requested.
    ampsim::AmpModel model;
    ReplyQueue replies;
    bool serviceRequested = false;
};

class Simulator {
public:
    Simulator() = default;
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int32_t Init(const gpib_notify_target* target);
    int32_t Deinit();
    int32_t Open(int32_t adapter, int32_t address);
    int32_t Close(int32_t handle);
    int32_t Send(int32_t handle, std::string_view message);
    int32_t Recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs);
    int32_t Wait(int32_t handle, int32_t timeoutMs);
    const char* ErrorText();

private:
    std::shared_ptr<Device> Find(int32_t handle);
    int32_t InvalidHandle(const char* function, int32_t handle); // 0, with an error text and event
    void SetError(std::string text);
    void Command(const std::shared_ptr<Device>& device, std::string_view line);
    void RequestService(const std::shared_ptr<Device>& device, std::chrono::milliseconds delay);
    void RaiseSoon(int kind);
    void Post(int kind);

    std::mutex mutex_; //!< Protects everything below but errorText_ and events_.
    gpib_notify_target target_{};
    std::map<int, std::shared_ptr<Device>> devices_; // by adapter * 32 + address
    std::map<int32_t, std::shared_ptr<Device>> handles_;
    int32_t nextHandle_ = 0;
    std::string lastError_;
    std::string errorText_; //!< What ErrorText returned last; the host's thread only.
    EventThread events_;
};

} // namespace gpibsim
