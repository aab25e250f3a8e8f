// The console's extra tools: saving the log with a signature line, the project-folder tool, and
// the two text tools of firmware work (number list, service channel list).
#include "app/Fconsole.h"

#include "connection/Fopencom.h"
#include "console/ExtraTools.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Shell.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QPushButton>
#include <sstream>
#include <stdexcept>

namespace {
std::string Title() {
    return FromQt(QApplication::applicationDisplayName());
}
} // namespace

void TFormConsole::SetUpExtraTools() {
    GotoProject1 = ui_->GotoProject1;
    FormatNumberList1 = ui_->FormatNumberList1;
    GenerateSeerviceChannellist1 = ui_->GenerateSeerviceChannellist1;
    GotoProject1->setEnabled(true);
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName("SaveDialog1");
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilter("Text files (*.txt);;All files (*)");

    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(Button2, &QPushButton::clicked, this, guard([this] {
                Button2Click(QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier));
            }));
    connect(GotoProject1, &QAction::triggered, this, guard([this] { GotoProject1Click(); }));
    connect(FormatNumberList1, &QAction::triggered, this, guard([this] { FormatNumberList1Click(); }));
    connect(GenerateSeerviceChannellist1, &QAction::triggered, this,
            guard([this] { GenerateSeerviceChannellist1Click(); }));
}

void TFormConsole::SetProjectHooks(ProjectHooks hooks) {
    projects_ = std::move(hooks);
}

void TFormConsole::SetEditorHooks(EditorHooks hooks) {
    editor_ = std::move(hooks);
    const bool editor =
        editor_.SetCaption && editor_.SetText && editor_.ShowModal && editor_.Text && editor_.Lines;
    FormatNumberList1->setEnabled(editor);
    GenerateSeerviceChannellist1->setEnabled(editor);
}

bool TFormConsole::EditInEditor(const std::string& caption, const std::string& text) {
    if (!editor_.SetCaption || !editor_.SetText || !editor_.ShowModal) return false;
    editor_.SetCaption(caption);
    editor_.SetText(text);
    return editor_.ShowModal();
}

void TFormConsole::Button2Click(bool ctrl) {
    std::string folder;
    if (ctrl) {
        if (!projects_.ChooseFolder || !projects_.ChooseFolder(folder)) return;
        SaveDialog1->setDirectory(PathToQt(folder));
    }
    ButtonAddSignClick();
    const std::string kind = FormOpenCom ? FormOpenCom->ConnectionKindName() : std::string();
    SaveDialog1->selectFile(PathToQt(ProposedLogFileName(kind)));
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
    const std::string path = PathFromQt(SaveDialog1->selectedFiles().first());
    std::ostringstream text;
    log_->Lines().WriteText(text);
    std::string error;
    if (!WriteTextFile(path, text.str(), error)) throw std::runtime_error(error);
}

void TFormConsole::ButtonAddSignClick() {
    AddLogLine(SignatureLine(connectionString_), LogColours::Blue);
}

void TFormConsole::GotoProject1Click() {
    ShellResult result = LaunchProgram({ProjectToolProgram});
    if (!result.Ok()) Boxes().Error(Title(), result.message);
}

void TFormConsole::FormatNumberList1Click() {
    if (!numberListExplained_) {
        numberListExplained_ = true;
        Boxes().Information(Title(), NumberListExplanation);
    }
    if (!editor_.ShowModal || !editor_.ShowModal()) return;
    const std::string result = FormatNumberList(editor_.Text());
    QGuiApplication::clipboard()->setText(ToQt(result));
    Boxes().Information(Title(), "Copied to Clipboard:\r\n" + result);
}

void TFormConsole::GenerateSeerviceChannellist1Click() {
    std::string value = channelList_;
    if (Boxes().InputQuery("Channel List", "Enter Channel List (in _config1.h form)", value))
        channelList_ = value;
    if (!editor_.SetText || !editor_.ShowModal) return;
    editor_.SetText(GenerateChannelList(channelList_));
    editor_.ShowModal();
}
