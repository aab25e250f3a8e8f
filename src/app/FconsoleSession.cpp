// The console's session tools: the session log file (every log line appended to a file as it is
// logged) and the automatic reconnect of a link the far end dropped.
#include "app/Fconsole.h"

#include "app/Config.h"
#include "log/LogColours.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <filesystem>

void TFormConsole::SetUpSessionTools() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    miAutoReconnect = ui_->miAutoReconnect;
    miLogToFile = ui_->miLogToFile;
    LogFileDialog = new QFileDialog(this);
    LogFileDialog->setObjectName("LogFileDialog");
    LogFileDialog->setAcceptMode(QFileDialog::AcceptSave);
    LogFileDialog->setFileMode(QFileDialog::AnyFile);
    // Appending is the point: the dialog must not ask whether to replace the file.
    LogFileDialog->setOption(QFileDialog::DontConfirmOverwrite);
    LogFileDialog->setNameFilter("Text files (*.txt);;All files (*)");
    ChooseLogFile = [this](std::string& path) {
        if (!path.empty()) LogFileDialog->selectFile(PathToQt(path));
        if (LogFileDialog->exec() != QDialog::Accepted || LogFileDialog->selectedFiles().isEmpty())
            return false;
        path = PathFromQt(LogFileDialog->selectedFiles().first());
        return true;
    };
    TimerReconnect = new QTimer(this);
    TimerReconnect->setObjectName("TimerReconnect");
    TimerReconnect->setSingleShot(true);
    connect(TimerReconnect, &QTimer::timeout, this, guard([this] { ReconnectAttempt(); }));
    connect(miAutoReconnect, &QAction::triggered, this, guard([this] { miAutoReconnectClick(); }));
    connect(miLogToFile, &QAction::triggered, this, guard([this] { miLogToFileClick(); }));
    title_ = FromQt(windowTitle());
}

void TFormConsole::WriteSessionSetting(const char* name, const std::string& value) {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteStr(name, value);
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        AddLogLine(e.what(), LogColours::Error);
    }
}

void TFormConsole::WriteSessionSetting(const char* name, int value) {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteInt(name, value);
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        AddLogLine(e.what(), LogColours::Error);
    }
}

// --- The session log file ---

void TFormConsole::miLogToFileClick() {
    if (!miLogToFile->isChecked()) {
        StopLogFile();
        WriteSessionSetting("LogToFile", 0);
        return;
    }
    std::string path = sessionLog_.Path();
    if (!ChooseLogFile || !ChooseLogFile(path) || !StartLogFile(path)) {
        miLogToFile->setChecked(false);
        return;
    }
    WriteSessionSetting("LogFile", path);
    WriteSessionSetting("LogToFile", 1);
}

bool TFormConsole::StartLogFile(const std::string& path) {
    if (!sessionLog_.Open(path)) {
        AddLogLine(WithReason("Logging to " + path + " failed:", sessionLog_.Failure()), LogColours::Error);
        miLogToFile->setChecked(false);
        SetTitle(title_);
        return false;
    }
    miLogToFile->setChecked(true);
    StartSessionInLogFile();
    SetTitle(title_);
    AddLogLine("Logging to " + path, LogColours::Status);
    return true;
}

void TFormConsole::StopLogFile() {
    if (!sessionLog_.IsOpen()) return;
    AddLogLine("Logging to " + sessionLog_.Path() + " ended.", LogColours::Status);
    sessionLog_.Close();
    miLogToFile->setChecked(false);
    SetTitle(title_);
}

void TFormConsole::StartSessionInLogFile() {
    WriteToLogFile(SessionSeparator(GetDateTimeStamp(), connectionString_));
}

void TFormConsole::WriteToLogFile(const std::string& line) {
    if (!sessionLog_.IsOpen() || sessionLog_.WriteLine(line)) return;
    // The file is closed now, so this line goes to the screen only: said once, the console goes on.
    miLogToFile->setChecked(false);
    SetTitle(title_);
    AddLogLine(WithReason("Logging to " + sessionLog_.Path() + " stopped:", sessionLog_.Failure()),
               LogColours::Error);
}

void TFormConsole::SetTitle(const std::string& title) {
    title_ = title;
    setWindowTitle(ToQt(sessionLog_.IsOpen() ? title + " - logging to " + sessionLog_.Path() : title));
}

// --- Automatic reconnect ---

void TFormConsole::miAutoReconnectClick() {
    WriteSessionSetting("ReconnectAutomatically", miAutoReconnect->isChecked() ? 1 : 0);
    if (!miAutoReconnect->isChecked() && reconnect_.Active()) {
        // No more attempts: what was paused ends as on any drop.
        StopReconnect();
        StopSendingOnDrop();
        connected_ = false;
        UpdateConnectionUi();
    }
}

bool TFormConsole::ShouldReconnect(const std::string& reason) const {
    return !reason.empty() && miAutoReconnect->isChecked() &&
           ReconnectWayFor(connectionString_) != ReconnectWay::None;
}

void TFormConsole::BeginReconnect() {
    reconnect_.Begin(GetTickCount());
    if (ReconnectWayFor(connectionString_) != ReconnectWay::WhenDevice) {
        ScheduleReconnect();
        return;
    }
    const std::string device = SerialDevicePath(connectionString_);
    const std::string folder = std::filesystem::path(device).parent_path().string();
    if (!deviceFolder_.Start(folder)) {
        AddLogLine(WithReason("Cannot wait for " + device + ":", deviceFolder_.Failure()), LogColours::Error);
        StopReconnect();
        StopSendingOnDrop();
        return;
    }
    deviceWatch_ = new QSocketNotifier(deviceFolder_.Fd(), QSocketNotifier::Read, this);
    connect(deviceWatch_, &QSocketNotifier::activated, this,
            [this] { Guarded([this] { DeviceFolderChanged(); }); });
    // The node may be back already (or never have gone): look once now, from the event loop, as
    // the drop is being reported by the link that dropped.
    QTimer::singleShot(0, this, [this] { Guarded([this] { DeviceFolderChanged(); }); });
}

void TFormConsole::ScheduleReconnect() {
    TimerReconnect->start(static_cast<int>(reconnect_.MsUntilDue(GetTickCount())));
}

void TFormConsole::DeviceFolderChanged() {
    deviceFolder_.Drain();
    if (!reconnect_.Active() || opening_) return;
    std::error_code ignored;
    if (std::filesystem::exists(SerialDevicePath(connectionString_), ignored)) ReconnectAttempt();
}

void TFormConsole::ReconnectAttempt() {
    if (!reconnect_.Active() || opening_) return;
    const int attempt = reconnect_.Attempt(GetTickCount());
    AddLogLine("Reconnecting to " + connectionString_ + " (attempt " + std::to_string(attempt) + ")",
               LogColours::Status);
    DropLink();
    if (OpenStoredConnection(true)) {
        StopReconnect();
        ResumeSending();
        return;
    }
    if (!reconnect_.Active()) {
        // The operator gave up during the attempt (Disconnect, or Cancel in the connecting window).
        StopSendingOnDrop();
        connected_ = false;
        UpdateConnectionUi();
        return;
    }
    if (ReconnectWayFor(connectionString_) == ReconnectWay::AfterPause) ScheduleReconnect();
}

void TFormConsole::StopReconnect() {
    reconnect_.End();
    TimerReconnect->stop();
    delete deviceWatch_;
    deviceWatch_ = nullptr;
    deviceFolder_.Stop();
}

void TFormConsole::PauseSendingOnDrop() {
    repeatPaused_ = CheckBoxTxRep->isChecked();
    TimerTxRep->stop();
    pingPongPaused_ = CheckBoxPingPong->isChecked();
    if (batch_.ConnectionPaused) batch_.ConnectionPaused();
}

void TFormConsole::ResumeSending() {
    const bool repeat = repeatPaused_ && CheckBoxTxRep->isChecked();
    const bool pingPong = pingPongPaused_ && CheckBoxPingPong->isChecked();
    repeatPaused_ = pingPongPaused_ = false;
    if (repeat) TimerTxRep->start();
    if (batch_.ConnectionBack) batch_.ConnectionBack();
    // Ping-pong goes on by sending again: the reply to the last send was lost with the link.
    if (pingPong) ButtonRawSendClick(nullptr);
}
