#include "app/Fconsole.h"

#include "app/ConsoleFace.h"
#include "app/ConsoleTools.h"
#include "app/FindBar.h"
#include "app/HelpMenu.h"
#include "app/SerialTools.h"
#include "app/SessionMenu.h"
#include "app/TestScriptTool.h"
#include "connection/ConnectionKinds.h"
#include "connection/Fopencom.h"
#include "console/LogTexts.h"
#include "log/LogView.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "platform/WindowPlacement.h"
#include "text/Bookmarks.h"
#include "text/Fbuttonfield.h"
#include "text/Strtools.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <map>

TFormConsole* FormConsole = nullptr;

namespace {
constexpr int DesignLeft = 177;
constexpr int DesignTop = 140;
constexpr int DesignSendHeight = 369;
constexpr int DesignWidth = 934;
constexpr int DesignHeight = 675;
// The line ends of each kind of connection, in the settings as "TxLineEnd_tcp=crlf" and
// "RxLineEnd_tcp=any"; only kinds the operator changed are there.
void ReadLineEndSettings(SettingsStore& settings, std::map<std::string, LineEnds>& byKind) {
    for (const ConnectionKind& kind : ConnectionKinds()) {
        if (!kind.MakeTransport) continue;
        const std::string name(kind.Name);
        LineEnds ends;
        if (settings.ValueExists("TxLineEnd_" + name))
            ParseLineEnd(settings.ReadStr("TxLineEnd_" + name, "lf"), ends.tx);
        if (settings.ValueExists("RxLineEnd_" + name))
            ParseLineEnd(settings.ReadStr("RxLineEnd_" + name, "lf"), ends.rx);
        try {
            if (settings.ValueExists("IdleLineMs_" + name))
                ends.idleMs = std::clamp(settings.ReadInt("IdleLineMs_" + name, 0), 0, LineEnds::MaxIdleMs);
        } catch (const ESettingsError&) {
            // Not a number: the idle line stays off, as it was before anyone set it.
        }
        byKind[name] = ends;
    }
}

void WriteLineEndSettings(const std::map<std::string, LineEnds>& byKind) {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    for (const auto& [kind, ends] : byKind) {
        const bool stored =
            settings.ValueExists("TxLineEnd_" + kind) || settings.ValueExists("RxLineEnd_" + kind);
        // A default that was never changed stays out of the settings.
        if (!stored && ends.tx == TxLineEnd::Lf && ends.rx == RxLineEnd::Lf && ends.idleMs == 0) continue;
        settings.WriteStr("TxLineEnd_" + kind, std::string(LineEndName(ends.tx)));
        settings.WriteStr("RxLineEnd_" + kind, std::string(LineEndName(ends.rx)));
        settings.WriteInt("IdleLineMs_" + kind, ends.idleMs);
    }
    settings.CloseKey();
}

LineEnds LineEndsFor(const std::string& connection) {
    if (!FormOpenCom) return {};
    const auto found = FormOpenCom->LineEndsByKind.find(ParseConnection(connection).KindName);
    return found == FormOpenCom->LineEndsByKind.end() ? LineEnds{} : found->second;
}

int HorizontalMargins(const QMargins& margins) {
    return margins.left() + margins.right();
}
// Writes one of the console's own settings as the operator changes it.
void RememberSetting(const char* name, int value) {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    settings.WriteInt(name, value);
    settings.CloseKey();
}

// A switch beyond the original program's: off, and not written, until the operator switches it.
bool StoredSwitch(SettingsStore& settings, const char* name) {
    return settings.ValueExists(name) && settings.ReadInt(name, 0) == 1;
}

// The hex input switch: "0x", in the highlight colour when on and greyed when off.
QIcon HexInputIcon(bool on, const QPalette& palette, QFont font) {
    // Drawn at twice the 16 pixels it is shown at, so it stays sharp on a high-density screen.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    font.setPixelSize(20);
    font.setBold(on);
    painter.setFont(font);
    painter.setPen(on ? palette.color(QPalette::Active, QPalette::Highlight)
                      : palette.color(QPalette::Disabled, QPalette::Text));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("0x"));
    return QIcon(pixmap);
}

bool ExtraMenuSwitchedOn() {
    const char* value = std::getenv(ExtraMenuVariable);
    return value && std::string(value) == "1";
}
} // namespace

TFormConsole::TFormConsole(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TFormConsole>()) {
    ui_->setupUi(this);
    setObjectName("FormConsole");
    move(DesignLeft, DesignTop);
    ui_->EditRawIn->setFont(ConsoleFont(10));
    QFont lastRxFont = ConsoleFont(10);
    lastRxFont.setPixelSize(21);
    ui_->LabelLastRx->setFont(lastRxFont);
    ui_->UpDownTxRep->findChild<QLineEdit*>()->setObjectName("EditTxRep");
    TimerTxRep = new QTimer(this);
    TimerTxRep->setObjectName("TimerTxRep");
    TimerTxRep->setInterval(100);
    face_ = std::make_unique<TConsoleFace>(static_cast<ConsoleFaceHost&>(*this));
    session_ = std::make_unique<ConsoleSession>(*face_);
    // The window's own thread reads serial and TCP links when they are readable: no reader thread
    // and no hand-over between a received line and the next command.
    session_->SetPullLink(PullMode::Watched);
    session_->SetConnection(DefaultConnection);
    session_->SetOpenTimeout(5000);
    session_->SetBaseTitle(FromQt(windowTitle()));
    // The session log file takes the lines of a frame in one write, before they are seen.
    Log()->SetBeforePaint([this] { Guarded([this] { session_->FlushLogFile(); }); });
    tools_ = new TConsoleTools(this, *session_, *ui_->RichEditRawOut,
                               {ui_->Button2, ui_->GotoProject1, ui_->FormatNumberList1,
                                ui_->GenerateSeerviceChannellist1, ui_->miShowReplyTimes,
                                ui_->miUploadConvTab, ui_->miDnloadConvTab});
    serial_ = new TSerialTools(this, ui_->MenuItemConnection, *session_);
    sessionMenu_ = new TSessionMenu(
        this,
        {ui_->miLogToFile, ui_->miAutoReconnect, ui_->miShowReplyStatistics, ui_->CheckBoxEscapes,
         ui_->LabelSpeed},
        *session_, [this](std::string& path) { return ChooseLogFile && ChooseLogFile(path); });
    serial_->OpenConnection = [this](const std::string& connection) { OpenWithoutDialog(connection); };
    testScripts_ = new TTestScriptTool(this, ui_->MenuItemExtra, *session_);
    testScripts_->Reopen = [this](const std::string& connection) { OpenWithoutDialog(connection); };
    unendedCheck_ = new QTimer(this);
    unendedCheck_->setObjectName("TimerUnendedBytes");
    unendedCheck_->setInterval(250);
    SetUpFind();
    SetUpHexInput();
    helpMenu_ = new THelpMenu(*this, *ui_->MainMenu1, [this] { return PathToQt(ExeDir()); });
    ConnectHandlers();
    ui_->Splitter1->setSizes({DesignSendHeight, DesignHeight - DesignSendHeight});
    ui_->EditRawIn->setFocus();
    UpdateConnectionUi();
}

TFormConsole::~TFormConsole() {
    ui_->FrameButtonField1->ClearButtons();
    Log()->SetBeforePaint({});
    // A GPIB link unloads its driver, whose thread must stop before the window goes.
    session_.reset();
    if (FormConsole == this) FormConsole = nullptr;
}

TFrameButtonField* TFormConsole::ButtonField() const {
    return ui_->FrameButtonField1;
}

TLogView* TFormConsole::Log() const {
    return ui_->RichEditRawOut;
}

void TFormConsole::SetUpFind() {
    findBar_ = new TFindBar(*Log(), ui_->GroupBox1);
    ui_->LayoutRx->addWidget(findBar_);
    Log()->SetFindRequest([this] { findBar_->Open(); });
    Log()->AddViewAction(ui_->miShowHex);
    auto* find = new QAction(tr("Find..."), this);
    find->setObjectName("ActionFind");
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] { Guarded([this] { findBar_->Open(); }); });
    addAction(find);
    // Format Number List has had Ctrl+F before find: while that tool is there, Ctrl+F is its own
    // outside the log (the log and the find bar take it for find themselves).
    auto yield = [find, tool = ui_->FormatNumberList1] { find->setEnabled(!tool->isEnabled()); };
    connect(ui_->FormatNumberList1, &QAction::changed, find, yield);
    yield();
}

// The hex input switch sits inside the input line: the row beside the line has no room left at
// the narrowest the window may be.
void TFormConsole::SetUpHexInput() {
    QAction* hex = ui_->ActionHexIn;
    ui_->EditRawIn->addAction(hex, QLineEdit::TrailingPosition);
    auto show = [this, hex](bool on) {
        hex->setIcon(HexInputIcon(on, ui_->EditRawIn->palette(), ui_->EditRawIn->font()));
        ui_->EditRawIn->setPlaceholderText(on ? tr("hex bytes, e.g. 02 53 54 03") : QString());
    };
    connect(hex, &QAction::toggled, this, show);
    show(false);
}

void TFormConsole::ConnectHandlers() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    Ui::TFormConsole& ui = *ui_;
    connect(ui.ButtonConnDisconn, &QPushButton::clicked, this, guard([this] {
                if (session_->Connected()) {
                    CloseConnection();
                } else {
                    OpenConnection();
                }
            }));
    connect(ui.MenuItemConnect, &QAction::triggered, this, guard([this] { OpenConnection(); }));
    connect(ui.MenuItemDisconnect, &QAction::triggered, this, guard([this] { CloseConnection(); }));
    connect(ui.miReconnect, &QAction::triggered, this, guard([this] { miReconnectClick(); }));
    connect(ui.miShowControlChars, &QAction::triggered, this, [this](bool on) {
        Guarded(
            [&] { ShowControlChars(on ? (ui_->miShowControlChars->data().toInt() == 2 ? 2 : 1) : 0, true); });
    });
    connect(ui.miShowHex, &QAction::triggered, this,
            [this](bool on) { Guarded([&] { ShowHex(on, true); }); });
    connect(ui.ActionHexIn, &QAction::triggered, this,
            [](bool on) { Guarded([&] { RememberSetting("HexInput", on ? 1 : 0); }); });
    connect(ui.ButtonSendBatch, &QPushButton::clicked, this, guard([this] {
                if (batch_.ShowFromConsole) batch_.ShowFromConsole();
            }));
    connect(ui.ButtonRawSend, &QPushButton::clicked, this,
            guard([this] { ButtonRawSendClick(ui_->ButtonRawSend); }));
    connect(ui.EditRawIn, &QLineEdit::textChanged, this,
            guard([this] { ui_->CheckBoxExpectRx->setChecked(ui_->EditRawIn->text().endsWith('?')); }));
    connect(ui.CheckBoxTxRep, &QCheckBox::clicked, this, guard([this] { CheckBoxTxRepClick(); }));
    connect(ui.UpDownTxRep, &QSpinBox::valueChanged, this, guard([this] { CheckBoxTxRepClick(); }));
    connect(TimerTxRep, &QTimer::timeout, this, guard([this] { ButtonRawSendClick(nullptr); }));
    connect(unendedCheck_, &QTimer::timeout, this, guard([this] { ShowUnendedBytesHint(); }));
    // The open connection keeps the escapes it is used with.
    connect(ui.CheckBoxEscapes, &QCheckBox::clicked, this, guard([this] {
                if (session_->IsOpen()) StoreConnection();
            }));
    connect(ui.CheckBoxPingPong, &QCheckBox::clicked, this, guard([this] { CheckBoxPingPongClick(); }));
    connect(ui.ButtonQ, &QPushButton::clicked, this, guard([this] {
                ButtonWClick();
                ButtonRClick();
            }));
    connect(ui.ButtonW, &QPushButton::clicked, this, guard([this] { ButtonWClick(); }));
    connect(ui.ButtonR, &QPushButton::clicked, this, guard([this] { ButtonRClick(); }));
    connect(ui.Button1, &QPushButton::clicked, this, guard([this] { Log()->Clear(); }));
    LogFileDialog = LazyFileDialog([this] {
        auto* dialog = new QFileDialog(this);
        dialog->setObjectName("LogFileDialog");
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // Appending is the point: the dialog must not ask whether to replace the file.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->setNameFilter("Text files (*.txt);;All files (*)");
        return dialog;
    });
    ChooseLogFile = [this](std::string& path) {
        if (!path.empty()) LogFileDialog->selectFile(PathToQt(path));
        if (LogFileDialog->exec() != QDialog::Accepted || LogFileDialog->selectedFiles().isEmpty())
            return false;
        path = PathFromQt(LogFileDialog->selectedFiles().first());
        return true;
    };
    ui.EditRawIn->installEventFilter(this);
    ui.LabelSpeed->installEventFilter(this);
    qApp->installEventFilter(this);
}

void TFormConsole::SetBatchHooks(BatchHooks hooks) {
    batch_ = std::move(hooks);
    ui_->ButtonSendBatch->setEnabled(static_cast<bool>(batch_.ShowFromConsole));
}

void TFormConsole::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!activated_) QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
}

void TFormConsole::FormActivate() {
    if (activated_) return;
    activated_ = true;
    ui_->MenuItemExtra->menuAction()->setVisible(DnsDomain() == ExtraMenuDomain || ExtraMenuSwitchedOn());
    // Each step on its own: trouble with one (settings that cannot be written, a bookmark file)
    // is shown and the next still runs, so the connection dialog always comes.
    Guarded([this] { ReadSettings(); });
    Guarded([this] { serial_->ReadSettings(); });
    Guarded([this] { SetUpButtonField(); });
    Guarded([this] { LoadStartScript(); });
    if (session_->IsOpen()) {
        CloseConnection();
    } else {
        OpenConnection();
    }
}

// The bookmark file beside the program wins over the one the operator chose to load at start;
// with neither, the load dialog offers the sample bookmarks that come with the program.
void TFormConsole::SetUpButtonField() {
    TFrameButtonField* field = ui_->FrameButtonField1;
    field->SettingsKeyPath = SettingsKeyPath;
    field->SettingsValueName = "BookmarkFile";
    field->OnButtonCommand = [this](const std::string& text, bool toBatch) { SendFromButton(text, toBatch); };
    // A command read from a file with a character the instrument cannot carry is refused, as typed.
    field->OnNotLatin1 = [this](uint32_t codePoint) {
        AddLogLine(NotLatin1Text(codePoint), LogColours::Error);
    };
    const std::string programFolder = ExeDir();
    field->LoadStartFile(programFolder + "/Bookmarks.txt", SampleBookmarksPath(programFolder));
}

void TFormConsole::LoadStartScript() {
    if (startScript_.empty() || !batch_.LoadScript) return;
    // A start script that cannot be read (missing, a folder) is reported by the load, not ignored.
    if (batch_.LoadScript(startScript_) && batch_.ShowFromConsole) batch_.ShowFromConsole();
}

void TFormConsole::SetRawInText(const std::string& text) {
    ui_->EditRawIn->setText(ToQt(text));
}

std::string TFormConsole::RawInText() const {
    return FromQt(ui_->EditRawIn->text());
}

void TFormConsole::ReadSettings() {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    // Each value on its own: one that cannot be read or written keeps its default, the others are
    // still read, and the operator is told once.
    std::string failure;
    auto readInt = [&](const char* name, int fallback) {
        try {
            return settings.ReadInt(name, fallback);
        } catch (const ESettingsError& e) {
            if (failure.empty()) failure = e.what();
            return fallback;
        }
    };
    // The design size, not the size the window has grown to on its first show.
    int left = readInt("WindowPosLeft", DesignLeft);
    int top = readInt("WindowPosTop", DesignTop);
    int height = readInt("WindowHeight", DesignHeight);
    int width = readInt("WindowWidth", DesignWidth);
    int sendHeight = readInt("ButtonTableHeight", DesignSendHeight);
    try {
        session_->SetConnection(settings.ReadStr("Connection", DefaultConnection));
        // Its lines name it: lines left by a program that stored another connection without them
        // are not taken for this one's.
        storedLinesKnown_ =
            ParseConnectionLines(settings.ReadStr("ConnectionLines", ""), storedConnection_, storedLines_) &&
            storedConnection_ == session_->Connection();
    } catch (const ESettingsError& e) {
        if (failure.empty()) failure = e.what();
    }
    session_->SetOpenTimeout(readInt("ConnectTimeoutMs", 5000));
    const int controlChars = settings.ValueExists("ShowControlChars") ? readInt("ShowControlChars", 0) : 0;
    bool showHex = false;
    bool hexInput = false;
    try {
        showHex = StoredSwitch(settings, "ShowHex");
        hexInput = StoredSwitch(settings, "HexInput");
    } catch (const ESettingsError& e) {
        if (failure.empty()) failure = e.what();
    }
    const bool autoReconnect = readInt("ReconnectAutomatically", 0) == 1;
    const bool replyStatistics = readInt("ShowReplyStatistics", 0) == 1;
    const bool escapes = readInt("Escapes", 0) == 1;
    const bool logToFile = readInt("LogToFile", 0) == 1;
    std::string logFile;
    try {
        logFile = settings.ReadStr("LogFile", "");
    } catch (const ESettingsError& e) {
        if (failure.empty()) failure = e.what();
    }
    if (FormOpenCom) ReadLineEndSettings(settings, FormOpenCom->LineEndsByKind);
    settings.CloseKey();
    ShowControlChars(controlChars, false);
    ShowHex(showHex, false);
    ui_->ActionHexIn->setChecked(hexInput);
    ui_->miAutoReconnect->setChecked(autoReconnect);
    session_->SetAutoReconnect(autoReconnect);
    ui_->miShowReplyStatistics->setChecked(replyStatistics);
    ui_->LabelSpeed->setVisible(replyStatistics);
    ui_->CheckBoxEscapes->setChecked(escapes);
    session_->SetEscapes(escapes);
    if (logToFile && !logFile.empty()) session_->StartLogFile(logFile);
    if (!failure.empty()) {
        AddLogLine(failure, LogColours::Error);
        Boxes().Error(FromQt(QApplication::applicationDisplayName()), failure);
    }
    PlaceOnScreen(left, top, width, height);
    ui_->Splitter1->setSizes({sendHeight, std::max(1, ui_->Splitter1->height() - sendHeight)});
}

// left and top place the frame, width and height size the inside, as move and resize take them;
// the whole frame is kept on the screen that holds its stored corner (else the window's own).
void TFormConsole::PlaceOnScreen(int left, int top, int width, int height) {
    QScreen* shown = QGuiApplication::screenAt(QPoint(left, top));
    if (!shown) shown = screen();
    const QRect area = shown->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const ScreenRect placed = FitOnScreen({left, top, width + frame.width(), height + frame.height()},
                                          {area.x(), area.y(), area.width(), area.height()});
    move(placed.left, placed.top);
    resize(placed.width - frame.width(), placed.height - frame.height());
}

// The high-byte choice lives only in the settings; the menu item keeps it while switched off.
void TFormConsole::ShowControlChars(int setting, bool remember) {
    ControlCharMode mode = ControlCharModeFromSetting(setting);
    if (mode == ControlCharMode::ControlsAndHigh) ui_->miShowControlChars->setData(2);
    ui_->miShowControlChars->setChecked(mode != ControlCharMode::Off);
    Log()->SetShowControlChars(mode != ControlCharMode::Off, mode == ControlCharMode::ControlsAndHigh);
    KeepBytesWhileShown();
    if (remember) RememberSetting("ShowControlChars", ControlCharModeSetting(mode));
}

void TFormConsole::ShowHex(bool on, bool remember) {
    ui_->miShowHex->setChecked(on);
    Log()->SetShowHex(on);
    KeepBytesWhileShown();
    if (remember) RememberSetting("ShowHex", on ? 1 : 0);
}

// A line trimmed of its control bytes would show neither them nor their hex.
void TFormConsole::KeepBytesWhileShown() {
    session_->SetKeepControlBytes(Log()->ShownControlChars() != ControlCharMode::Off || Log()->ShowsHex());
}

void TFormConsole::WriteSettings() {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    if (!isMaximized() && !isMinimized() && !isFullScreen()) {
        settings.WriteInt("WindowPosLeft", x());
        settings.WriteInt("WindowPosTop", y());
        settings.WriteInt("WindowHeight", height());
        settings.WriteInt("WindowWidth", width());
    }
    settings.WriteInt("ButtonTableHeight", ui_->GroupBoxTx->height());
    settings.CloseKey();
}

bool TFormConsole::OpenConnection() {
    if (session_->IsOpening()) return false;
    std::string connection = session_->Connection();
    if (!FormOpenCom) return false;
    ConnectionLines own;
    FormOpenCom->ConnectionLineEnds.reset();
    if (OwnLinesOf(connection, own)) FormOpenCom->ConnectionLineEnds = own.ends;
    if (!FormOpenCom->EditConnection(connection)) return false;
    WriteLineEndSettings(FormOpenCom->LineEndsByKind);
    // What the dialog showed for the connection's kind when OK was pressed.
    return OpenWithLines(connection, {LineEndsFor(connection), session_->Escapes()});
}

bool TFormConsole::OwnLinesOf(const std::string& connection, ConnectionLines& lines) const {
    if (storedLinesKnown_ && connection == storedConnection_) {
        lines = storedLines_;
        return true;
    }
    return serial_ && serial_->LinesOf(connection, lines);
}

ConnectionLines TFormConsole::LinesFor(const std::string& connection) const {
    ConnectionLines lines{LineEndsFor(connection), session_->Escapes()};
    OwnLinesOf(connection, lines);
    return lines;
}

bool TFormConsole::OpenWithoutDialog(const std::string& connection) {
    return OpenWithLines(connection, LinesFor(connection));
}

bool TFormConsole::OpenWithLines(const std::string& connection, const ConnectionLines& lines) {
    if (session_->IsOpening()) return false;
    CloseConnection();
    session_->SetConnection(connection);
    session_->SetLineEnds(lines.ends);
    std::string reason;
    const OpenResult result = session_->Open(&reason);
    if (result == OpenResult::Failed)
        Boxes().Error(FromQt(QApplication::applicationDisplayName()),
                      WithReason("Opening " + connection + " failed.", reason));
    // The window shows the open link before the settings are touched: a store that cannot be
    // written must not leave it showing a closed one.
    if (result == OpenResult::Opened) {
        ui_->CheckBoxEscapes->setChecked(lines.escapes);
        session_->SetEscapes(lines.escapes);
        StoreConnection();
    }
    if (closeRequested_) close();
    return result == OpenResult::Opened;
}

void TFormConsole::StoreConnection() {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        const ConnectionLines lines{session_->GetLineEnds(), session_->Escapes()};
        settings.WriteStr("Connection", session_->Connection());
        settings.WriteStr("ConnectionLines", ConnectionLinesText(session_->Connection(), lines));
        settings.CloseKey();
        storedConnection_ = session_->Connection();
        storedLines_ = lines;
        storedLinesKnown_ = true;
        serial_->Remember(session_->Connection(), lines);
    } catch (const ESettingsError& e) {
        AddLogLine(e.what(), LogColours::Error);
        Boxes().Error(FromQt(QApplication::applicationDisplayName()), e.what());
    }
}

void TFormConsole::CloseConnection() {
    session_->Close();
}

// Shown, not logged: the log holds what came, and the bytes are still to come as a line.
void TFormConsole::ShowUnendedBytesHint() {
    if (const std::string hint = session_->UnendedBytesHint(GetTickCount()); !hint.empty())
        statusBar()->showMessage(ToQt(hint));
}

void TFormConsole::UpdateConnectionUi() {
    const bool connected = session_ && session_->Connected();
    ui_->MenuItemConnect->setEnabled(!connected);
    ui_->MenuItemDisconnect->setEnabled(connected);
    const bool gpibControls = connected && session_->ReadsOnRequest();
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->CheckBoxExpectRx, ui_->CheckBoxStatusOnSrq,
                                                      ui_->ButtonQ, ui_->ButtonW, ui_->ButtonR}) {
        w->setVisible(gpibControls);
    }
    ui_->ButtonConnDisconn->setText(connected ? "Disc&onnect" : "C&onnect");
    ArrangeGpibControls();
}

// The GPIB controls share the input line's row while it keeps its minimum width (200 px); when
// the window is too narrow for both they take a row of their own below it.
void TFormConsole::ArrangeGpibControls() {
    QBoxLayout* row = ui_->LayoutTxRow;
    QBoxLayout* gpib = ui_->LayoutGpib;
    QBoxLayout* column = ui_->LayoutTx;
    int needed = 0;
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem* item = row->itemAt(i);
        if (item->layout() == gpib || (item->widget() && item->widget()->isHidden())) continue;
        needed += item->minimumSize().width() + row->spacing();
    }
    // The window may be made as narrow as the first row alone needs; the GPIB controls then move.
    // What lies beside the row comes from the margins, not from the widgets' widths: those are not
    // laid out yet during a resize, and taken from them the window's width became its own minimum
    // (a first start grew the window past the screen).
    const int margins = HorizontalMargins(ui_->LayoutClient->contentsMargins()) +
                        HorizontalMargins(ui_->GroupBoxTx->contentsMargins()) +
                        HorizontalMargins(column->contentsMargins());
    setMinimumWidth(needed + margins);
    const bool shown = !ui_->ButtonQ->isHidden();
    const bool fits = !shown || needed + gpib->sizeHint().width() <= width() - margins;
    const bool inRow = row->indexOf(gpib) >= 0;
    if (fits == inRow) return;
    if (inRow) {
        row->removeItem(gpib);
        column->insertLayout(1, gpib);
    } else {
        column->removeItem(gpib);
        row->addLayout(gpib);
    }
}

void TFormConsole::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    ArrangeGpibControls();
}

void TFormConsole::closeEvent(QCloseEvent* e) {
    if (session_->IsOpening()) {
        // The open's own loop runs below this handler: give the attempt up, close when it returns.
        closeRequested_ = true;
        session_->CancelOpen();
        e->ignore();
        return;
    }
    Guarded([this] { FormClose(); });
    e->accept();
}

void TFormConsole::FormClose() {
    CloseConnection();
    WriteSettings();
}
