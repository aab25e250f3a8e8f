#pragma once
// The byte transports under TIO. One object is made per connection, opened once, and closed by
// Close, by a failed write or by a read that sees the end.
//
// Threads: Open and Read run in TIO's reader thread (a connect can take seconds, and the window must
// not wait for it); Configure, Write, Close, IsOpen and destruction run in the UI thread. Close from
// the UI thread releases an Open or a Read that is blocked at that moment. In TIO's pull mode the
// reader thread only opens, and the UI thread itself reads, through ReadWithin.
//
// Results: Read returns the bytes read (> 0), 0 for "nothing this time, call again", or a negative
// value when the connection has ended. Write returns the bytes written, 0 when a write on an open
// serial port failed, -1 when the object is not open (sockets also pass on a failed send as -1).
// A time-out of -1 means no limit.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A client of a listening transport came or went; peer is "a.b.c.d:port".
enum class PeerEvent { Arrived, Left };

class TConnection {
public:
    TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;
    // Each derived destructor calls its own Deinit.
    virtual ~TConnection() = default;

    virtual void Init() {}
    virtual void Deinit() {}
    virtual bool Open(const std::string& params) = 0;
    virtual bool Configure(const std::string& mode) = 0;
    virtual void Close() = 0;
    virtual void PutChar(uint8_t byte) { Write(&byte, 1); }
    virtual int Write(const void* data, int length) = 0;
    // Writes the text's bytes up to its first 0 byte.
    virtual void WriteString(const std::string& text);
    // The byte's value when exactly one byte came, else -1.
    virtual int GetChar(int timeoutMs);
    virtual int Read(void* buffer, int size, int timeoutMs) = 0;
    // As Read, but a time-out is no end: it returns 0, "nothing this time". For a caller that
    // reads in a loop of its own and must see the time pass between reads (TIO's pull mode).
    virtual int ReadWithin(void* buffer, int size, int timeoutMs) = 0;
    virtual bool IsOpen() const = 0;
    // The descriptors a read waits on (the socket, the port; a listening transport's listener and
    // its client), for a caller that waits for them in a loop of its own and then reads with
    // ReadWithin(..., 0). Empty when the transport cannot be waited on so (a serial port on
    // Windows). The list changes as a listening transport's client comes and goes.
    virtual std::vector<int> WaitDescriptors() const { return {}; }
    // When the bytes of the last read arrived, as the system stamped them (ns since the epoch),
    // for the reading thread right after the read; 0 when it did not stamp them (a serial port).
    virtual int64_t LastArrivalNs() const { return 0; }
    virtual bool Purge(int /*flags*/) { return true; }
    // Close, and for a listening transport also stop listening, so that a Read waiting for a
    // first client returns. TIO calls it before it waits for its reader thread.
    virtual void CloseAll() { Close(); }

    // How long Open may wait for the far end (a TCP connect and its name lookup); -1: no limit.
    // Set before Open.
    int OpenTimeoutMs = -1;
    // Called in the reader thread, inside Read, when a listening transport's client arrives or
    // leaves. Set before Open.
    std::function<void(PeerEvent event, const std::string& peer)> OnPeerEvent;

    // Why the last Open or Write failed or why the connection ended ("Connection refused", "timed
    // out", "the peer closed the connection"); empty when nothing failed or the operator closed it.
    std::string Reason() const {
        std::lock_guard guard(reasonLock_);
        return reason_;
    }

protected:
    void SetReason(const std::string& reason) {
        std::lock_guard guard(reasonLock_);
        reason_ = reason;
    }
    // Keeps the first cause: an error seen while closing must not hide why the link ended.
    void SetReasonOnce(const std::string& reason) {
        std::lock_guard guard(reasonLock_);
        if (reason_.empty()) reason_ = reason;
    }

private:
    mutable std::mutex reasonLock_; //!< Protects reason_, written by either thread.
    std::string reason_;
};
