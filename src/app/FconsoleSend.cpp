// The console's conversation: the send path, the log, received lines, reply times, the history,
// repeat and ping-pong, and the GPIB-only controls.
#include "app/Fconsole.h"

#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWheelEvent>

void TFormConsole::AddLogLine(const std::string& text, uint32_t colour, bool withTimestamp) {
    const std::string line = withTimestamp ? StampedLine(GetTimeStamp(), text) : text;
    log_->AppendLine(line, colour);
    WriteToLogFile(line);
}

void TFormConsole::AddLogLineAt(const std::string& stamp, const std::string& text, uint32_t colour) {
    const std::string line = StampedLine(stamp.empty() ? GetTimeStamp() : stamp, text);
    log_->AppendLine(line, colour);
    WriteToLogFile(line);
}

bool TFormConsole::ButtonRawSendClick(QObject* sender) {
    const bool operatorSend = sender == ButtonRawSend;
    if (operatorSend && !IsConnected() && !OpenConnection()) return false;
    std::string text;
    if (!SendableText(text) || text.empty()) return false;
    if (!IsConnected()) {
        // The timer, ping-pong or a run after the link dropped: say so, never claim a send.
        AddLogLine("Not sent: not connected.", LogColours::Error);
        return false;
    }
    sendTick_ = GetTickCount();
    replyTimeShown_ = false;
    if (!link_->SendLine(text)) {
        AddLogLine(WithReason("Not sent:", link_->SendFailure()), LogColours::Error);
        return false;
    }
    if (link_->IsGpib() && CheckBoxExpectRx->isChecked()) ButtonRClick();
    if (operatorSend) AddToHistory(text);
    return true;
}

bool TFormConsole::SendableText(std::string& text) {
    // Instrument text is 8-bit: a character beyond Latin-1 would go out as '?' without a word.
    const QString typed = EditRawIn->text();
    for (QChar c : typed) {
        if (c.unicode() > 0xFF) {
            AddLogLine(NotLatin1Text(c.unicode()), LogColours::Error);
            return false;
        }
    }
    text = FromQt(typed);
    return true;
}

void TFormConsole::AddToHistory(const std::string& text) {
    history_.Add(text);
}

void TFormConsole::SendFromButton(const std::string& text, bool toBatch) {
    EditRawIn->setText(ToQt(text));
    if (toBatch) {
        if (batch_.IsVisible && batch_.IsVisible() && batch_.InsertLine) batch_.InsertLine(text);
        return;
    }
    ButtonRawSendClick(ButtonRawSend);
}

void TFormConsole::OnTxEcho(const std::string& text) {
    AddLogLine("Tx: " + TrimText(text), LogColours::Tx);
}

void TFormConsole::OnRxLine(const std::string& received, const std::string& stamp) {
    const std::string line = TrimText(received);
    AddLogLineAt(stamp, "Rx: " + line, LogColours::Rx);
    LabelLastRx->setText(ToQt(line));
    // Every line is timed from the last send, whether or not the reply time is shown.
    const uint32_t dt = TickDiff(GetTickCount(), sendTick_);
    if (stats_.Add(line, dt)) LabelSpeed->setText(ToQt(stats_.Caption()));
    if (miShowReplyTimes->isChecked() && !replyTimeShown_) {
        AddLogLine("#ReplyTime=" + std::to_string(dt) + " ms.", LogColours::Status);
        replyTimeShown_ = true;
    }
    if (CheckBoxPingPong->isChecked()) {
        if (UseGpib()) {
            // A GPIB send reads its reply at once, and that reply would send again from inside
            // the read: the next send waits for the event loop, so the chain never nests.
            QTimer::singleShot(0, this, [this] {
                Guarded([this] {
                    if (CheckBoxPingPong->isChecked()) ButtonRawSendClick(nullptr);
                });
            });
        } else {
            ButtonRawSendClick(nullptr);
        }
    }
    if (batch_.IsVisible && batch_.IsVisible() && batch_.NotifyRxLine) batch_.NotifyRxLine(line);
}

void TFormConsole::LabelSpeedDblClick() {
    stats_.Reset();
    LabelSpeed->setText(ToQt(stats_.Caption()));
}

void TFormConsole::Button1Click() {
    log_->Clear();
}

bool TFormConsole::EditRawInKeyDown(int key) {
    std::string recalled;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The typed command stays when nothing went out (the dialog cancelled, a refused line).
        if (ButtonRawSendClick(ButtonRawSend)) EditRawIn->clear();
        return true;
    case Qt::Key_Up:
        if (history_.Previous(recalled)) EditRawIn->setText(ToQt(recalled));
        EditRawIn->end(false);
        return true;
    case Qt::Key_Down:
        if (history_.Next(recalled)) EditRawIn->setText(ToQt(recalled));
        EditRawIn->end(false);
        return true;
    default:
        return false;
    }
}

bool TFormConsole::HandleWheel(int delta) {
    if (!EditRawIn->hasFocus() || delta == 0) return false;
    std::string recalled;
    if (delta > 0 ? history_.Previous(recalled) : history_.Next(recalled)) EditRawIn->setText(ToQt(recalled));
    return true;
}

void TFormConsole::EditRawInChange() {
    CheckBoxExpectRx->setChecked(EditRawIn->text().endsWith('?'));
}

void TFormConsole::CheckBoxTxRepClick() {
    TimerTxRep->setInterval(UpDownTxRep->value());
    if (CheckBoxTxRep->isChecked()) {
        TimerTxRep->start();
    } else {
        TimerTxRep->stop();
    }
    CheckBoxPingPong->setChecked(false);
}

void TFormConsole::TimerTxRepTimer() {
    ButtonRawSendClick(nullptr);
}

void TFormConsole::CheckBoxPingPongClick() {
    if (!CheckBoxPingPong->isChecked()) return;
    CheckBoxTxRep->setChecked(false);
    TimerTxRep->stop();
    ButtonRawSendClick(ButtonRawSend);
}

void TFormConsole::ButtonWClick() {
    std::string text;
    if (!link_ || !SendableText(text)) return;
    if (!link_->WriteLine(text)) AddLogLine(WithReason("Not sent:", link_->SendFailure()), LogColours::Error);
}

void TFormConsole::ButtonRClick() {
    if (link_) link_->ReadReply();
}

void TFormConsole::ButtonQClick() {
    ButtonWClick();
    ButtonRClick();
}

void TFormConsole::OnServiceRequest() {
    AddLogLine("SRQ!", LogColours::Status);
    if (!CheckBoxStatusOnSrq->isChecked() || !link_ || !link_->IsOpen()) return;
    if (!link_->WriteLine("STATUS?")) {
        AddLogLine(WithReason("Not sent:", link_->SendFailure()), LogColours::Error);
        return;
    }
    ButtonRClick();
}

bool TFormConsole::eventFilter(QObject* watched, QEvent* e) {
    bool handled = false;
    if (watched == EditRawIn && e->type() == QEvent::KeyPress) {
        Guarded([&] { handled = EditRawInKeyDown(static_cast<QKeyEvent*>(e)->key()); });
    } else if (watched == LabelSpeed && e->type() == QEvent::MouseButtonDblClick) {
        Guarded([this] { LabelSpeedDblClick(); });
        handled = true;
    } else if (e->type() == QEvent::Wheel && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->window() == this) {
        Guarded([&] { handled = HandleWheel(static_cast<QWheelEvent*>(e)->angleDelta().y()); });
    }
    return handled || QMainWindow::eventFilter(watched, e);
}
