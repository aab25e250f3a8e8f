#pragma once
// The socket under a binary conversation (VXI-11's RPC records, HiSLIP's messages): bytes read into
// an input buffer that the protocol consumes from the front, and output written without ever
// blocking, the rest kept for when the peer drains it. Single-threaded, like the server's loop.
#include <cstddef>
#include <string>
#include <string_view>

#include "Io.h"

namespace ampsim {

class ByteChannel {
public:
    // Takes ownership of a non-blocking socket and closes it on destruction.
    explicit ByteChannel(IoHandle handle) : handle_(handle) {}
    ~ByteChannel();
    ByteChannel(const ByteChannel&) = delete;
    ByteChannel& operator=(const ByteChannel&) = delete;

    IoHandle Handle() const { return handle_; }
    // Reads what has arrived onto the end of Input() while it holds less than limit bytes.
    void Read(std::size_t limit);
    std::string& Input() { return input_; }
    std::size_t Buffered() const { return input_.size(); }
    // Queues bytes and writes what the peer takes now.
    void Send(std::string_view bytes);
    // Writes what the peer takes of the queued output; false once the socket failed.
    bool Flush();
    std::size_t Pending() const { return out_.size() - sent_; }
    // The peer will send nothing more.
    bool InputEnded() const { return ended_; }
    bool Failed() const { return failed_; }
    // The poll events to wait for: input while wanted and possible, output while some is queued.
    unsigned PollEvents(bool wantInput) const;

private:
    IoHandle handle_;
    std::string input_;
    std::string out_;
    std::size_t sent_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

} // namespace ampsim
