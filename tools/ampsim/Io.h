#pragma once
// ampsim's system side for its endpoints: the process set-up, TCP listeners and their clients, the
// pty, and the non-blocking reads and writes of a conversation. One side per system (Io_posix.cpp,
// Io_win32.cpp); this header names no system type. Everything here is called from the server's
// one thread.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Options.h"

namespace ampsim {

// A descriptor on POSIX, a SOCKET on Windows.
using IoHandle = std::intptr_t;
inline constexpr IoHandle kNoHandle = -1;

enum class LinkKind { Socket, Pty };

enum class IoStatus {
    Data,        // bytes moved
    Ended,       // a read found the end of the peer's input
    Interrupted, // a signal came first; try again
    WouldBlock,  // nothing can move now; for the pty master also: no client holds the slave open
    Failed,      // the conversation is over
};

struct IoResult {
    IoStatus status = IoStatus::Failed;
    std::size_t bytes = 0;
};

// The options this system cannot serve, as a message; empty when it serves them all.
std::string UnsupportedOption(const Options& options);
// Readies the process before anything is printed or opened (on Windows: Winsock, and a standard
// output that ends lines in LF alone, as here). False with error when that fails.
bool PrepareIo(std::string& error);

// A non-blocking listener on endpoint; kNoHandle with error on failure. announcement gets
// "tcp HOST:PORT" with the port actually bound.
IoHandle ListenTcp(const TcpEndpoint& endpoint, std::string& announcement, std::string& error);

enum class AcceptStatus {
    Accepted,  // handle is a new non-blocking client with Nagle's delay off
    Again,     // a connection went before it was taken; try the next
    Exhausted, // out of descriptors or memory; error says so
    None,      // nothing (more) to take
};
struct AcceptResult {
    AcceptStatus status = AcceptStatus::None;
    IoHandle handle = kNoHandle;
    std::string error;
};
AcceptResult AcceptClient(IoHandle listener);

// A pty master in raw mode, non-blocking; path gets its slave's path. kNoHandle with error on
// failure, or where there are no pseudo-terminals.
IoHandle OpenPty(std::string& path, std::string& error);

IoResult ReadSome(IoHandle handle, LinkKind kind, char* buffer, std::size_t size);
IoResult WriteSome(IoHandle handle, LinkKind kind, const char* data, std::size_t size);
// Shuts a socket for sending and reads away a bounded amount of its waiting input: closing a
// socket with unread input makes the system answer with a reset, which can destroy the last reply
// before the client reads it.
void EndSending(IoHandle socket);
void CloseIo(IoHandle handle);

} // namespace ampsim
