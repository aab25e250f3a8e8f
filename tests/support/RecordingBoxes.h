#pragma once
// Modal boxes answered by the test: every box is recorded, questions get scripted answers.
#include "platform/ModalBoxes.h"

#include <deque>
#include <string>
#include <vector>

class RecordingBoxes : public ModalBoxes {
public:
    struct Box {
        std::string kind; // "error", "information", "confirm", "input"
        std::string title;
        std::string text;
    };

    RecordingBoxes() { previous_ = SetBoxes(this); }
    ~RecordingBoxes() override { SetBoxes(previous_); }

    void Error(const std::string& title, const std::string& text) override {
        boxes.push_back({"error", title, text});
    }
    void Information(const std::string& title, const std::string& text) override {
        boxes.push_back({"information", title, text});
    }
    bool Confirm(const std::string& title, const std::string& text) override {
        boxes.push_back({"confirm", title, text});
        return Next();
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
        boxes.push_back({"input", caption, prompt});
        offered.push_back(value);
        if (!Next()) return false;
        if (!inputs.empty()) {
            value = inputs.front();
            inputs.pop_front();
        }
        return true;
    }

    std::vector<Box> boxes;
    std::deque<bool> answers;       // Yes/OK (true) or No/Cancel (false), in order; empty: true
    std::deque<std::string> inputs; // texts typed into input boxes, in order
    std::vector<std::string> offered;

private:
    bool Next() {
        if (answers.empty()) return true;
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    ModalBoxes* previous_ = nullptr;
};
