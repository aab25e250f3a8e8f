// The navigator and the input box for other programs (CorvaneProjects.h).
#include "projects/CorvaneProjects.h"

#include "app/Config.h"
#include "platform/QtPlatform.h"
#include "projects/CBuffers.h"
#include "projects/Fgotoprojdlg.h"
#include "projects/ProjectSearch.h"

#include <QApplication>
#include <QInputDialog>
#include <QThread>
#include <memory>

namespace {
// A Qt application for the call when the caller has none; it goes when the call returns.
class ApplicationForCall {
public:
    ApplicationForCall() {
        if (QCoreApplication::instance()) return;
        static int argc = 1;
        static char name[] = "corvane_projects";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    // Widgets need a QApplication, used from its own thread.
    bool Usable() const {
        return qobject_cast<QApplication*>(QCoreApplication::instance()) &&
               QThread::currentThread() == QCoreApplication::instance()->thread();
    }

private:
    std::unique_ptr<QApplication> app_;
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
