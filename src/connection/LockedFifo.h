#pragma once
// A first-in-first-out queue of received lines shared by the reader thread (Push) and the UI
// thread (Pop, Clear). Each operation holds the lock for itself only.
#include <deque>
#include <mutex>
#include <string>

class TLockedFifo {
public:
    // stamp: when the line arrived ("hh:nn:ss.zzz"), for the log.
    void Push(const std::string& line, const std::string& stamp = {}) {
        std::lock_guard guard(lock_);
        lines_.push_back(line);
        stamps_.push_back(stamp);
    }
    // Moves the oldest line into line and returns true; empty: false, line unchanged.
    bool Pop(std::string& line) {
        std::string stamp;
        return Pop(line, stamp);
    }
    bool Pop(std::string& line, std::string& stamp) {
        std::lock_guard guard(lock_);
        if (lines_.empty()) return false;
        line = std::move(lines_.front());
        stamp = std::move(stamps_.front());
        lines_.pop_front();
        stamps_.pop_front();
        return true;
    }
    void Clear() {
        std::lock_guard guard(lock_);
        lines_.clear();
        stamps_.clear();
    }
    size_t Size() const {
        std::lock_guard guard(lock_);
        return lines_.size();
    }

private:
    mutable std::mutex lock_; //!< Protects lines_ and stamps_.
    std::deque<std::string> lines_;
    std::deque<std::string> stamps_;
};
