// The eight exports of libGpibSimulator.so. The simulator is one static object: the library's
// unload runs its destructor, which stops the event thread before the code goes away.
#include "connection/GpibDriver.h"

#include "Simulator.h"

namespace {
gpibsim::Simulator simulator;
}

extern "C" {

int32_t gpib_init(const gpib_notify_target* target) {
    return simulator.Init(target);
}
int32_t gpib_deinit(void) {
    return simulator.Deinit();
}
int32_t gpib_open(int32_t adapter, int32_t address) {
    return simulator.Open(adapter, address);
}
int32_t gpib_close(int32_t handle) {
    return simulator.Close(handle);
}

int32_t gpib_send(int32_t handle, const char* data, int32_t length, int32_t /*timeoutMs*/) {
    if (!data || length < 0) return 0;
    return simulator.Send(handle, std::string_view(data, static_cast<std::size_t>(length)));
}

int32_t gpib_recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs) {
    return simulator.Recv(handle, buffer, size, timeoutMs);
}

int32_t gpib_wait(int32_t handle, int32_t timeoutMs) {
    return simulator.Wait(handle, timeoutMs);
}
const char* gpib_geterrmsg(void) {
    return simulator.ErrorText();
}

} // extern "C"
