// The console's extra tools: saving the log with a signature line, the project-folder tool, the
// two text tools of firmware work (number list, service channel list), and the conversion-table
// tools, which ask for the board and the table, borrow the shared editor for the point list, and
// move the table point by point through the TIO's synchronous Query while the window waits (the
// transfers themselves live in console/ConvTable).
#include "app/ConsoleTools.h"

#include "connection/Connection.h"
#include "connection/Fopencom.h"
#include "console/ConsoleSession.h"
#include "console/ConvTable.h"
#include "console/ExtraTools.h"
#include "log/LogView.h"
#include "platform/IntegerText.h"
#include "platform/QtPlatform.h"
#include "platform/Shell.h"

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

// The event loop waits during a transfer, so the log is brought up to date after every point.
ConvTransferHost HostFor(ConsoleSession& session, TLogView& log, TIO& io) {
    ConvTransferHost host;
    host.Query = [&io](const std::string& request, std::string& reply) {
        return io.Query(request, reply, ConvReplyTimeoutMs);
    };
    // A reply that names another point is shown and passed over while the wait goes on.
    host.QueryPaired = [&io](const std::string& request, std::string& reply, const ConvReplyFilter& accept) {
        return io.Query(request, reply, ConvReplyTimeoutMs, accept);
    };
    host.Log = [&session](const std::string& text) { session.Log(text, LogColours::Status); };
    host.PointDone = [&log] { log.FlushNow(); };
    return host;
}

void ShowResult(ConvResult result) {
    if (result == ConvResult::TooLong) Boxes().Error(Title(), ConvTooLongBox);
    if (result == ConvResult::ReplyTimeout) Boxes().Error(Title(), ConvTimeoutBox);
}
} // namespace

TConsoleTools::TConsoleTools(QWidget* parent, ConsoleSession& session, TLogView& log,
                             const Controls& controls)
    : QObject(parent), session_(session), log_(log), controls_(controls) {
    controls_.GotoProject1->setEnabled(true);
    SaveDialog1 = LazyFileDialog([parent] {
        auto* dialog = new QFileDialog(parent);
        dialog->setObjectName("SaveDialog1");
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setNameFilter("Text files (*.txt);;All files (*)");
        return dialog;
    });

    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(controls_.Button2, &QPushButton::clicked, this, guard([this] {
                Button2Click(QGuiApplication::keyboardModifiers().testFlag(Qt::ControlModifier));
            }));
    connect(controls_.GotoProject1, &QAction::triggered, this, guard([this] { GotoProject1Click(); }));
    connect(controls_.FormatNumberList1, &QAction::triggered, this,
            guard([this] { FormatNumberList1Click(); }));
    connect(controls_.GenerateSeerviceChannellist1, &QAction::triggered, this,
            guard([this] { GenerateSeerviceChannellist1Click(); }));
    connect(controls_.miShowReplyTimes, &QAction::toggled, this,
            [this](bool on) { session_.SetShowReplyTimes(on); });
    session_.SetShowReplyTimes(controls_.miShowReplyTimes->isChecked());
    connect(controls_.miUploadConvTab, &QAction::triggered, this, guard([this] { miUploadConvTabClick(); }));
    connect(controls_.miDnloadConvTab, &QAction::triggered, this, guard([this] { miDnloadConvTabClick(); }));
}

void TConsoleTools::SetProjectHooks(ProjectHooks hooks) {
    projects_ = std::move(hooks);
}

void TConsoleTools::SetEditorHooks(EditorHooks hooks) {
    editor_ = std::move(hooks);
    const bool editor =
        editor_.SetCaption && editor_.SetText && editor_.ShowModal && editor_.Text && editor_.Lines;
    controls_.FormatNumberList1->setEnabled(editor);
    controls_.GenerateSeerviceChannellist1->setEnabled(editor);
}

bool TConsoleTools::EditInEditor(const std::string& caption, const std::string& text) {
    if (!editor_.SetCaption || !editor_.SetText || !editor_.ShowModal) return false;
    editor_.SetCaption(caption);
    editor_.SetText(text);
    return editor_.ShowModal();
}

void TConsoleTools::Button2Click(bool ctrl) {
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
    log_.Lines().WriteText(text);
    std::string error;
    if (!WriteTextFile(path, text.str(), error)) throw std::runtime_error(error);
}

void TConsoleTools::ButtonAddSignClick() {
    session_.Log(SignatureLine(session_.Connection()), LogColours::Blue);
}

void TConsoleTools::GotoProject1Click() {
    ShellResult result = LaunchProgram({ProjectToolProgram});
    if (!result.Ok()) Boxes().Error(Title(), result.message);
}

void TConsoleTools::FormatNumberList1Click() {
    if (!numberListExplained_) {
        numberListExplained_ = true;
        Boxes().Information(Title(), NumberListExplanation);
    }
    if (!editor_.ShowModal || !editor_.ShowModal()) return;
    const std::string result = FormatNumberList(editor_.Text());
    QGuiApplication::clipboard()->setText(ToQt(result));
    Boxes().Information(Title(), "Copied to Clipboard:\r\n" + result);
}

void TConsoleTools::GenerateSeerviceChannellist1Click() {
    std::string value = channelList_;
    if (Boxes().InputQuery("Channel List", "Enter Channel List (in _config1.h form)", value))
        channelList_ = value;
    if (!editor_.SetText || !editor_.ShowModal) return;
    editor_.SetText(GenerateChannelList(channelList_));
    editor_.ShowModal();
}

// --- Conversion tables ---

// Only a serial or TCP link has a TIO to query; the operator is told plainly otherwise.
TIO* TConsoleTools::ConvTableIo() {
    if (TIO* io = session_.IsOpen() ? session_.Link()->Tio() : nullptr) return io;
    session_.Log(ConvNeedsTioText, LogColours::Error);
    Boxes().Error(Title(), ConvNeedsTioText);
    return nullptr;
}

// The board address and the table number, each kept for the tool's next use once confirmed. A
// table number that is not an integer ends the tool with the conversion error, one out of range
// with an error box that says so.
bool TConsoleTools::AskConvTarget(std::string& address, std::string& tableText, unsigned& table) {
    if (!Boxes().InputQuery("Target Board Address",
                            "Enter Address of target Board or leave empty for Vandrel", address))
        return false;
    if (!Boxes().InputQuery("TableNumber", "Enter Tablenumber", tableText)) return false;
    const int number = StrToInt(tableText);
    if (const std::string error = ConvTableNumberError(number); !error.empty()) {
        Boxes().Error(Title(), error);
        return false;
    }
    table = static_cast<unsigned>(number);
    return true;
}

void TConsoleTools::miUploadConvTabClick() {
    if (!ConvTableIo()) return;
    unsigned table = 0;
    if (!AskConvTarget(convUpAddress_, convUpTable_, table)) return;
    if (!EditInEditor("Enter adc-dbm100-List for Table " + convUpTable_, "")) return;
    // The link may have ended while the editor was open.
    TIO* io = ConvTableIo();
    if (!io) return;
    ShowResult(UploadConvTable(HostFor(session_, log_, *io), ConvCommandPrefix(convUpAddress_, true), table,
                               editor_.Lines()));
}

void TConsoleTools::miDnloadConvTabClick() {
    if (!ConvTableIo()) return;
    unsigned table = 0;
    if (!AskConvTarget(convDnAddress_, convDnTable_, table)) return;
    TIO* io = ConvTableIo();
    if (!io) return;
    std::string list;
    const ConvResult result = DownloadConvTable(HostFor(session_, log_, *io),
                                                ConvCommandPrefix(convDnAddress_, false), table, list);
    ShowResult(result);
    if (result == ConvResult::Done) EditInEditor(ConvListCaption(table), list);
}
