#include "text/Fmemo.h"

#include "platform/QtPlatform.h"
#include "text/TextFile.h"
#include "text/TextLineQt.h"
#include "ui_Fmemo.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <stdexcept>

TFormMemo* FormMemo = nullptr;

namespace {
constexpr int ClientWidth = 590;
constexpr int ClientHeight = 440;

// "Lucida Console" as in the console's log where the machine has it, else the system's own
// fixed-pitch font: point lists and channel lists line up in columns.
QFont MemoFont() {
    QFont font("Lucida Console");
    font.setPixelSize(13);
    const QFontInfo info(font);
    if (info.family() == font.family() && info.fixedPitch()) return font;
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(13);
    return font;
}

// Runs a file dialog; the chosen path, or empty when the operator cancelled.
std::string ChosenPath(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return PathFromQt(dialog.selectedFiles().first());
}

// The lines of a text for the editor, each shown with its own characters (see TextLineQt.h).
QString EditorText(const std::vector<std::string>& lines) {
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        text.append(TextLineToQt(line));
    return text.join('\n');
}

std::string FileError(const char* what, const std::string& path, int code) {
    return std::string(what) + " \"" + path + "\". " + TextFileErrorText(code);
}
} // namespace

TFormMemo::TFormMemo(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::TFormMemo>()) {
    ui_->setupUi(this);
    setObjectName("FormMemo");
    Memo1 = ui_->Memo1;
    ButtonOk = ui_->ButtonOk;
    ButtonCancel = ui_->ButtonCancel;
    Memo1->setFont(MemoFont());
    Memo1->setTabStopDistance(Memo1->fontMetrics().horizontalAdvance(' ') * 8);
    // A dialog has no menu bar of its own; its layout carries one above the client area.
    layout()->setMenuBar(ui_->MainMenu1);
    OpenDialog1 = LazyFileDialog([this] { return MakeTextFileDialog(this, "OpenDialog1", true); });
    SaveDialog1 = LazyFileDialog([this] { return MakeTextFileDialog(this, "SaveDialog1", false); });
    CtrlHeld = [] { return QApplication::keyboardModifiers().testFlag(Qt::ControlModifier); };
    resize(ClientWidth, ClientHeight + ui_->MainMenu1->sizeHint().height());
    ConnectHandlers();
}

TFormMemo::~TFormMemo() {
    if (FormMemo == this) FormMemo = nullptr;
}

void TFormMemo::ConnectHandlers() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(ui_->Open1, &QAction::triggered, this, guard([this] { Open1Click(); }));
    connect(ui_->Saveas1, &QAction::triggered, this, guard([this] { Saveas1Click(); }));
    connect(ui_->Copyall1, &QAction::triggered, this, guard([this] { Copyall1Click(); }));
    connect(ui_->Pasteover1, &QAction::triggered, this, guard([this] { Pasteover1Click(); }));
    connect(ui_->Clear1, &QAction::triggered, this, guard([this] { Clear1Click(); }));
}

void TFormMemo::SetCaption(const std::string& caption) {
    setWindowTitle(ToQt(caption));
}

void TFormMemo::SetText(const std::string& text) {
    std::vector<std::string> lines = SplitTextLines(text);
    // A text that ends in a line end shows the empty line after it, where the caret can go.
    if (!text.empty() && (text.back() == '\n' || text.back() == '\r')) lines.emplace_back();
    Memo1->setPlainText(EditorText(lines));
}

std::string TFormMemo::Text() const {
    std::string text;
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next()) {
        if (block != Memo1->document()->begin()) text += '\n';
        text += TextLineFromQt(block.text());
    }
    return text;
}

// Each line with its line end, as in the file, so that Lines gives them back.
void TFormMemo::SetLines(const std::vector<std::string>& lines) {
    Memo1->setPlainText(lines.empty() ? QString() : EditorText(lines) + '\n');
}

// Block by block, as toPlainText would turn a no-break space into a blank.
std::vector<std::string> TFormMemo::Lines() const {
    std::vector<std::string> lines;
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next())
        lines.push_back(TextLineFromQt(block.text()));
    // The empty block after a final line end is where the caret goes, not a line: a text of
    // "a" LF is one line, as it is when read from a file; an empty editor holds no line.
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool TFormMemo::Modified() const {
    return Memo1->document()->isModified();
}

void TFormMemo::SetModified(bool modified) {
    Memo1->document()->setModified(modified);
}

bool TFormMemo::ShowModal() {
    return exec() == QDialog::Accepted;
}

bool TFormMemo::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Guarded([this] { FormActivate(); });
    return QDialog::event(e);
}

void TFormMemo::FormActivate() {
    Memo1->setFocus(Qt::ActiveWindowFocusReason);
}

// With Ctrl held, the navigator picks the folder the file dialog starts in; a navigator closed
// without OK ends the command. The one place that asks it.
bool TFormMemo::AskProjectFolder(QFileDialog& dialog) {
    if (!ProjectFolderHook || !CtrlHeld()) return true;
    std::string folder;
    if (!ProjectFolderHook(folder)) return false;
    dialog.setDirectory(PathToQt(folder));
    return true;
}

// A file that cannot be read ends the command with its reason; the text stays as it was.
void TFormMemo::Open1Click() {
    if (!AskProjectFolder(*OpenDialog1)) return;
    const std::string path = ChosenPath(*OpenDialog1);
    if (path.empty()) return;
    std::vector<std::string> lines;
    int code = 0;
    bool opened = false;
    if (!ReadTextLines(path, lines, code, &opened))
        throw std::runtime_error(FileError(opened ? "Cannot read file" : "Cannot open file", path, code));
    SetLines(lines);
    SetModified(true);
    SaveDialog1->selectFile(PathToQt(path));
}

void TFormMemo::Saveas1Click() {
    if (!AskProjectFolder(*SaveDialog1)) return;
    const std::string path = ChosenPath(*SaveDialog1);
    if (path.empty()) return;
    int code = 0;
    bool created = false;
    if (!WriteTextLines(path, Lines(), code, &created))
        throw std::runtime_error(FileError(created ? "Cannot write file" : "Cannot create file", path, code));
    OpenDialog1->selectFile(PathToQt(path));
}

void TFormMemo::Copyall1Click() {
    QApplication::clipboard()->setText(Memo1->toPlainText());
}

void TFormMemo::Pasteover1Click() {
    QString text = QApplication::clipboard()->text();
    ReplaceText(text.replace("\r\n", "\n").replace('\r', '\n'));
}

void TFormMemo::Clear1Click() {
    ReplaceText(QString());
}

// The operator replaced the whole text: the caller's text is gone, so the mark says so.
void TFormMemo::ReplaceText(const QString& text) {
    Memo1->setPlainText(text);
    SetModified(true);
}
