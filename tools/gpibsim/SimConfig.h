#pragma once
// The simulator's settings, read from the environment when they are needed, so a test or an
// operator can change them between calls without reloading the library.
//
// CORVANE_GPIBSIM_DEVICES       which devices answer: entries "adapter:address" separated by
//                               commas, address "*" for 1 to 30. Default "0:*" (address 0 is the
//                               controller's own and 31 is no device address).
// CORVANE_GPIBSIM_SRQ_ON        the command after which the device requests service. Default
//                               "*OPC"; empty: never.
// CORVANE_GPIBSIM_SRQ_DELAY_MS  how long after that command the request comes. Default 10.
//
// Threads: the caller's thread only (getenv is not safe against a concurrent setenv).
#include <chrono>
#include <string>

namespace gpibsim {

// Whether list (the syntax of CORVANE_GPIBSIM_DEVICES) names the device. Malformed entries are
// skipped.
bool DeviceListHas(const std::string& list, int adapter, int address);

bool DeviceAnswers(int adapter, int address);
std::string SrqTrigger();
std::chrono::milliseconds SrqDelay();

} // namespace gpibsim
