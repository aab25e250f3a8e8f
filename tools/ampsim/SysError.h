#pragma once
// The one place where system error codes become text.
#include <string>

namespace ampsim {

// "what: <system text for err>", e.g. "bind 127.0.0.1:2500: Address already in use".
std::string SysError(const std::string& what, int err);

} // namespace ampsim
