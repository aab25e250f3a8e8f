// What the system queries mean on every system; the system's own answers are in System_posix.cpp
// and System_win32.cpp.
#include "platform/System.h"

#include <algorithm>

// Operators know the machine by its short name, which by old convention has at most 15 characters.
std::string GetLocalComputerName() {
    const std::string name = SystemHostName();
    return name.substr(0, std::min<size_t>(name.find('.'), 15));
}

std::string GetSystemErrorText(int code) {
    return SystemErrorText(code);
}
