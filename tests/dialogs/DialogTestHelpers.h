#pragma once
// Small helpers of the dialog tests: controls by name, answering a modal dialog, a temporary
// folder, a scoped environment variable and recorded error boxes.
#include "platform/ModalBoxes.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

template <class Control> Control* Find(QWidget& window, const char* name) {
    auto* control = window.findChild<Control*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
}

// While it lives, acts on the next modal dialog once that runs (act gets the dialog). Declare it
// before the call that shows the dialog; leaving the scope cancels an answer that was not needed.
class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            timer_.stop();
            act_(modal);
        });
        timer_.start(10);
    }
    ModalAnswer(const ModalAnswer&) = delete;
    ModalAnswer& operator=(const ModalAnswer&) = delete;

private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-dlg-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

    // A file with text, made executable when asked; its folders are created as needed.
    void Write(const std::string& relative, const std::string& text, bool executable = false) const {
        auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
        if (executable) std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }

private:
    std::filesystem::path path_;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

// Records error boxes instead of showing them; other boxes answer No / Cancel.
class RecordedErrors : public ModalBoxes {
public:
    RecordedErrors() : previous_(SetBoxes(this)) {}
    ~RecordedErrors() override { SetBoxes(previous_); }
    RecordedErrors(const RecordedErrors&) = delete;
    RecordedErrors& operator=(const RecordedErrors&) = delete;

    void Error(const std::string&, const std::string& text) override { errors.push_back(text); }
    void Information(const std::string&, const std::string&) override {}
    bool Confirm(const std::string&, const std::string&) override { return false; }
    bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }

    std::vector<std::string> errors;

private:
    ModalBoxes* previous_;
};
