// The navigator and the input box for other programs (CorvaneProjects.h).
#include "projects/CorvaneProjects.h"

#include "platform/Config.h"
#include "platform/QtPlatform.h"
#include "projects/CBuffers.h"
#include "projects/Fgotoprojdlg.h"
#include "projects/ProjectSearch.h"

#include <QApplication>
#include <QInputDialog>
#include <QThread>
#include <atomic>
#include <memory>
#include <thread>

namespace {
// Qt allows one application per process, made, used and destroyed on one thread, and Qt takes the
// first thread that makes one as its GUI thread for good. Two calls at once would each make one
// (or one would destroy the other's under it), so only one call runs at a time: the one that set
// this flag. A nested call on the same thread (from a handler of the caller's that runs while our
// window is open) is refused as well.
std::atomic<bool> callOpen{false};
// The thread on which the library made its first application; only the call holding callOpen
// touches it, and the flag's exchange and release order those touches.
std::thread::id applicationThread;

// The right to run one call, and a Qt application for the call when the caller has none (it goes
// when the call returns). Usable is false when the call cannot run safely: another call is open,
// or this is not the thread of the application.
class ApplicationForCall {
public:
    ApplicationForCall() : holdsCall_(!callOpen.exchange(true, std::memory_order_acq_rel)) {
        if (!holdsCall_) return;
        if (QCoreApplication* existing = QCoreApplication::instance()) {
            usable_ = qobject_cast<QApplication*>(existing) && QThread::currentThread() == existing->thread();
            return;
        }
        if (applicationThread != std::thread::id() && applicationThread != std::this_thread::get_id()) return;
        applicationThread = std::this_thread::get_id();
        static int argc = 1;
        static char name[] = "corvane_projects";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        usable_ = true;
    }
    ~ApplicationForCall() {
        app_.reset();
        if (holdsCall_) callOpen.store(false, std::memory_order_release);
    }
    ApplicationForCall(const ApplicationForCall&) = delete;
    ApplicationForCall& operator=(const ApplicationForCall&) = delete;
    bool Usable() const { return usable_; }

private:
    bool holdsCall_;
    std::unique_ptr<QApplication> app_;
    bool usable_ = false;
};

// The library's boxes: Qt's, with the input box's texts in UTF-8 as the C interface has them.
class ExportedBoxes : public QtModalBoxes {
public:
    ExportedBoxes() : previous_(SetBoxes(this)) {}
    ~ExportedBoxes() override { SetBoxes(previous_); }
    ExportedBoxes(const ExportedBoxes&) = delete;
    ExportedBoxes& operator=(const ExportedBoxes&) = delete;

    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
        bool ok = false;
        QString text = QInputDialog::getText(QApplication::activeWindow(), QString::fromStdString(caption),
                                             QString::fromStdString(prompt), QLineEdit::Normal,
                                             QString::fromStdString(value), &ok);
        if (ok) value = text.toStdString();
        return ok;
    }

private:
    ModalBoxes* previous_;
};

constexpr char ShareRootSetting[] = "ProjectShareRoot";
} // namespace

extern "C" int ShowGotoProjFormModal(void* owner, const char* searchText, char* numberBuffer,
                                     int numberBufferSize, char* pathBuffer, int pathBufferSize) {
    ApplicationForCall app;
    if (!app.Usable()) return TFormGotoProj::mrCancel;
    ExportedBoxes boxes;
    int result = TFormGotoProj::mrCancel;
    Guarded([&] {
        TFormGotoProj form(static_cast<QWidget*>(owner));
        form.SetShareRoot(Settings().ReadStr(ShareRootSetting, ""));
        form.OnShareRootChosen = [](const std::string& root) { Settings().WriteStr(ShareRootSetting, root); };
        if (searchText) form.SetSearchText(searchText);
        result = form.ShowModal();
        if (result != TFormGotoProj::mrOk) return;
        const std::string folder = form.SelectedFolder();
        CopyToCBuffer(ExtractProjectNumber(folder), numberBuffer, numberBufferSize);
        CopyToCBuffer(folder, pathBuffer, pathBufferSize);
    });
    return result;
}

extern "C" int ShowInputQuery(const char* caption, const char* prompt, char* buffer, int bufferSize) {
    ApplicationForCall app;
    if (!app.Usable()) return 0;
    ExportedBoxes boxes;
    std::string value = ReadCBuffer(buffer, bufferSize);
    bool ok = Boxes().InputQuery(caption ? caption : "", prompt ? prompt : "", value);
    CopyToCBuffer(value, buffer, bufferSize);
    return ok ? 1 : 0;
}
