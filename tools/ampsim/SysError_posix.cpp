#include "SysError.h"

#include <cstring>

namespace ampsim {

std::string SysError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

} // namespace ampsim
