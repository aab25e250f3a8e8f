#pragma once
// A session with a LAN instrument that talks in whole messages (VXI-11, HiSLIP), as the link layer
// drives it: open, write a message, read a message, the status byte, a device clear, close. Every
// call blocks on the caller's thread until it is done, fails, or its time-out passes; none throws.
//
// Threads: Open, Write, Read, ReadStatusByte and Clear come from one thread at a time (the link's
// worker, never the window's thread: they wait on the network). Close may come from any thread,
// also while another thread is blocked in a call: that call returns false at once ("closed") and
// Close then ends the session the protocol's way. IsOpen and Failure may be asked from any thread.
// OnServiceRequest and OnProtocolError are set before Open and left alone while the session is
// open; each client says on which thread it calls them. A callback must not call Close or destroy
// the session (Close waits for the thread that runs the callback).
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct SessionTarget {
    std::string host;           //!< A name or a dotted IPv4 address.
    int port = 0;               //!< 0: the protocol's own (VXI-11's portmapper 111, HiSLIP 4880).
    std::string device;         //!< "inst0", "hislip0"; empty: the protocol's first device.
    int timeoutMs = 5000;       //!< For each step of Open (lookup and connect, each exchange).
    int termChar = -1;          //!< 0..255: a read also ends after this byte where the protocol can tell.
    uint32_t lockTimeoutMs = 0; //!< Sent where the protocol asks for one; this session takes no lock.
};

class MessageSession {
public:
    // The longest message Read gathers; a longer one is a failure, not an allocation.
    static constexpr size_t MaxMessage = 16u << 20;

    virtual ~MessageSession() = default;

    // False with Failure() saying why; a session that fails to open holds nothing.
    virtual bool Open(const SessionTarget& target) = 0;
    // One whole message, sent with END.
    virtual bool Write(const std::string& message, int timeoutMs) = 0;
    // One whole message, up to END (or the termination character). On false, message holds the
    // bytes that came before the failure.
    virtual bool Read(std::string& message, int timeoutMs) = 0;
    virtual bool ReadStatusByte(uint8_t& status, int timeoutMs) = 0;
    // The device clear; the session stays open.
    virtual bool Clear(int timeoutMs) = 0;
    // Ends the session the protocol's way (within a short bound) and closes its connections.
    virtual void Close() = 0;
    // False once closed, and after a failure that ends the session (a connection lost, a fatal
    // error from the instrument); a time-out or a device's error leaves it open.
    virtual bool IsOpen() const = 0;
    // Why the last call failed; empty after a call that succeeded.
    std::string Failure() const {
        std::lock_guard guard(failureLock_);
        return failure_;
    }

    std::function<void()> OnServiceRequest;
    // An error the instrument reports, or a loss of the session, that no call is waiting for.
    std::function<void(const std::string&)> OnProtocolError;

protected:
    // Keeps reason for Failure; false, so a call can end with `return Fail(...)`.
    bool Fail(const std::string& reason) {
        std::lock_guard guard(failureLock_);
        failure_ = reason;
        return false;
    }
    // A time-out as failures name it: "250 ms".
    static std::string Ms(int timeoutMs) { return std::to_string(timeoutMs) + " ms"; }

private:
    mutable std::mutex failureLock_; //!< Protects failure_: Failure may be asked from any thread.
    std::string failure_;
};
