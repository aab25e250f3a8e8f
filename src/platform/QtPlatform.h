#pragma once
// The Qt side of the platform layer: the hand-over's wake-up in Qt's event loop, the guard around
// event handlers, the Qt modal boxes, and the 8-bit text conversions at the window edge.
#include "platform/Handover.h"
#include "platform/ModalBoxes.h"

#include <QFile>
#include <QString>
#include <exception>
#include <functional>
#include <string>

class QFileDialog;
class QWidget;

// Instrument text is 8-bit bytes; Latin-1 maps each byte to one character and back unchanged.
inline QString ToQt(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string FromQt(const QString& text) {
    return text.toLatin1().toStdString();
}

// File names are the file system's bytes (UTF-8 on Linux), not instrument text.
inline QString PathToQt(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
inline std::string PathFromQt(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// UI thread, after the QApplication exists. Queuing a hand-over step posts one event to the UI
// thread, which runs the pending steps; nested modal loops run them too.
void InstallQtHandover(Handover& handover = Handover::Main());

// Shows the standard error box (through Boxes()) for what escaped an event handler, titled with
// the application's name.
void ShowHandlerError(const std::string& reason);

// Every event handler runs inside Guarded: Qt lets no exception cross its event loop, and the
// operator sees the reason while the program goes on.
template <class Handler> void Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowHandlerError(e.what());
    } catch (...) {
        ShowHandlerError("Unknown error.");
    }
}

// Modal boxes with QMessageBox and QInputDialog, owned by the active window.
class QtModalBoxes : public ModalBoxes {
public:
    void Error(const std::string& title, const std::string& text) override;
    void Information(const std::string& title, const std::string& text) override;
    bool Confirm(const std::string& title, const std::string& text) override;
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
};

// The open or save dialog of a window's text files ("Text Files (*.txt);;All Files (*)"; "All
// Files" is every file here, since "*.*" would leave out names without a dot), named for tests.
QFileDialog* MakeTextFileDialog(QWidget* parent, const char* name, bool forOpen);

// A window's file dialog, made when it is first used. Making a QFileDialog starts a file-system
// model with its watch and asks the icon theme for a dozen icons; eight windows made at start
// doing so cost more than the rest of the start-up. UI thread only.
class LazyFileDialog {
public:
    LazyFileDialog() = default;
    explicit LazyFileDialog(std::function<QFileDialog*()> make) : make_(std::move(make)) {}
    QFileDialog* Get() {
        if (!dialog_ && make_) dialog_ = make_();
        return dialog_;
    }
    QFileDialog* operator->() { return Get(); }
    QFileDialog& operator*() { return *Get(); }

private:
    std::function<QFileDialog*()> make_;
    QFileDialog* dialog_ = nullptr; //!< Owned by its parent window.
};
