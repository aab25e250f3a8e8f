#pragma once
// The one place where system error codes become text.
#include <string>

namespace ampsim {

// "what: <system text for err>", e.g. "bind 127.0.0.1:2500: Address already in use". err is an
// errno value on POSIX, a system or Winsock error code on Windows. One side per system.
std::string SysError(const std::string& what, int err);

} // namespace ampsim
