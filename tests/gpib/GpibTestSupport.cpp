#include "GpibTestSupport.h"

#include <chrono>
#include <cstdlib>

bool EventRecorder::WaitFor(intptr_t kind, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const PostedEvent& event : events_)
            if (event.lparam == kind) return true;
        return false;
    });
}

std::vector<PostedEvent> EventRecorder::Events() {
    std::lock_guard lock(mutex_);
    return events_;
}

void EventRecorder::Post(void* context, unsigned message, intptr_t wparam, intptr_t lparam) {
    auto* self = static_cast<EventRecorder*>(context);
    {
        std::lock_guard lock(self->mutex_);
        self->events_.push_back(PostedEvent{message, wparam, lparam});
    }
    self->posted_.notify_all();
}

std::string SimulatorPath() {
    return std::string(CORVANE_BIN_DIR) + "/libGpibSimulator.so";
}
std::string ProbePath() {
    return std::string(GPIB_PROBE_DIR) + "/libGpibProbe.so";
}

void GpibFixture::SetUp() {
    SetBoxes(&boxes);
}

void GpibFixture::TearDown() {
    UnloadGpibLibrary();
    SetBoxes(nullptr);
    unsetenv("CORVANE_GPIBSIM_DEVICES");
    unsetenv("CORVANE_GPIBSIM_SRQ_ON");
    unsetenv("CORVANE_GPIBSIM_SRQ_DELAY_MS");
}

void GpibFixture::LoadSimulator() {
    ASSERT_TRUE(LoadGpibLibrary(SimulatorPath()));
    ASSERT_TRUE(boxes.errors.empty());
    target = events.Target();
    gpib_init(&target);
}
