#include "platform/ModalBoxes.h"

#include <cstdio>

namespace {
class HeadlessBoxes : public ModalBoxes {
public:
    void Error(const std::string& title, const std::string& text) override { Print(title, text); }
    void Information(const std::string& title, const std::string& text) override { Print(title, text); }
    bool Confirm(const std::string& title, const std::string& text) override {
        Print(title, text);
        return false;
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string&) override {
        Print(caption, prompt);
        return false;
    }

private:
    static void Print(const std::string& title, const std::string& text) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
};

HeadlessBoxes headless;
ModalBoxes* installed = &headless; // UI thread only
} // namespace

ModalBoxes& Boxes() {
    return *installed;
}

ModalBoxes* SetBoxes(ModalBoxes* boxes) {
    ModalBoxes* previous = installed;
    installed = boxes ? boxes : &headless;
    return previous == &headless ? nullptr : previous;
}
