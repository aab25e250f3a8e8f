#include "app/Fconsole.h"

#include "app/Config.h"
#include "connection/Fopencom.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Fbuttonfield.h"
#include "text/Strtools.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>

TFormConsole* FormConsole = nullptr;

namespace {
constexpr int DesignLeft = 177;
constexpr int DesignTop = 140;
constexpr int DesignSendHeight = 369;
constexpr int DesignHeight = 675;
bool ExtraMenuSwitchedOn() {
    const char* value = std::getenv(ExtraMenuVariable);
    return value && std::string(value) == "1";
}
} // namespace

TFormConsole::TFormConsole(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TFormConsole>()) {
    ui_->setupUi(this);
    setObjectName("FormConsole");
    move(DesignLeft, DesignTop);
    TakeControls();
    EditRawIn->setFont(ConsoleFont(10));
    QFont lastRxFont = ConsoleFont(10);
    lastRxFont.setPixelSize(21);
    LabelLastRx->setFont(lastRxFont);
    UpDownTxRep->findChild<QLineEdit*>()->setObjectName("EditTxRep");
    TimerTxRep = new QTimer(this);
    TimerTxRep->setObjectName("TimerTxRep");
    TimerTxRep->setInterval(100);
    ConnectHandlers();
    SetUpExtraTools();
    SetUpSessionTools();
    Splitter1->setSizes({DesignSendHeight, DesignHeight - DesignSendHeight});
    EditRawIn->setFocus();
    UpdateConnectionUi();
}

TFormConsole::~TFormConsole() {
    FrameButtonField1->ClearButtons();
    StopReconnect();
    // A GPIB link unloads its driver, whose thread must stop before the window goes.
    link_.reset();
    if (FormConsole == this) FormConsole = nullptr;
}

void TFormConsole::TakeControls() {
    Splitter1 = ui_->Splitter1;
    GroupBoxTx = ui_->GroupBoxTx;
    ButtonConnDisconn = ui_->ButtonConnDisconn;
    EditRawIn = ui_->EditRawIn;
    ButtonSendBatch = ui_->ButtonSendBatch;
    ButtonRawSend = ui_->ButtonRawSend;
    CheckBoxTxRep = ui_->CheckBoxTxRep;
    UpDownTxRep = ui_->UpDownTxRep;
    CheckBoxPingPong = ui_->CheckBoxPingPong;
    ButtonQ = ui_->ButtonQ;
    ButtonW = ui_->ButtonW;
    ButtonR = ui_->ButtonR;
    CheckBoxExpectRx = ui_->CheckBoxExpectRx;
    CheckBoxStatusOnSrq = ui_->CheckBoxStatusOnSrq;
    FrameButtonField1 = ui_->FrameButtonField1;
    GroupBox1 = ui_->GroupBox1;
    Button1 = ui_->Button1;
    LabelLastRx = ui_->LabelLastRx;
    LabelSpeed = ui_->LabelSpeed;
    Button2 = ui_->Button2;
    log_ = ui_->RichEditRawOut;
    MenuItemConnection = ui_->MenuItemConnection;
    MenuItemConnect = ui_->MenuItemConnect;
    MenuItemDisconnect = ui_->MenuItemDisconnect;
    miReconnect = ui_->miReconnect;
    MenuItemExtra = ui_->MenuItemExtra;
    miShowReplyTimes = ui_->miShowReplyTimes;
    miUploadConvTab = ui_->miUploadConvTab;
    miDnloadConvTab = ui_->miDnloadConvTab;
}

void TFormConsole::ConnectHandlers() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(ButtonConnDisconn, &QPushButton::clicked, this, guard([this] { ButtonConnDisconnClick(); }));
    connect(MenuItemConnect, &QAction::triggered, this, guard([this] { OpenConnection(); }));
    connect(MenuItemDisconnect, &QAction::triggered, this, guard([this] { CloseConnection(); }));
    connect(miReconnect, &QAction::triggered, this, guard([this] { miReconnectClick(); }));
    connect(ui_->miShowControlChars, &QAction::triggered, this, [this](bool on) {
        Guarded(
            [&] { ShowControlChars(on ? (ui_->miShowControlChars->data().toInt() == 2 ? 2 : 1) : 0, true); });
    });
    connect(ButtonSendBatch, &QPushButton::clicked, this, guard([this] { ButtonSendBatchClick(); }));
    connect(ButtonRawSend, &QPushButton::clicked, this, guard([this] { ButtonRawSendClick(ButtonRawSend); }));
    connect(EditRawIn, &QLineEdit::textChanged, this, guard([this] { EditRawInChange(); }));
    connect(CheckBoxTxRep, &QCheckBox::clicked, this, guard([this] { CheckBoxTxRepClick(); }));
    connect(UpDownTxRep, &QSpinBox::valueChanged, this, guard([this] { CheckBoxTxRepClick(); }));
    connect(TimerTxRep, &QTimer::timeout, this, guard([this] { TimerTxRepTimer(); }));
    connect(CheckBoxPingPong, &QCheckBox::clicked, this, guard([this] { CheckBoxPingPongClick(); }));
    connect(ButtonQ, &QPushButton::clicked, this, guard([this] { ButtonQClick(); }));
    connect(ButtonW, &QPushButton::clicked, this, guard([this] { ButtonWClick(); }));
    connect(ButtonR, &QPushButton::clicked, this, guard([this] { ButtonRClick(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(miUploadConvTab, &QAction::triggered, this, guard([this] { miUploadConvTabClick(); }));
    connect(miDnloadConvTab, &QAction::triggered, this, guard([this] { miDnloadConvTabClick(); }));
    EditRawIn->installEventFilter(this);
    LabelSpeed->installEventFilter(this);
    qApp->installEventFilter(this);
}

void TFormConsole::SetBatchHooks(BatchHooks hooks) {
    batch_ = std::move(hooks);
    ButtonSendBatch->setEnabled(static_cast<bool>(batch_.ShowFromConsole));
}

void TFormConsole::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!activated_) QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
}

void TFormConsole::FormActivate() {
    if (activated_) return;
    activated_ = true;
    MenuItemExtra->menuAction()->setVisible(DnsDomain() == ExtraMenuDomain || ExtraMenuSwitchedOn());
    // Each step on its own: trouble with one (settings that cannot be written, a bookmark file)
    // is shown and the next still runs, so the connection dialog always comes.
    Guarded([this] { ReadSettings(); });
    Guarded([this] { SetUpButtonField(); });
    Guarded([this] { LoadStartScript(); });
    if (IsConnected()) {
        CloseConnection();
    } else {
        OpenConnection();
    }
}

// The bookmark file beside the program wins over the one the operator chose to load at start.
void TFormConsole::SetUpButtonField() {
    FrameButtonField1->SettingsKeyPath = SettingsKeyPath;
    FrameButtonField1->SettingsValueName = "BookmarkFile";
    FrameButtonField1->OnButtonCommand = [this](const std::string& text, bool toBatch) {
        SendFromButton(text, toBatch);
    };
    FrameButtonField1->LoadStartFile(ExeDir() + "/Bookmarks.txt");
}

void TFormConsole::LoadStartScript() {
    if (startScript_.empty() || !batch_.LoadScript) return;
    // A start script that cannot be read (missing, a folder) is reported by the load, not ignored.
    if (batch_.LoadScript(startScript_)) ButtonSendBatchClick();
}

void TFormConsole::SetRawInText(const std::string& text) {
    EditRawIn->setText(ToQt(text));
}

std::string TFormConsole::RawInText() const {
    return FromQt(EditRawIn->text());
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
    int left = readInt("WindowPosLeft", x());
    int top = readInt("WindowPosTop", y());
    int height = readInt("WindowHeight", this->height());
    int width = readInt("WindowWidth", this->width());
    int sendHeight = readInt("ButtonTableHeight", DesignSendHeight);
    try {
        connectionString_ = settings.ReadStr("Connection", DefaultConnection);
    } catch (const ESettingsError& e) {
        if (failure.empty()) failure = e.what();
    }
    connectTimeoutMs_ = readInt("ConnectTimeoutMs", connectTimeoutMs_);
    const int controlChars = settings.ValueExists("ShowControlChars") ? readInt("ShowControlChars", 0) : 0;
    const bool autoReconnect = readInt("ReconnectAutomatically", 0) == 1;
    const bool logToFile = readInt("LogToFile", 0) == 1;
    std::string logFile;
    try {
        logFile = settings.ReadStr("LogFile", "");
    } catch (const ESettingsError& e) {
        if (failure.empty()) failure = e.what();
    }
    settings.CloseKey();
    ShowControlChars(controlChars, false);
    miAutoReconnect->setChecked(autoReconnect);
    if (logToFile && !logFile.empty()) StartLogFile(logFile);
    if (!failure.empty()) {
        AddLogLine(failure, LogColours::Error);
        Boxes().Error(FromQt(QApplication::applicationDisplayName()), failure);
    }
    move(left, top);
    resize(width, height);
    Splitter1->setSizes({sendHeight, std::max(1, Splitter1->height() - sendHeight)});
}

// The high-byte choice lives only in the settings; the menu item keeps it while switched off.
void TFormConsole::ShowControlChars(int setting, bool remember) {
    ControlCharMode mode = ControlCharModeFromSetting(setting);
    if (mode == ControlCharMode::ControlsAndHigh) ui_->miShowControlChars->setData(2);
    ui_->miShowControlChars->setChecked(mode != ControlCharMode::Off);
    log_->SetShowControlChars(mode != ControlCharMode::Off, mode == ControlCharMode::ControlsAndHigh);
    if (!remember) return;
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    settings.WriteInt("ShowControlChars", ControlCharModeSetting(mode));
    settings.CloseKey();
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
    settings.WriteInt("ButtonTableHeight", GroupBoxTx->height());
    settings.CloseKey();
}

bool TFormConsole::OpenConnection() {
    if (opening_) return false;
    if (!FormOpenCom || !FormOpenCom->EditConnection(connectionString_)) return false;
    CloseConnection();
    return OpenStoredConnection(false);
}

bool TFormConsole::OpenStoredConnection(bool reconnect) {
    link_ = MakeConsoleLink(connectionString_, MakeLinkEvents());
    link_->SetOpenTimeout(connectTimeoutMs_);
    std::string reason;
    OpenResult result = WaitForOpen(reason);
    if (result != OpenResult::Opened) {
        link_.reset(); // never opened: it tells of no end
        // An automatic attempt that fails is told by its "Reconnecting" line alone.
        if (!reconnect) ReportOpenFailure(reason, result == OpenResult::Failed);
        UpdateConnectionUi();
        if (closeRequested_) close();
        return false;
    }
    connected_ = IsConnected();
    // The window shows the open link before the settings are touched: a store that cannot be
    // written must not leave it showing a closed one.
    UpdateConnectionUi();
    if (!reconnect) StoreConnection();
    if (closeRequested_) close();
    return true;
}

OpenResult TFormConsole::WaitForOpen(std::string& reason) {
    bool finished = false;
    OpenResult result = OpenResult::Failed;
    QEventLoop loop;
    opening_ = true;
    link_->BeginOpen([&](OpenResult r, const std::string& why) {
        finished = true;
        result = r;
        reason = why;
        loop.quit();
    });
    if (!finished) {
        // A connect that takes a moment gets a window that says so and offers to give up; a quick
        // one never shows it.
        QProgressDialog progress(ToQt("Connecting to " + connectionString_ + " ..."), "&Cancel", 0, 0, this);
        progress.setObjectName("ProgressConnecting");
        progress.setWindowTitle(QApplication::applicationDisplayName());
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(0);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.reset();
        progress.hide();
        // Its Cancel button, Esc and closing the little window all give the attempt up, and with
        // it an automatic reconnect.
        auto giveUp = [this] {
            reconnect_.End();
            if (link_) link_->Close();
        };
        connect(&progress, &QProgressDialog::canceled, this, giveUp);
        connect(&progress, &QDialog::rejected, this, giveUp);
        QTimer::singleShot(250, &progress, [&] {
            if (!finished) progress.show();
        });
        loop.exec();
    }
    opening_ = false;
    return result;
}

void TFormConsole::StoreConnection() {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteStr("Connection", connectionString_);
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        AddLogLine(e.what(), LogColours::Error);
        Boxes().Error(FromQt(QApplication::applicationDisplayName()), e.what());
    }
}

LinkEvents TFormConsole::MakeLinkEvents() {
    LinkEvents events;
    events.TxEcho = [this](const std::string& text) { OnTxEcho(text); };
    events.RxLine = [this](const std::string& line, const std::string& stamp) {
        Guarded([&] { OnRxLine(line, stamp); });
    };
    events.Connected = [this] { OnConnected(); };
    events.Disconnected = [this](const std::string& reason) { Guarded([&] { OnDisconnected(reason); }); };
    events.Status = [this](const std::string& text) { AddLogLine(text, LogColours::Status); };
    events.ServiceRequest = [this] { Guarded([this] { OnServiceRequest(); }); };
    events.DriverError = [this](const std::string& message) {
        AddLogLine("Error: " + message, LogColours::Error);
    };
    events.Interrupt = [this] { AddLogLine("Interrupt!", LogColours::Status); };
    return events;
}

void TFormConsole::ReportOpenFailure(const std::string& reason, bool withBox) {
    std::string text = WithReason("Opening " + connectionString_ + " failed.", reason);
    AddLogLine(text, LogColours::Error);
    if (withBox) Boxes().Error(FromQt(QApplication::applicationDisplayName()), text);
}

void TFormConsole::CloseConnection() {
    if (reconnect_.Active()) {
        // The operator's Disconnect ends the attempts; what waited for the link ends as on a drop.
        StopReconnect();
        StopSendingOnDrop();
    }
    if (opening_) {
        // An automatic attempt is under way in its own loop: cancel it, it ends there.
        if (link_) link_->Close();
        return;
    }
    DropLink();
    connected_ = false;
    UpdateConnectionUi();
}

void TFormConsole::DropLink() {
    if (!link_) return;
    closing_ = true;
    link_->Close();
    link_.reset(); // a TIO's reader delivers Disconnected while this waits
    closing_ = false;
}

bool TFormConsole::IsConnected() const {
    return link_ && link_->IsOpen();
}

void TFormConsole::UpdateConnectionUi() {
    MenuItemConnect->setEnabled(!connected_);
    MenuItemDisconnect->setEnabled(connected_);
    bool gpibControls = connected_ && UseGpib();
    for (QWidget* w :
         std::initializer_list<QWidget*>{CheckBoxExpectRx, CheckBoxStatusOnSrq, ButtonQ, ButtonW, ButtonR}) {
        w->setVisible(gpibControls);
    }
    ButtonConnDisconn->setText(connected_ ? "Disc&onnect" : "C&onnect");
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
    const int margins = width() - GroupBoxTx->contentsRect().width();
    setMinimumWidth(needed + margins);
    const bool shown = !ButtonQ->isHidden();
    const bool fits = !shown || needed + gpib->sizeHint().width() <= GroupBoxTx->contentsRect().width();
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

void TFormConsole::OnConnected() {
    StartSessionInLogFile(); // the separator comes before the session's first line
    std::string note = link_ ? link_->OpenedNote() : std::string();
    AddLogLine(note.empty() ? ConnectedText(connectionString_, GetTimeStamp(), GetTickCount()) : note,
               LogColours::Status);
    SetTitle(connectionString_);
    UpdateConnectionUi();
}

void TFormConsole::OnDisconnected(const std::string& reason) {
    AddLogLine(WithReason("disconnected.", reason), LogColours::Status);
    SetTitle("disconnected");
    if (!closing_ && ShouldReconnect(reason)) {
        // Whatever was sending waits for the link to come back.
        PauseSendingOnDrop();
        BeginReconnect();
    } else if (!closing_) {
        StopSendingOnDrop();
    }
    UpdateConnectionUi();
}

void TFormConsole::StopSendingOnDrop() {
    // Nothing keeps sending into a link that is gone: repeat and ping-pong end, a run stops.
    CheckBoxTxRep->setChecked(false);
    TimerTxRep->stop();
    CheckBoxPingPong->setChecked(false);
    if (batch_.ConnectionLost) batch_.ConnectionLost();
}

void TFormConsole::ButtonConnDisconnClick() {
    if (connected_) {
        CloseConnection();
    } else {
        OpenConnection();
    }
}

void TFormConsole::miReconnectClick() {
    CloseConnection();
    // A short pause lets an instrument notice the old link is gone before the new one comes.
    QThread::msleep(500);
    OpenConnection();
}

void TFormConsole::ButtonSendBatchClick() {
    if (batch_.ShowFromConsole) batch_.ShowFromConsole();
}

void TFormConsole::closeEvent(QCloseEvent* e) {
    if (opening_) {
        // The open's own loop runs below this handler: give the attempt up, close when it returns.
        closeRequested_ = true;
        if (link_) link_->Close();
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
