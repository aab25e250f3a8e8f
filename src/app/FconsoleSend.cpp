// The console's conversation: the send path, the log, received lines, reply times, the history,
// repeat and ping-pong, and the GPIB-only controls.
#include "app/Fconsole.h"

#include "app/SerialTools.h"
#include "console/LogTexts.h"
#include "log/HexBytes.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

void TFormConsole::AddLogLine(const std::string& text, uint32_t colour) {
    session_->Log(text, colour);
}

bool TFormConsole::ButtonRawSendClick(QObject* sender) {
    return SendInput(sender, ui_->ActionHexIn->isChecked());
}

bool TFormConsole::SendTextCommand(const std::string& text, QObject* sender) {
    SetRawInText(text);
    return SendInput(sender, false);
}

bool TFormConsole::SendInput(QObject* sender, bool hex) {
    const bool operatorSend = sender == ui_->ButtonRawSend;
    std::string text;
    std::string bytes;
    // Typed hex that cannot be sent is said before any connection is asked for.
    if (hex && (!SendableText(text) || !HexInputBytes(text, bytes))) return false;
    if (operatorSend && !session_->IsOpen() && !OpenConnection()) return false;
    if (!hex && (!SendableText(text) || text.empty())) return false;
    const bool sent = hex ? !bytes.empty() && session_->SendBytes(bytes) : session_->Send(text);
    if (!sent) return false;
    if (session_->ReadsOnRequest() && ui_->CheckBoxExpectRx->isChecked()) ButtonRClick();
    if (operatorSend) history_.Add(text);
    return true;
}

bool TFormConsole::SendableText(std::string& text) {
    // Instrument text is 8-bit: a character beyond Latin-1 would go out as '?' without a word.
    const QString typed = ui_->EditRawIn->text();
    for (QChar c : typed) {
        if (c.unicode() > 0xFF) {
            AddLogLine(NotLatin1Text(c.unicode()), LogColours::Error);
            return false;
        }
    }
    text = FromQt(typed);
    return true;
}

bool TFormConsole::HexInputBytes(const std::string& typed, std::string& bytes) {
    std::string fault;
    if (ParseHexBytes(typed, bytes, fault)) {
        statusBar()->clearMessage();
        return true;
    }
    statusBar()->showMessage(ToQt("Hex input: " + fault));
    return false;
}

void TFormConsole::SendFromButton(const std::string& text, bool toBatch) {
    if (toBatch) {
        ui_->EditRawIn->setText(ToQt(text));
        if (batch_.IsVisible && batch_.IsVisible() && batch_.InsertLine) batch_.InsertLine(text);
        return;
    }
    SendTextCommand(text, ui_->ButtonRawSend);
}

bool TFormConsole::EditRawInKeyDown(int key) {
    std::string recalled;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The typed command stays when nothing went out (the dialog cancelled, a refused line).
        if (ButtonRawSendClick(ui_->ButtonRawSend)) ui_->EditRawIn->clear();
        return true;
    case Qt::Key_Up:
        if (history_.Previous(recalled)) ui_->EditRawIn->setText(ToQt(recalled));
        ui_->EditRawIn->end(false);
        return true;
    case Qt::Key_Down:
        if (history_.Next(recalled)) ui_->EditRawIn->setText(ToQt(recalled));
        ui_->EditRawIn->end(false);
        return true;
    default:
        return false;
    }
}

bool TFormConsole::HandleWheel(int delta) {
    if (!ui_->EditRawIn->hasFocus() || delta == 0) return false;
    std::string recalled;
    if (delta > 0 ? history_.Previous(recalled) : history_.Next(recalled))
        ui_->EditRawIn->setText(ToQt(recalled));
    return true;
}

void TFormConsole::CheckBoxTxRepClick() {
    TimerTxRep->setInterval(ui_->UpDownTxRep->value());
    if (ui_->CheckBoxTxRep->isChecked()) {
        TimerTxRep->start();
    } else {
        TimerTxRep->stop();
    }
    ui_->CheckBoxPingPong->setChecked(false);
}

void TFormConsole::CheckBoxPingPongClick() {
    if (!ui_->CheckBoxPingPong->isChecked()) return;
    ui_->CheckBoxTxRep->setChecked(false);
    TimerTxRep->stop();
    ButtonRawSendClick(ui_->ButtonRawSend);
}

void TFormConsole::ButtonWClick() {
    std::string text;
    if (SendableText(text)) session_->Write(text);
}

void TFormConsole::ButtonRClick() {
    session_->ReadReply();
}

// Repeat and ping-pong go on over the new link; they end only when there is none.
void TFormConsole::miReconnectClick() {
    session_->Close(true);
    // A short pause lets an instrument notice the old link is gone before the new one comes.
    QThread::msleep(500);
    if (!OpenConnection()) EndSending();
}

// --- The sending state, as the session tells of received lines and of the link ---

void TFormConsole::TakeReceivedLine(const std::string& line) {
    ui_->LabelLastRx->setText(ToQt(session_->LastReply()));
    ui_->LabelSpeed->setText(ToQt(session_->Statistics().Caption()));
    if (ui_->CheckBoxPingPong->isChecked()) {
        if (session_->IsGpib()) {
            SendAgainFromLoop();
        } else {
            ButtonRawSendClick(nullptr);
        }
    }
    if (batch_.IsVisible && batch_.IsVisible() && batch_.NotifyRxLine) batch_.NotifyRxLine(line);
}

void TFormConsole::SendAgainFromLoop() {
    QTimer::singleShot(0, this, [this] {
        Guarded([this] {
            if (ui_->CheckBoxPingPong->isChecked()) ButtonRawSendClick(nullptr);
        });
    });
}

void TFormConsole::ShowSessionState() {
    setWindowTitle(ToQt(session_->Title()));
    ui_->miLogToFile->setChecked(session_->LogFile().IsOpen());
    UpdateConnectionUi();
    if (serial_) serial_->LinkChanged();
    if (!unendedCheck_) return;
    if (session_->IsOpen()) {
        unendedCheck_->start();
    } else {
        unendedCheck_->stop();
    }
}

void TFormConsole::EndSending() {
    // Nothing keeps sending into a link that is gone: repeat and ping-pong end, a run stops.
    ui_->CheckBoxTxRep->setChecked(false);
    TimerTxRep->stop();
    ui_->CheckBoxPingPong->setChecked(false);
    repeatPaused_ = pingPongPaused_ = false;
    if (batch_.ConnectionLost) batch_.ConnectionLost();
}

void TFormConsole::PauseSending() {
    repeatPaused_ = ui_->CheckBoxTxRep->isChecked();
    TimerTxRep->stop();
    pingPongPaused_ = ui_->CheckBoxPingPong->isChecked();
    if (batch_.ConnectionPaused) batch_.ConnectionPaused();
}

void TFormConsole::ResumeSending() {
    const bool repeat = repeatPaused_ && ui_->CheckBoxTxRep->isChecked();
    const bool pingPong = pingPongPaused_ && ui_->CheckBoxPingPong->isChecked();
    repeatPaused_ = pingPongPaused_ = false;
    if (repeat) TimerTxRep->start();
    if (batch_.ConnectionBack) batch_.ConnectionBack();
    if (pingPong) ButtonRawSendClick(nullptr);
}

void TFormConsole::AnswerServiceRequest() {
    if (!ui_->CheckBoxStatusOnSrq->isChecked() || !session_->IsOpen()) return;
    if (session_->Write("STATUS?")) session_->ReadReply();
}

bool TFormConsole::eventFilter(QObject* watched, QEvent* e) {
    bool handled = false;
    if (watched == ui_->EditRawIn && e->type() == QEvent::KeyPress) {
        Guarded([&] { handled = EditRawInKeyDown(static_cast<QKeyEvent*>(e)->key()); });
    } else if (watched == ui_->LabelSpeed && e->type() == QEvent::MouseButtonDblClick) {
        Guarded([this] {
            session_->ResetStatistics();
            ui_->LabelSpeed->setText(ToQt(session_->Statistics().Caption()));
        });
        handled = true;
    } else if (e->type() == QEvent::Wheel && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->window() == this) {
        Guarded([&] { handled = HandleWheel(static_cast<QWheelEvent*>(e)->angleDelta().y()); });
    }
    return handled || QMainWindow::eventFilter(watched, e);
}
