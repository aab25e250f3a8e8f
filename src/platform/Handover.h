#pragma once
// The synchronous hand-over from worker threads to the UI thread.
//
// A worker calls Synchronize(step) and blocks until the UI thread has run the step. The UI thread
// runs pending steps from its event loop (RunPending, prompted by the wake-up hook) and while it
// waits for a worker (WaitUntil), so a worker that hands over its last notification while the UI
// thread waits for it to end is never stuck.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Handover {
public:
    using Step = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    // The thread that constructs the object is taken as the UI thread.
    Handover();
    // Posted steps that never ran are dropped.
    ~Handover();
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;

    // The process-wide instance the windows run.
    static Handover& Main();

    // Any thread. Runs step in the UI thread and returns after it has run there. Called on the
    // UI thread itself, the step runs at once. An exception escaping the step is passed back to
    // the worker, so the UI loop never sees it.
    void Synchronize(const Step& step);

    // Any thread. Queues step for the UI thread and returns at once (a driver's event, posted the
    // way a window message is). Posted steps run with the synchronous ones, in queue order.
    void Post(Step step);

    // UI thread. Runs every step queued so far; returns how many ran.
    int RunPending();

    // UI thread. Runs the pending steps, then stays a little (linger) for more before it returns
    // to the event loop, at most budget in all. A worker that hands over a line per reply finds
    // the UI thread still awake: a sleeping thread's wake-up across CPUs costs far more than the
    // step itself.
    int RunPendingLingering(std::chrono::microseconds linger, std::chrono::microseconds budget);

    // UI thread. Runs queued steps until done() is true or the deadline passes; returns done().
    // done() is evaluated with the hand-over lock held: it must be cheap and must not call back.
    // Another thread that changes what done() looks at wakes the wait with Notify.
    bool WaitUntil(const std::function<bool()>& done, Clock::time_point deadline = Clock::time_point::max());

    // Any thread. Runs change() under the hand-over lock and wakes a UI thread in WaitUntil.
    void Notify(const std::function<void()>& change = {});

    // Called (from the queuing thread) whenever a step is queued, so an event loop can be woken to
    // call RunPending. Set once at start, before any worker runs.
    void SetWakeup(std::function<void()> wakeup);

    bool IsUiThread() const { return std::this_thread::get_id() == uiThread_; }
    // Makes the calling thread the UI thread (tests that build the object elsewhere).
    void AdoptCurrentThread() { uiThread_ = std::this_thread::get_id(); }

private:
    static constexpr int WorkerSpinMicros = 50;
    bool HasPending();

    struct Pending {
        const Step* step;
        std::unique_ptr<Step> owned;   //!< A posted step: nobody waits, the record deletes itself.
        std::atomic<bool> done{false}; // set under lock_; read without it while the worker spins
        std::exception_ptr error;
    };

    std::thread::id uiThread_;
    std::mutex lock_;                //!< Protects queue_ and the Pending records it points to.
    std::condition_variable uiCv_;   //!< The UI thread waits here in WaitUntil.
    std::condition_variable workCv_; //!< Workers wait here for their step to be run.
    std::deque<Pending*> queue_;
    std::function<void()> wakeup_;
};
