#pragma once
// One TCP connection of a request/reply client (VXI-11's portmapper and core channel, HiSLIP's two
// channels): connect, send a whole request, take what arrives, each wait bounded by the caller's
// time-out and released at once by Cancel or Close from another thread.
//
// Threads: Connect, Send and Receive come from the thread that owns the exchange (HiSLIP's
// asynchronous channel is sent to by the caller's thread and received from by its reader thread,
// which the socket allows). Cancel, Rearm, Close and IsOpen may come from any thread.
#include "connection/FdIo.h"
#include "connection/WakeEvent.h"

#include <atomic>
#include <string>
#include <string_view>

class TcpChannel {
public:
    enum class Got {
        Bytes,    //!< Some bytes were appended.
        TimedOut, //!< None came within the time-out.
        Ended,    //!< The peer closed the connection.
        Closed,   //!< Cancel or Close ended the wait, or the channel is not connected.
        Failed,   //!< The system reported an error (failure says which).
    };

    TcpChannel() = default;
    ~TcpChannel() { Close(); }
    TcpChannel(const TcpChannel&) = delete;
    TcpChannel& operator=(const TcpChannel&) = delete;

    // The name lookup and the connect, within timeoutMs. False with failure set. A Cancel since the
    // last Rearm makes it fail at once: the owner rearms before it connects.
    bool Connect(const std::string& host, int port, int timeoutMs, std::string& failure);
    // All of bytes within timeoutMs. False with failure set; part of bytes may have gone.
    bool Send(std::string_view bytes, int timeoutMs, std::string& failure);
    // Waits up to timeoutMs for bytes and appends those that came (at most 64 KB) to into.
    Got Receive(std::string& into, int timeoutMs, std::string& failure);

    // Ends a wait under way, and every later one until Rearm.
    void Cancel() { wake_.Signal(); }
    void Rearm() { wake_.Reset(); }
    // Cancels and closes the connection.
    void Close();
    bool IsOpen() const { return fd_.IsOpen(); }

private:
    GuardedFd fd_;
    AwakeReads awake_; //!< Receive's: a reply is often quicker caught awake than woken for.
    WakeEvent wake_;   //!< Signalled by Cancel and Close; watched by every wait.
    std::atomic<bool> socketUser_{false}; //!< Whether this channel counts among SocketUsers.
};
