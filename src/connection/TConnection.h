#pragma once
// The byte transports under TIO. One object is made per connection, opened once, and closed by
// Close, by a failed write or by a read that sees the end.
//
// Threads: Read runs in TIO's reader thread; Open, Configure, Write, Close, IsOpen and destruction
// run in the UI thread. Close from the UI thread releases a Read that is blocked at that moment.
//
// Results: Read returns the bytes read (> 0), 0 for "nothing this time, call again", or a negative
// value when the connection has ended. Write returns the bytes written, 0 when a write on an open
// serial port failed, -1 when the object is not open (sockets also pass on a failed send as -1).
// A time-out of -1 means no limit.
#include <cstddef>
#include <cstdint>
#include <string>

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
    virtual bool IsOpen() const = 0;
    virtual bool Purge(int /*flags*/) { return true; }
    // Close, and for a listening transport also stop listening, so that a Read waiting for a
    // first client returns. TIO calls it before it waits for its reader thread.
    virtual void CloseAll() { Close(); }
};
