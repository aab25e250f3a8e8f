#include "batch/Fbatchsend.h"

#include "console/LogTexts.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/TextLineQt.h"
#include "ui_Fbatchsend.h"

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>
#include <vector>

TFormBatchSend* FormBatchSend = nullptr;

namespace {
constexpr int DriveIntervalMs = 50;
constexpr char HelpText[] = "Add lines with amplifier commands here.\nValid batch control commands:\n"
                            "  #PROMPT <MessageBox Text>\n  #LABEL <LabelName>\n  #GOTO <LabelName>\n"
                            "  #DELAY <MilliSecs>\n  #END\n"
                            "  #EXPECT <Text> [MilliSecs]   (\"Text\" in quotes when it ends in a number)\n"
                            "  #BREAK <MilliSecs>   (1 to 5000, serial ports only)\n";

std::string BoxTitle() {
    return FromQt(QApplication::applicationDisplayName());
}

QFont ScriptFont() {
    QFont font = ConsoleFont();
    font.setPixelSize(13);
    return font;
}

} // namespace

TFormBatchSend::TFormBatchSend(QWidget* owner)
    : QMainWindow(owner, Qt::Window), ui_(std::make_unique<Ui::TFormBatchSend>()) {
    ui_->setupUi(this);
    setObjectName("FormBatchSend");
    // Closing the console ends the program, also while this window is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    Memo1 = ui_->Memo1;
    ButtonRewind = ui_->ButtonRewind;
    ButtonNext = ui_->ButtonNext;
    Memo1->setFont(ScriptFont());
    // The current-line highlight is the selection; it must stay visible while the operator
    // works in the console.
    QPalette palette = Memo1->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    Memo1->setPalette(palette);
    TimerBatchDrive = new QTimer(this);
    TimerBatchDrive->setObjectName("TimerBatchDrive");
    TimerBatchDrive->setInterval(DriveIntervalMs);
    OpenDialog1 = LazyFileDialog([this] { return MakeTextFileDialog(this, "OpenDialog1", true); });
    SaveDialog1 = LazyFileDialog([this] { return MakeTextFileDialog(this, "SaveDialog1", false); });
    resize(512, 417 + menuBar()->sizeHint().height());
    setAcceptDrops(true);
    // A file dropped on the editor loads the script instead of inserting its path as text.
    Memo1->viewport()->installEventFilter(this);
    ConnectHandlers();
}

TFormBatchSend::~TFormBatchSend() {
    if (FormBatchSend == this) FormBatchSend = nullptr;
}

void TFormBatchSend::ConnectHandlers() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(ButtonRewind, &QPushButton::clicked, this, guard([this] { ButtonRewindClick(); }));
    connect(ButtonNext, &QPushButton::clicked, this, guard([this] { ButtonNextClick(); }));
    connect(TimerBatchDrive, &QTimer::timeout, this, guard([this] { TimerBatchDriveTimer(); }));
    connect(ui_->Open1, &QAction::triggered, this, guard([this] { Open1Click(); }));
    connect(ui_->Save1, &QAction::triggered, this, guard([this] { Save1Click(); }));
    connect(ui_->Saveas1, &QAction::triggered, this, guard([this] { Saveas1Click(); }));
    connect(ui_->Copyall1, &QAction::triggered, this, guard([this] { Copyall1Click(); }));
    connect(ui_->Pasteover1, &QAction::triggered, this, guard([this] { Pasteover1Click(); }));
    connect(ui_->Clear1, &QAction::triggered, this, guard([this] { Clear1Click(); }));
    connect(ui_->Help1, &QAction::triggered, this, guard([this] { Help1Click(); }));
}

void TFormBatchSend::AttachToConsole(ConsoleHooks hooks) {
    console_ = std::move(hooks);
}

void TFormBatchSend::NotifyRxLine(const std::string& text) {
    runner_.NotifyRxLine(GetTickCount(), text);
}

void TFormBatchSend::ShowFromConsole() {
    if (!isVisible()) runner_.RewindToFirstLine(GetTickCount());
    show();
    raise();
    activateWindow();
}

void TFormBatchSend::ConnectionPaused() {
    if (!runner_.Running() || pausedForConnection_) return;
    pausedForConnection_ = true;
    TimerBatchDrive->stop();
    Log("Batch paused: the connection was lost.", LogColours::Status);
}

void TFormBatchSend::ConnectionBack() {
    if (!pausedForConnection_) return;
    pausedForConnection_ = false;
    if (!runner_.Running()) return;
    Log("Batch goes on.", LogColours::Status);
    TimerBatchDrive->start();
}

void TFormBatchSend::ConnectionLost() {
    pausedForConnection_ = false;
    if (!runner_.Running()) return;
    Log("Batch stopped: the connection was lost.", LogColours::Error);
    runner_.EndRun(BatchEnd::Failed);
}

void TFormBatchSend::ButtonRewindClick() {
    if (runner_.Running()) {
        runner_.EndRun(BatchEnd::Stopped);
    } else {
        runner_.Start(GetTickCount());
    }
}

void TFormBatchSend::ButtonNextClick() {
    runner_.Step(GetTickCount());
}

void TFormBatchSend::TimerBatchDriveTimer() {
    runner_.TimerTick(GetTickCount());
}

// The new line goes below the line holding the selection's start, so repeated inserts keep
// their order; an empty editor gets it as its only line.
void TFormBatchSend::InsertLine(const std::string& text) {
    const int32_t count = LineCount();
    const int32_t selected = Memo1->document()->findBlock(Memo1->textCursor().selectionStart()).blockNumber();
    const int32_t index = selected < count ? selected + 1 : selected;
    QTextCursor cursor(Memo1->document());
    if (count == 0) {
        cursor.insertText(ToQt(text));
    } else if (index < count) {
        cursor.setPosition(Memo1->document()->findBlockByNumber(index).position());
        cursor.insertText(ToQt(text) + '\n');
    } else {
        cursor.movePosition(QTextCursor::End);
        cursor.insertText('\n' + ToQt(text));
    }
    HighlightLine(count == 0 ? 0 : index);
}

bool TFormBatchSend::LoadScript(const std::string& path) {
    if (runner_.Running()) {
        Boxes().Error(BoxTitle(), "Batch is running!");
        return false;
    }
    std::vector<std::string> lines;
    std::string error;
    if (!ReadScriptFile(path, lines, error)) {
        Boxes().Error(BoxTitle(), error);
        return false;
    }
    // A binary file would send its bytes, NUL bytes included, line by line to the instrument.
    if (HoldsNulBytes(lines) &&
        !Boxes().Confirm(BoxTitle(),
                         path + " holds NUL bytes and may not be a batch script.\r\nLoad it anyway?")) {
        return false;
    }
    QStringList text;
    text.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        text.append(TextLineToQt(line));
    Memo1->setPlainText(text.join('\n'));
    SetFileName(path);
    runner_.StopRun();
    return true;
}

bool TFormBatchSend::SaveScript(const std::string& path) {
    std::vector<std::string> lines;
    const int32_t count = LineCount();
    lines.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        lines.push_back(Line(i));
    std::string error;
    if (!WriteScriptFile(path, lines, error)) {
        Boxes().Error(BoxTitle(), error);
        return false;
    }
    SetFileName(path);
    return true;
}

void TFormBatchSend::SetFileName(const std::string& path) {
    fileName_ = path;
    OpenDialog1->selectFile(PathToQt(path));
    SaveDialog1->selectFile(PathToQt(path));
    setWindowTitle(PathToQt(path));
}

void TFormBatchSend::Open1Click() {
    if (OpenDialog1->exec() == QDialog::Accepted && !OpenDialog1->selectedFiles().isEmpty())
        LoadScript(PathFromQt(OpenDialog1->selectedFiles().first()));
}

// Without a file name yet, the write fails and the operator sees the file error.
void TFormBatchSend::Save1Click() {
    SaveScript(fileName_);
}

void TFormBatchSend::Saveas1Click() {
    if (SaveDialog1->exec() == QDialog::Accepted && !SaveDialog1->selectedFiles().isEmpty())
        SaveScript(PathFromQt(SaveDialog1->selectedFiles().first()));
}

void TFormBatchSend::Copyall1Click() {
    QApplication::clipboard()->setText(Memo1->toPlainText());
}

void TFormBatchSend::Pasteover1Click() {
    Memo1->setPlainText(QApplication::clipboard()->text());
}

void TFormBatchSend::Clear1Click() {
    Memo1->clear();
}

void TFormBatchSend::Help1Click() {
    Boxes().Information(BoxTitle(), HelpText);
}

void TFormBatchSend::LoadDroppedFiles(const QMimeData& dropped) {
    for (const QUrl& url : dropped.urls()) {
        if (url.isLocalFile()) LoadScript(PathFromQt(url.toLocalFile()));
    }
}

void TFormBatchSend::dragEnterEvent(QDragEnterEvent* e) {
    Guarded([e] {
        if (e->mimeData()->hasUrls()) e->acceptProposedAction();
    });
}

void TFormBatchSend::dropEvent(QDropEvent* e) {
    Guarded([this, e] {
        LoadDroppedFiles(*e->mimeData());
        e->acceptProposedAction();
    });
}

bool TFormBatchSend::eventFilter(QObject* watched, QEvent* e) {
    bool handled = false;
    if (watched == Memo1->viewport()) {
        Guarded([&] {
            auto type = e->type();
            if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return;
            auto* drag = static_cast<QDropEvent*>(e);
            if (!drag->mimeData()->hasUrls()) return;
            if (type == QEvent::Drop) LoadDroppedFiles(*drag->mimeData());
            drag->acceptProposedAction();
            handled = true;
        });
    }
    return handled || QMainWindow::eventFilter(watched, e);
}

int32_t TFormBatchSend::LineCount() const {
    // An empty editor still holds one empty block, but no line.
    return Memo1->document()->isEmpty() ? 0 : Memo1->document()->blockCount();
}

// A line holding a character beyond Latin-1 stays UTF-8, so that it is refused, not sent as '?'.
std::string TFormBatchSend::Line(int32_t index) const {
    return TextLineFromQt(Memo1->document()->findBlockByNumber(index).text());
}

void TFormBatchSend::HighlightLine(int32_t index) {
    if (index < 0 || index >= LineCount()) return;
    QTextBlock block = Memo1->document()->findBlockByNumber(index);
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    Memo1->setTextCursor(cursor);
}

// A line the instrument's character set cannot carry is refused as a typed one is; the run goes
// on as after any line that was not sent.
void TFormBatchSend::SendLine(const std::string& text) {
    if (const uint32_t beyond = FirstBeyondLatin1(text)) return Log(NotLatin1Text(beyond), LogColours::Error);
    if (console_.SendLine) console_.SendLine(text);
}

void TFormBatchSend::Log(const std::string& text, uint32_t colour) {
    if (console_.Log) console_.Log(text, colour);
}

bool TFormBatchSend::Confirm(const std::string& text) {
    return Boxes().Confirm(BoxTitle(), text);
}

std::string TFormBatchSend::SendBreak(uint32_t ms) {
    return console_.SendBreak ? console_.SendBreak(ms) : std::string("not a serial port");
}

void TFormBatchSend::ShowError(const std::string& text) {
    Boxes().Error(BoxTitle(), text);
}

void TFormBatchSend::ShowRunning(bool running) {
    Memo1->setReadOnly(running);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base,
                     QApplication::palette().color(running ? QPalette::Button : QPalette::Base));
    Memo1->setPalette(palette);
    ButtonRewind->setText(running ? "&Stop" : "&Start");
    ButtonRewind->setEnabled(true);
    ButtonNext->setEnabled(running);
    if (running) {
        TimerBatchDrive->start();
    } else {
        TimerBatchDrive->stop();
    }
}

// Through the event loop, never from inside the step that owes it.
void TFormBatchSend::PostDeferredStep() {
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { runner_.DeferredStep(GetTickCount()); }); }, Qt::QueuedConnection);
}
