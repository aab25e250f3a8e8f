#pragma once
// Winsock for the _win32.cpp side of the socket units: the headers in the order they need, and the
// failure of the last socket call in errno, where the shared code looks for it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>

// Puts the last Winsock failure into errno (EAGAIN for "would block", EINTR and ETIMEDOUT as
// such, any other as its Winsock code, which the system's error texts know) and returns -1.
inline int TakeSocketError() {
    const int code = ::WSAGetLastError();
    switch (code) {
    case WSAEWOULDBLOCK:
        errno = EAGAIN;
        break;
    case WSAEINTR:
        errno = EINTR;
        break;
    case WSAETIMEDOUT:
        errno = ETIMEDOUT;
        break;
    default:
        errno = code;
    }
    return -1;
}

inline SOCKET SocketOf(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned>(fd));
}
