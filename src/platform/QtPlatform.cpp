#include "platform/QtPlatform.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QObject>
#include <atomic>

namespace {
// Lives in the UI thread; each posted event runs the hand-over's pending steps. One event at a
// time is enough: it runs everything queued by then, and a step queued later posts anew.
class HandoverPump : public QObject {
public:
    explicit HandoverPump(Handover& handover) : handover_(handover) {}

    void Wake() {
        if (!posted_.exchange(true)) QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() != QEvent::User) return QObject::event(e);
        posted_ = false;
        using std::chrono::microseconds;
        Guarded([this] { handover_.RunPendingLingering(microseconds(150), microseconds(4000)); });
        return true;
    }

private:
    Handover& handover_;
    std::atomic<bool> posted_{false};
};

QWidget* Owner() {
    return QApplication::activeWindow();
}
} // namespace

void InstallQtHandover(Handover& handover) {
    auto* pump = new HandoverPump(handover);
    pump->setParent(QCoreApplication::instance());
    handover.AdoptCurrentThread();
    handover.SetWakeup([pump] { pump->Wake(); });
}

void ShowHandlerError(const std::string& reason) {
    Boxes().Error(FromQt(QApplication::applicationDisplayName()), reason);
}

void QtModalBoxes::Error(const std::string& title, const std::string& text) {
    QMessageBox::critical(Owner(), ToQt(title), ToQt(text));
}

void QtModalBoxes::Information(const std::string& title, const std::string& text) {
    QMessageBox::information(Owner(), ToQt(title), ToQt(text));
}

bool QtModalBoxes::Confirm(const std::string& title, const std::string& text) {
    return QMessageBox::question(Owner(), ToQt(title), ToQt(text), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool QtModalBoxes::InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
    bool ok = false;
    QString text =
        QInputDialog::getText(Owner(), ToQt(caption), ToQt(prompt), QLineEdit::Normal, ToQt(value), &ok);
    if (ok) value = FromQt(text);
    return ok;
}

QFileDialog* MakeTextFileDialog(QWidget* parent, const char* name, bool forOpen) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(name);
    dialog->setNameFilter("Text Files (*.txt);;All Files (*)");
    dialog->setAcceptMode(forOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog->setFileMode(forOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return dialog;
}
