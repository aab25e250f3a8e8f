#include "log/QueuedStream.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace {
int WriteToStream(std::FILE* stream, const char* data, std::size_t size) {
    const bool whole = std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
    return whole ? 0 : (errno != 0 ? errno : EIO);
}
} // namespace

struct QueuedStream::State {
    // What stdio holds of the stream already goes first.
    explicit State(std::FILE* s) : stream((std::fflush(s), s)), fd(DuplicateStream(s)) {}
    ~State() {
        if (fd >= 0) CloseDescriptor(fd);
    }
    std::FILE* const stream;
    const int fd;                    //!< The writer's own; -1: the stream is written with stdio.
    mutable std::mutex lock;         //!< Protects everything below.
    std::condition_variable wake;    //!< The writer: text came, or the end.
    std::condition_variable written; //!< The owner: a write ended.
    std::string queued;
    std::size_t writing = 0; //!< Bytes of the write under way.
    int error = 0;
    bool closing = false;
    bool finished = false; //!< The writer has returned.
};

QueuedStream::QueuedStream(std::FILE* stream)
    : state_(std::make_shared<State>(stream)), writer_([state = state_] { Write(state); }) {}

QueuedStream::~QueuedStream() {
    {
        std::unique_lock guard(state_->lock);
        state_->closing = true;
        state_->wake.notify_one();
        state_->written.wait_for(guard, std::chrono::milliseconds(100), [this] { return state_->finished; });
        if (!state_->finished) {
            writer_.detach(); // blocked in a write that may never return
            return;
        }
    }
    writer_.join();
}

void QueuedStream::Write(const std::shared_ptr<State>& state) {
    std::unique_lock guard(state->lock);
    for (;;) {
        state->wake.wait(guard, [&] { return state->closing || !state->queued.empty(); });
        if (state->queued.empty()) break;
        std::string text;
        text.swap(state->queued);
        // After a failure the text is let go: nothing more reaches a stream that failed.
        if (state->error == 0) {
            state->writing = text.size();
            guard.unlock();
            const int error = state->fd >= 0 ? WriteToDescriptor(state->fd, text.data(), text.size())
                                             : WriteToStream(state->stream, text.data(), text.size());
            guard.lock();
            state->writing = 0;
            state->error = error;
        }
        state->written.notify_all();
    }
    state->finished = true;
    state->written.notify_all();
}

void QueuedStream::Queue(std::string_view text) {
    if (text.empty()) return;
    std::lock_guard guard(state_->lock);
    state_->queued += text;
    state_->wake.notify_one();
}

std::size_t QueuedStream::Waiting() const {
    std::lock_guard guard(state_->lock);
    return state_->queued.size() + state_->writing;
}

int QueuedStream::Error() const {
    std::lock_guard guard(state_->lock);
    return state_->error;
}

bool QueuedStream::Drain(const std::function<bool()>& giveUp) {
    std::unique_lock guard(state_->lock);
    for (;;) {
        if ((state_->queued.empty() && state_->writing == 0) || state_->error != 0) return true;
        state_->written.wait_for(guard, std::chrono::milliseconds(PollMs));
        guard.unlock();
        const bool stop = giveUp && giveUp();
        guard.lock();
        if (stop) return (state_->queued.empty() && state_->writing == 0) || state_->error != 0;
    }
}
