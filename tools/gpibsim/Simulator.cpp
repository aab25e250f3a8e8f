#include "Simulator.h"

#include "SimConfig.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace gpibsim {
namespace {

constexpr int kBusSlots = 32; // adapters and addresses 0 to 31

std::string DeviceName(int adapter, int address) {
    return std::to_string(adapter) + "," + std::to_string(address);
}

ampsim::AmpModel::Options ModelOptions(int adapter, int address) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "GS%02d%04d", adapter, address);
    return ampsim::AmpModel::Options{serial, 0};
}

bool IsUnknownCommandReply(const ampsim::Reply& reply) {
    return reply.lines.size() == 1 && reply.lines[0] == ampsim::kErrorUnknownCommand &&
           reply.run.count == 0 && reply.partial.empty();
}

} // namespace

Device::Device(int adapterNumber, int deviceAddress)
    : adapter(adapterNumber), address(deviceAddress), model(ModelOptions(adapterNumber, deviceAddress)) {}

Simulator::~Simulator() {
    // Runs when the library is unloaded: its code must not run on after that.
    events_.Stop();
}

int32_t Simulator::Init(const gpib_notify_target* target) {
    std::lock_guard lock(mutex_);
    target_ = target ? *target : gpib_notify_target{};
    return 1;
}

int32_t Simulator::Deinit() {
    events_.Stop(); // after this nothing posts
    std::lock_guard lock(mutex_);
    target_ = gpib_notify_target{};
    handles_.clear();
    devices_.clear();
    lastError_.clear();
    return 1;
}

int32_t Simulator::Open(int32_t adapter, int32_t address) {
    const bool onBus = adapter >= 0 && adapter < kBusSlots && address >= 0 && address < kBusSlots;
    if (!onBus || !DeviceAnswers(adapter, address)) {
        SetError("No device at adapter " + std::to_string(adapter) + ", address " + std::to_string(address));
        return -1;
    }
    std::lock_guard lock(mutex_);
    std::shared_ptr<Device>& device = devices_[adapter * kBusSlots + address];
    if (!device) device = std::make_shared<Device>(adapter, address);
    const int32_t handle = nextHandle_++;
    handles_[handle] = device;
    return handle;
}

int32_t Simulator::Close(int32_t handle) {
    std::lock_guard lock(mutex_);
    return handles_.erase(handle) ? 1 : 0;
}

int32_t Simulator::Send(int32_t handle, std::string_view message) {
    std::shared_ptr<Device> device = Find(handle);
    if (!device) return InvalidHandle("gpib_send", handle);
    while (!message.empty()) {
        const std::size_t lf = message.find('\n');
        std::string_view line = message.substr(0, lf);
        message.remove_prefix(lf == std::string_view::npos ? message.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) Command(device, line);
    }
    return 1;
}

int32_t Simulator::Recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs) {
    std::shared_ptr<Device> device = Find(handle);
    if (!device) return InvalidHandle("gpib_recv", handle);
    if (!buffer || size < 1) {
        SetError("gpib_recv: no room in the buffer");
        return 0;
    }
    std::unique_lock lock(device->mutex);
    auto queued = [&] { return !device->replies.Empty(); };
    if (!device->changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), queued)) {
        lock.unlock();
        SetError("Timeout: no reply from device " + DeviceName(device->adapter, device->address) +
                 " within " + std::to_string(timeoutMs) + " ms");
        return 0;
    }
    const std::string text = device->replies.Take(static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return 1;
}

int32_t Simulator::Wait(int32_t handle, int32_t timeoutMs) {
    std::shared_ptr<Device> device = Find(handle);
    if (!device) {
        SetError("gpib_wait: handle " + std::to_string(handle) + " is not open");
        return 0;
    }
    std::unique_lock lock(device->mutex);
    auto requested = [&] { return device->serviceRequested; };
    if (!device->changed.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), requested))
        return 0;
    device->serviceRequested = false;
    return 1;
}

const char* Simulator::ErrorText() {
    std::lock_guard lock(mutex_);
    errorText_ = lastError_;
    return errorText_.c_str();
}

std::shared_ptr<Device> Simulator::Find(int32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

// A call on a handle that is not open is what a real bus reports as no listener: an error event.
int32_t Simulator::InvalidHandle(const char* function, int32_t handle) {
    SetError(std::string(function) + ": handle " + std::to_string(handle) + " is not open");
    RaiseSoon(GPIB_EVENT_ERROR);
    return 0;
}

void Simulator::SetError(std::string text) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(text);
}

void Simulator::Command(const std::shared_ptr<Device>& device, std::string_view line) {
    if (line == "GPIBSIM ERROR") {
        SetError("Simulated bus error on device " + DeviceName(device->adapter, device->address));
        RaiseSoon(GPIB_EVENT_ERROR);
        return;
    }
    if (line == "GPIBSIM INTERRUPT") return RaiseSoon(GPIB_EVENT_INTERRUPT);
    if (line == "GPIBSIM SRQ") return RequestService(device, std::chrono::milliseconds(0));

    const std::string trigger = SrqTrigger();
    const bool requestsService = !trigger.empty() && line == trigger;
    {
        std::lock_guard lock(device->mutex);
        ampsim::Reply reply = device->model.Handle(line);
        if (!(requestsService && IsUnknownCommandReply(reply))) device->replies.Push(reply);
    }
    device->changed.notify_all();
    if (requestsService) RequestService(device, SrqDelay());
}

void Simulator::RequestService(const std::shared_ptr<Device>& device, std::chrono::milliseconds delay) {
    events_.Schedule(delay, [this, device] {
        {
            std::lock_guard lock(device->mutex);
            device->serviceRequested = true;
        }
        device->changed.notify_all();
        Post(GPIB_EVENT_SRQ);
    });
}

void Simulator::RaiseSoon(int kind) {
    events_.Schedule(std::chrono::milliseconds(0), [this, kind] { Post(kind); });
}

// Event thread. The host's post only queues, but it is still called without our lock held.
void Simulator::Post(int kind) {
    gpib_notify_target target;
    {
        std::lock_guard lock(mutex_);
        target = target_;
    }
    if (target.post) target.post(target.context, GPIB_NOTIFY_MESSAGE, 0, kind);
}

} // namespace gpibsim
