#include "StopSources.h"

// winsock2.h before anything that includes windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <thread>

#include "SysError.h"

namespace ampsim {
namespace {

// WSAPoll waits on sockets only, so the console's events and the end of standard input, which
// arrive on threads of their own, reach the loop as a datagram that a loopback UDP socket sends to
// itself. A console handler is handed no context, hence these two: the address is written before
// the socket is published, and neither changes while it is.
std::atomic<SOCKET> wakeSocket{INVALID_SOCKET};
sockaddr_in wakeAddress{};

void Wake() {
    const SOCKET socket = wakeSocket.load(std::memory_order_acquire);
    if (socket == INVALID_SOCKET) return;
    const char byte = 1;
    ::sendto(socket, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wakeAddress), sizeof wakeAddress);
}

// Ctrl+C stands for SIGINT; Ctrl+Break, closing the console and shutting down for SIGTERM. For a
// close or a shut-down the system ends the process once the handler returns; the loop may not have
// finished by then, which costs nothing: ampsim keeps no state.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    Wake();
    return TRUE;
}

// A pipe cannot be waited on with WSAPoll, so a thread reads standard input away until it ends
// (end of file, a broken pipe, or no standard input at all). It is never joined: it may sit in
// ReadFile until the process exits.
void WatchStdin() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    Wake();
}

// The wake-up socket: non-blocking, bound to a free loopback port, its address in address.
SOCKET OpenWakeSocket(sockaddr_in& address, int& err) {
    SOCKET socket = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        err = ::WSAGetLastError();
        return INVALID_SOCKET;
    }
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    u_long on = 1;
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::ioctlsocket(socket, FIONBIO, &on) != 0) {
        err = ::WSAGetLastError();
        ::closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

} // namespace

struct StopSources::State {
    SOCKET wake = INVALID_SOCKET;
    std::size_t index = 0;
};

StopSources::StopSources() : state_(std::make_unique<State>()) {}

// A handler or the stdin thread that loaded the socket just before this may still send on it
// after it is closed; that send fails and nothing else happens.
StopSources::~StopSources() {
    if (state_->wake == INVALID_SOCKET) return;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    wakeSocket.store(INVALID_SOCKET, std::memory_order_release);
    ::closesocket(state_->wake);
}

bool StopSources::Open(bool watchStdin, std::string& error) {
    int err = 0;
    sockaddr_in address{};
    state_->wake = OpenWakeSocket(address, err);
    if (state_->wake == INVALID_SOCKET) {
        error = SysError("wake-up socket", err);
        return false;
    }
    wakeAddress = address;
    wakeSocket.store(state_->wake, std::memory_order_release);
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        error = SysError("SetConsoleCtrlHandler", static_cast<int>(::GetLastError()));
        return false;
    }
    if (watchStdin) std::thread(WatchStdin).detach();
    return true;
}

void StopSources::AddTo(PollSet& set) {
    state_->index = set.Add(static_cast<IoHandle>(state_->wake), kPollIn);
}

bool StopSources::Stopped(const PollSet& set) {
    if (!set.Events(state_->index)) return false;
    bool woken = false;
    char byte = 0;
    while (::recv(state_->wake, &byte, 1, 0) > 0)
        woken = true;
    return woken;
}

} // namespace ampsim
