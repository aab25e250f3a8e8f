#include "platform/Handover.h"

Handover::Handover() : uiThread_(std::this_thread::get_id()) {}

Handover& Handover::Main() {
    static Handover main;
    return main;
}

void Handover::SetWakeup(std::function<void()> wakeup) {
    std::lock_guard guard(lock_);
    wakeup_ = std::move(wakeup);
}

void Handover::Synchronize(const Step& step) {
    if (IsUiThread()) {
        step();
        return;
    }
    Pending pending{&step, false, nullptr};
    std::function<void()> wakeup;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(&pending);
        wakeup = wakeup_;
    }
    uiCv_.notify_one();
    if (wakeup) wakeup();
    std::unique_lock guard(lock_);
    workCv_.wait(guard, [&] { return pending.done; });
    if (pending.error) std::rethrow_exception(pending.error);
}

int Handover::RunPending() {
    int ran = 0;
    std::unique_lock guard(lock_);
    while (!queue_.empty()) {
        Pending* pending = queue_.front();
        queue_.pop_front();
        guard.unlock();
        std::exception_ptr error;
        try {
            (*pending->step)();
        } catch (...) {
            error = std::current_exception();
        }
        guard.lock();
        // The worker owns the record and may leave as soon as done is set and the lock is free.
        pending->error = error;
        pending->done = true;
        workCv_.notify_all();
        ++ran;
    }
    return ran;
}

bool Handover::WaitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    // done() is asked once per round, under the lock, so a predicate that consumes what it
    // finds (an auto-reset event) sees each change exactly once.
    for (;;) {
        RunPending();
        std::unique_lock guard(lock_);
        if (done()) return true;
        if (!queue_.empty()) continue;
        if (Clock::now() >= deadline) return false;
        if (deadline == Clock::time_point::max()) {
            uiCv_.wait(guard);
        } else {
            uiCv_.wait_until(guard, deadline);
        }
    }
}

void Handover::Notify(const std::function<void()>& change) {
    {
        std::lock_guard guard(lock_);
        if (change) change();
    }
    uiCv_.notify_all();
}
