#include "EventThread.h"

namespace gpibsim {

void EventThread::Schedule(std::chrono::milliseconds delay, Action action) {
    {
        std::lock_guard lock(mutex_);
        due_.emplace(Clock::now() + delay, std::move(action));
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
}

void EventThread::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        due_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

void EventThread::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (due_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = due_.begin();
        // A copy: the entry may be gone while the wait has the lock released.
        const Clock::time_point moment = first->first;
        if (Clock::now() < moment) {
            wake_.wait_until(lock, moment);
            continue;
        }
        Action action = std::move(first->second);
        due_.erase(first);
        // The action posts to the host, which may take its own locks: never run it under ours.
        lock.unlock();
        action();
        lock.lock();
    }
}

} // namespace gpibsim
