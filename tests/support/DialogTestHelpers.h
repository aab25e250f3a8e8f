#pragma once
// Small helpers of the dialog tests: controls by name, answering a modal dialog and recorded
// error boxes.
#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/ModalBoxes.h"

#include <QApplication>
#include <QSettings>
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

// The settings of a window under test in a folder of its own, never the user's: declare it before
// the window, whose constructor may read (and so write) settings.
class TemporarySettings {
public:
    TemporarySettings() {
        const QString path = QString::fromStdString(dir_.Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }

private:
    TempDir dir_;
};

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
