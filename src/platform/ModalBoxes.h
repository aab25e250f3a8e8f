#pragma once
// Every modal box and input box goes through this interface, so the core can ask and tell the
// operator without knowing the window system, and tests can answer in the operator's place.
// The windows install a Qt implementation at start; until then a headless one writes to standard
// error and answers Cancel / No.
#include <string>

class ModalBoxes {
public:
    virtual ~ModalBoxes() = default;
    // An error box (error icon, one OK button).
    virtual void Error(const std::string& title, const std::string& text) = 0;
    // An information box (one OK button).
    virtual void Information(const std::string& title, const std::string& text) = 0;
    // A confirmation with Yes and No; true for Yes.
    virtual bool Confirm(const std::string& title, const std::string& text) = 0;
    // The one-line text input box: caption, prompt and an editable value. OK: value := the text,
    // true. Cancel: false, value unchanged.
    virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
};

// UI thread. The installed implementation.
ModalBoxes& Boxes();
// Installs boxes (not owned; nullptr restores the headless one) and returns the previous one.
ModalBoxes* SetBoxes(ModalBoxes* boxes);
