#pragma once
// A console window with its dialogs, headless, with settings in a folder of the test's own and
// modal boxes answered by the test.
#include "AmpsimProcess.h"
#include "RecordingBoxes.h"
#include "app/Fconsole.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "log/LogView.h"
#include "platform/Config.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ConsoleTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Stores a value in the console's settings before it starts.
    void Preset(const char* name, const QVariant& value);
    QVariant Stored(const char* name);
    // Answers the next open-connection dialog: OK or Cancel, after optional changes.
    void AnswerDialog(bool ok, std::function<void(TFormOpenCom&)> change = {});
    // Shows the console and runs its first activation (which shows the dialog).
    void Start();
    // Starts with connection preset and the dialog answered OK.
    void StartWith(const std::string& connection);
    // Runs the event loop until done() or the time-out.
    bool Until(const std::function<bool()>& done, int timeoutMs = 10000);
    // The log's lines (text without the time stamp) and colours.
    std::vector<std::string> LogTexts() const;
    std::vector<uint32_t> LogColours() const;
    bool LogHas(const std::string& text) const;
    // Types text into the input line and presses Enter.
    void Type(const std::string& text);
    template <class W> W* Find(const char* name) const { return console->findChild<W*>(name); }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    std::unique_ptr<TFormConsole> console;
};
