// What the serial transport does the same on every system; each system's side is in
// SerialConnection_posix.cpp and SerialConnection_win32.cpp.
#include "connection/SerialConnection.h"

void TSerialConnection::Init() {}

void TSerialConnection::Deinit() {
    Close();
}

int TSerialConnection::Read(void* buffer, int size, int /*timeoutMs*/) {
    return ReadWithin(buffer, size, -1);
}
