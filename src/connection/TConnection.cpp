#include "connection/TConnection.h"

#include <cstring>

void TConnection::WriteString(const std::string& text) {
    Write(text.c_str(), static_cast<int>(::strnlen(text.c_str(), text.size())));
}

int TConnection::GetChar(int timeoutMs) {
    uint8_t byte = 0;
    return Read(&byte, 1, timeoutMs) == 1 ? byte : -1;
}
