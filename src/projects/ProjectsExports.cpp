// The navigator and the input box for other programs (CorvaneProjects.h).
#include "projects/CorvaneProjects.h"

#include "platform/Config.h"
#include "platform/MainThread.h"
#include "platform/QtPlatform.h"
#include "projects/CBuffers.h"
#include "projects/Fgotoprojdlg.h"
#include "projects/ProjectSearch.h"
#include "projects/ResidentThread.h"

#include <QApplication>
#include <QInputDialog>
#include <QThread>
#include <atomic>
#include <functional>

namespace {
// Qt allows one application per process, made, used and destroyed on one thread, and Qt keeps the
// first thread that runs it as its GUI thread until the process ends: its global objects stay
// bound to that thread's data and reach into it at exit. Were that a caller's thread that ends
// before the process does, they would write into the freed data then and corrupt the heap. So the
// library runs Qt on a thread that lasts: the program's main thread when the first call comes
// from there (the window then shows on the calling thread, and later calls must come from there
// too), else a thread of its own (ResidentThread), on which every later call then runs, from
// whichever thread it comes.
//
// Only one call runs at a time: the one that set callOpen. Every other call, a nested one on the
// same thread (from a handler of the caller's that runs while our window is open) included, returns
// at once without touching Qt.
std::atomic<bool> callOpen{false};

// Where the library runs Qt when the program has no application of its own. Only the call holding
// callOpen touches it; the flag's exchange and release order those touches.
enum class QtHome { Unchosen, MainThread, OwnThread };
QtHome qtHome = QtHome::Unchosen;

// Holds callOpen for one call, if it was free.
class CallTurn {
public:
    CallTurn() : held_(!callOpen.exchange(true, std::memory_order_acq_rel)) {}
    ~CallTurn() {
        if (held_) callOpen.store(false, std::memory_order_release);
    }
    CallTurn(const CallTurn&) = delete;
    CallTurn& operator=(const CallTurn&) = delete;
    bool Held() const { return held_; }

private:
    bool held_;
};

// Runs call with a Qt application made for it on this thread, gone when the call returns.
void WithOwnApplication(const std::function<void()>& call) {
    static int argc = 1;
    static char name[] = "corvane_projects";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    call();
}

// Runs call where Qt may run, or returns at once without running it when it cannot run safely:
// another call is open, or the application (the program's or the library's) lives on another
// thread.
void RunOnQtThread(const std::function<void()>& call) {
    CallTurn turn;
    if (!turn.Held()) return;
    if (QCoreApplication* existing = QCoreApplication::instance()) {
        if (qobject_cast<QApplication*>(existing) && QThread::currentThread() == existing->thread()) call();
        return;
    }
    if (qtHome == QtHome::Unchosen) qtHome = IsMainThread() ? QtHome::MainThread : QtHome::OwnThread;
    if (qtHome == QtHome::OwnThread) {
        ResidentThread::Instance().Run([&] { WithOwnApplication(call); });
    } else if (IsMainThread()) {
        WithOwnApplication(call);
    }
}

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
    int result = TFormGotoProj::mrCancel;
    RunOnQtThread([&] {
        ExportedBoxes boxes;
        Guarded([&] {
            TFormGotoProj form(static_cast<QWidget*>(owner));
            form.SetShareRoot(Settings().ReadStr(ShareRootSetting, ""));
            form.OnShareRootChosen = [](const std::string& root) {
                Settings().WriteStr(ShareRootSetting, root);
            };
            if (searchText) form.SetSearchText(searchText);
            result = form.ShowModal();
            if (result != TFormGotoProj::mrOk) return;
            const std::string folder = form.SelectedFolder();
            CopyToCBuffer(ExtractProjectNumber(folder), numberBuffer, numberBufferSize);
            CopyToCBuffer(folder, pathBuffer, pathBufferSize);
        });
    });
    return result;
}

extern "C" int ShowInputQuery(const char* caption, const char* prompt, char* buffer, int bufferSize) {
    int result = 0;
    RunOnQtThread([&] {
        ExportedBoxes boxes;
        std::string value = ReadCBuffer(buffer, bufferSize);
        const bool ok = Boxes().InputQuery(caption ? caption : "", prompt ? prompt : "", value);
        CopyToCBuffer(value, buffer, bufferSize);
        result = ok ? 1 : 0;
    });
    return result;
}
