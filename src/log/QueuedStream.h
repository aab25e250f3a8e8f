#pragma once
// Text for a stream (standard output or error) written by a thread of its own, so that a reader
// that stops reading (a full pipe, a paused terminal) never holds the thread that queues it: the
// headless run goes on reading its link, and a signal or --max-seconds still ends it. Text goes
// out whole and in order; once a write fails nothing more is written.
//
// The writer writes through a descriptor of its own, a copy of the stream's, never through stdio:
// a write that never returns must not hold stdio's lock or buffer, which the program's exit
// flushes, and the caller may close its stream while a write waits. A stream without a descriptor
// (a memory stream) is written with fwrite.
//
// Threads: Queue, Drain and the queries from one thread, the owner's; the writer is the object's
// own. A writer still blocked in a write when the object goes is left behind with state of its
// own, and ends with the process.
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

// Each system's side is in QueuedStream_posix.cpp and QueuedStream_win32.cpp.
// A descriptor of the writer's own for stream; -1 when it has none.
int DuplicateStream(std::FILE* stream);
// Writes all of size bytes, waiting as long as it takes; 0 or the system's error code.
int WriteToDescriptor(int fd, const char* data, std::size_t size);
void CloseDescriptor(int fd);

class QueuedStream {
public:
    // How often Drain asks whether to give up.
    static constexpr int PollMs = 10;

    // stream stays the caller's; without a descriptor, it must outlive the object.
    explicit QueuedStream(std::FILE* stream);
    // Waits a moment for the writer to finish; one that does not is left behind.
    ~QueuedStream();
    QueuedStream(const QueuedStream&) = delete;
    QueuedStream& operator=(const QueuedStream&) = delete;

    // Hands text to the writer; never waits.
    void Queue(std::string_view text);
    // Bytes queued that the stream has not taken yet.
    std::size_t Waiting() const;
    // The error code of the write that failed; 0 while none has.
    int Error() const;
    // Waits until everything queued is written or a write failed (true), or until giveUp, asked
    // every PollMs, says so (false).
    bool Drain(const std::function<bool()>& giveUp);

private:
    struct State;
    static void Write(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread writer_;
};
