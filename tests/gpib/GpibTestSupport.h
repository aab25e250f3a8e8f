#pragma once
// Shared by the GPIB tests: a message-box recorder, a notify target that records the driver's
// events, the driver files, and a fixture that leaves no library loaded and no setting behind.
#include "connection/Gpib.h"
#include "platform/ModalBoxes.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Answers every box in the operator's place and remembers the error boxes (title, text).
class RecordingBoxes : public ModalBoxes {
public:
    void Error(const std::string& title, const std::string& text) override {
        errors.emplace_back(title, text);
    }
    void Information(const std::string&, const std::string&) override {}
    bool Confirm(const std::string&, const std::string&) override { return false; }
    bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }

    std::vector<std::pair<std::string, std::string>> errors;
};

struct PostedEvent {
    unsigned message;
    intptr_t wparam;
    intptr_t lparam;
};

// A notify target as the console gives one: post only queues. Any thread may post.
class EventRecorder {
public:
    gpib_notify_target Target() { return gpib_notify_target{this, &EventRecorder::Post}; }
    // Waits until an event of the kind has been posted; false after timeoutMs.
    bool WaitFor(intptr_t kind, int timeoutMs = 5000);
    std::vector<PostedEvent> Events();

private:
    static void Post(void* context, unsigned message, intptr_t wparam, intptr_t lparam);

    std::mutex mutex_; //!< Protects events_.
    std::condition_variable posted_;
    std::vector<PostedEvent> events_;
};

std::string SimulatorPath();
std::string ProbePath();

class GpibFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Loads the simulator and starts its session with the recorder as the notify target.
    void LoadSimulator();

    RecordingBoxes boxes;
    EventRecorder events;
    gpib_notify_target target{};
};
