// The console as its session's face, and the session's menu items: the session log file (every
// log line appended to a file as it is logged) and the automatic reconnect of a dropped link.
#include "app/ConsoleFace.h"
#include "app/Fconsole.h"
#include "app/SerialTools.h"
#include "log/LogView.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QProgressDialog>
#include <QSocketNotifier>
#include <QTimer>

namespace {
// Writes one setting; a store that cannot be written is said in the log.
template <typename Value> void WriteSetting(ConsoleSession& session, const char* name, const Value& value) {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        if constexpr (std::is_same_v<Value, int>) {
            settings.WriteInt(name, value);
        } else {
            settings.WriteStr(name, value);
        }
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        session.Log(e.what(), LogColours::Error);
    }
}
} // namespace

TConsoleFace::TConsoleFace(TFormConsole& console) : console_(console), timer_(new QTimer(&console)) {
    timer_->setObjectName("TimerReconnect");
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, &console_,
                     [this] { Guarded([this] { console_.Session().TimerDue(); }); });
}

TConsoleFace::~TConsoleFace() = default;

void TConsoleFace::ShowLine(const std::string& line, uint32_t colour) {
    console_.Log()->AppendLine(line, colour);
}

OpenResult TConsoleFace::AwaitOpen(ConsoleLink& link, std::string& reason) {
    bool finished = false;
    OpenResult result = OpenResult::Failed;
    QEventLoop loop;
    link.BeginOpen([&](OpenResult r, const std::string& why) {
        finished = true;
        result = r;
        reason = why;
        loop.quit();
    });
    if (finished) return result;
    // A connect that takes a moment gets a window that says so and offers to give up; a quick
    // one never shows it.
    QProgressDialog progress(ToQt("Connecting to " + console_.Session().Connection() + " ..."), "&Cancel", 0,
                             0, &console_);
    progress.setObjectName("ProgressConnecting");
    progress.setWindowTitle(QApplication::applicationDisplayName());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.reset();
    progress.hide();
    // Its Cancel button, Esc and closing the little window all give the attempt up, and with it
    // an automatic reconnect.
    auto giveUp = [this] { console_.Session().CancelOpen(); };
    QObject::connect(&progress, &QProgressDialog::canceled, &console_, giveUp);
    QObject::connect(&progress, &QDialog::rejected, &console_, giveUp);
    QTimer::singleShot(250, &progress, [&] {
        if (!finished) progress.show();
    });
    loop.exec();
    return result;
}

void TConsoleFace::LineReceived(const std::string& line) {
    Ui::TFormConsole& ui = *console_.ui_;
    ui.LabelLastRx->setText(ToQt(line));
    ui.LabelSpeed->setText(ToQt(console_.Session().Statistics().Caption()));
    if (ui.CheckBoxPingPong->isChecked()) {
        if (console_.Session().IsGpib()) {
            SendAgainFromLoop();
        } else {
            console_.ButtonRawSendClick(nullptr);
        }
    }
    const TFormConsole::BatchHooks& batch = console_.batch_;
    if (batch.IsVisible && batch.IsVisible() && batch.NotifyRxLine) batch.NotifyRxLine(line);
}

// A GPIB send reads its reply at once, and that reply would send again from inside the read: the
// next send waits for the event loop, so the chain never nests.
void TConsoleFace::SendAgainFromLoop() {
    QTimer::singleShot(0, &console_, [this] {
        Guarded([this] {
            if (console_.ui_->CheckBoxPingPong->isChecked()) console_.ButtonRawSendClick(nullptr);
        });
    });
}

void TConsoleFace::StateChanged() {
    console_.setWindowTitle(ToQt(console_.Session().Title()));
    console_.ui_->miLogToFile->setChecked(console_.Session().LogFile().IsOpen());
    console_.UpdateConnectionUi();
    if (console_.serial_) console_.serial_->LinkChanged();
}

void TConsoleFace::SendingEnded() {
    // Nothing keeps sending into a link that is gone: repeat and ping-pong end, a run stops.
    console_.ui_->CheckBoxTxRep->setChecked(false);
    console_.TimerTxRep->stop();
    console_.ui_->CheckBoxPingPong->setChecked(false);
    console_.repeatPaused_ = console_.pingPongPaused_ = false;
    if (console_.batch_.ConnectionLost) console_.batch_.ConnectionLost();
}

void TConsoleFace::SendingPaused() {
    console_.repeatPaused_ = console_.ui_->CheckBoxTxRep->isChecked();
    console_.TimerTxRep->stop();
    console_.pingPongPaused_ = console_.ui_->CheckBoxPingPong->isChecked();
    if (console_.batch_.ConnectionPaused) console_.batch_.ConnectionPaused();
}

void TConsoleFace::SendingResumed() {
    const bool repeat = console_.repeatPaused_ && console_.ui_->CheckBoxTxRep->isChecked();
    const bool pingPong = console_.pingPongPaused_ && console_.ui_->CheckBoxPingPong->isChecked();
    console_.repeatPaused_ = console_.pingPongPaused_ = false;
    if (repeat) console_.TimerTxRep->start();
    if (console_.batch_.ConnectionBack) console_.batch_.ConnectionBack();
    // Ping-pong goes on by sending again: the reply to the last send was lost with the link.
    if (pingPong) console_.ButtonRawSendClick(nullptr);
}

void TConsoleFace::ServiceRequest() {
    ConsoleSession& session = console_.Session();
    if (!console_.ui_->CheckBoxStatusOnSrq->isChecked() || !session.IsOpen()) return;
    if (session.Write("STATUS?")) session.ReadReply();
}

void TConsoleFace::ArmTimer(uint32_t ms) {
    timer_->start(static_cast<int>(ms));
}

void TConsoleFace::CancelTimer() {
    timer_->stop();
}

void TConsoleFace::WatchFd(int fd) {
    delete watch_;
    watch_ = nullptr;
    if (fd < 0) return;
    watch_ = new QSocketNotifier(fd, QSocketNotifier::Read, &console_);
    QObject::connect(watch_, &QSocketNotifier::activated, &console_,
                     [this] { Guarded([this] { console_.Session().FdReady(); }); });
}

// --- The menu items ---

void TFormConsole::miLogToFileClick() {
    if (!ui_->miLogToFile->isChecked()) {
        session_->StopLogFile();
        WriteSetting(*session_, "LogToFile", 0);
        return;
    }
    std::string path = session_->LogFile().Path();
    if (!ChooseLogFile || !ChooseLogFile(path) || !session_->StartLogFile(path)) {
        ui_->miLogToFile->setChecked(false);
        return;
    }
    WriteSetting(*session_, "LogFile", path);
    WriteSetting(*session_, "LogToFile", 1);
}

// The options that change the session and are remembered at once: the automatic reconnect, the
// reply statistics and the escapes in what is sent.
void TFormConsole::ConnectSessionOptions() {
    auto option = [this](auto* control, auto signal, const char* setting, auto apply) {
        connect(control, signal, this, [this, control, setting, apply] {
            Guarded([&] {
                const bool on = control->isChecked();
                apply(on);
                WriteSetting(*session_, setting, on ? 1 : 0);
            });
        });
    };
    option(ui_->miAutoReconnect, &QAction::triggered, "ReconnectAutomatically",
           [this](bool on) { session_->SetAutoReconnect(on); });
    option(ui_->miShowReplyStatistics, &QAction::triggered, "ShowReplyStatistics",
           [this](bool on) { ui_->LabelSpeed->setVisible(on); });
    option(ui_->CheckBoxEscapes, &QCheckBox::clicked, "Escapes",
           [this](bool on) { session_->SetEscapes(on); });
}
