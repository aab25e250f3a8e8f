#include "platform/Handover.h"

Handover::Handover() : uiThread_(std::this_thread::get_id()) {}

Handover::~Handover() {
    for (Pending* pending : queue_) {
        if (pending->owned) delete pending;
    }
}

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
    Pending pending;
    pending.step = &step;
    std::function<void()> wakeup;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(&pending);
        wakeup = wakeup_;
    }
    uiCv_.notify_one();
    if (wakeup) wakeup();
    // A step usually runs within microseconds; waiting awake for that long saves this thread a
    // wake-up from sleep.
    auto until = Clock::now() + std::chrono::microseconds(WorkerSpinMicros);
    while (!pending.done.load(std::memory_order_acquire) && Clock::now() < until)
        std::this_thread::yield();
    std::unique_lock guard(lock_);
    workCv_.wait(guard, [&] { return pending.done.load(); });
    if (pending.error) std::rethrow_exception(pending.error);
}

void Handover::Post(Step step) {
    auto* pending = new Pending;
    pending->owned = std::make_unique<Step>(std::move(step));
    pending->step = pending->owned.get();
    std::function<void()> wakeup;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(pending);
        wakeup = wakeup_;
    }
    uiCv_.notify_one();
    if (wakeup) wakeup();
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
        ++ran;
        if (pending->owned) {
            delete pending;
            if (error) std::rethrow_exception(error);
            continue;
        }
        // The worker owns the record and may leave as soon as done is set and the lock is free.
        pending->error = error;
        pending->done.store(true, std::memory_order_release);
        workCv_.notify_all();
    }
    return ran;
}

int Handover::RunPendingLingering(std::chrono::microseconds linger, std::chrono::microseconds budget) {
    const auto start = Clock::now();
    int ran = RunPending();
    auto lingerUntil = Clock::now() + linger;
    while (Clock::now() < std::min(lingerUntil, start + budget)) {
        if (HasPending()) {
            ran += RunPending();
            lingerUntil = Clock::now() + linger;
        } else {
            std::this_thread::yield();
        }
    }
    return ran;
}

bool Handover::HasPending() {
    std::lock_guard guard(lock_);
    return !queue_.empty();
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
