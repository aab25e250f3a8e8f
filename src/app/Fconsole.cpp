#include "app/Fconsole.h"

#include "app/Config.h"
#include "connection/Fopencom.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"
#include "ui_Fconsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
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
constexpr char DefaultConnection[] = "tcp:192.168.1.253:2500";

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
    Splitter1->setSizes({DesignSendHeight, DesignHeight - DesignSendHeight});
    EditRawIn->setFocus();
    UpdateConnectionUi();
}

TFormConsole::~TFormConsole() {
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
    ReadSettings();
    LoadStartScript();
    if (IsConnected()) {
        CloseConnection();
    } else {
        OpenConnection();
    }
}

void TFormConsole::LoadStartScript() {
    if (startScript_.empty() || !batch_.LoadScript || !QFileInfo(PathToQt(startScript_)).isFile()) return;
    batch_.LoadScript(startScript_);
    ButtonSendBatchClick();
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
    int left = settings.ReadInt("WindowPosLeft", x());
    int top = settings.ReadInt("WindowPosTop", y());
    int height = settings.ReadInt("WindowHeight", this->height());
    int width = settings.ReadInt("WindowWidth", this->width());
    int sendHeight = settings.ReadInt("ButtonTableHeight", DesignSendHeight);
    connectionString_ = settings.ReadStr("Connection", DefaultConnection);
    settings.CloseKey();
    move(left, top);
    resize(width, height);
    Splitter1->setSizes({sendHeight, std::max(1, Splitter1->height() - sendHeight)});
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
    if (!FormOpenCom || !FormOpenCom->EditConnection(connectionString_)) return false;
    CloseConnection();
    link_ = MakeConsoleLink(connectionString_, MakeLinkEvents());
    if (OpenResult result = link_->Open(); result != OpenResult::Opened) {
        ReportOpenFailure(result == OpenResult::Failed);
        return false;
    }
    connected_ = IsConnected();
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    settings.WriteStr("Connection", connectionString_);
    settings.CloseKey();
    UpdateConnectionUi();
    return true;
}

LinkEvents TFormConsole::MakeLinkEvents() {
    LinkEvents events;
    events.TxEcho = [this](const std::string& text) { OnTxEcho(text); };
    events.RxLine = [this](const std::string& line) { Guarded([&] { OnRxLine(line); }); };
    events.Connected = [this] { OnConnected(); };
    events.Disconnected = [this] { Guarded([this] { OnDisconnected(); }); };
    events.Status = [this](const std::string& text) { AddLogLine(text, LogColours::Status); };
    events.ServiceRequest = [this] { Guarded([this] { OnServiceRequest(); }); };
    events.DriverError = [this](const std::string& message) {
        AddLogLine("Error: " + message, LogColours::Error);
    };
    events.Interrupt = [this] { AddLogLine("Interrupt!", LogColours::Status); };
    return events;
}

void TFormConsole::ReportOpenFailure(bool withBox) {
    std::string text = "Opening " + connectionString_ + " failed.";
    AddLogLine(text, LogColours::Error);
    if (withBox) Boxes().Error(FromQt(QApplication::applicationDisplayName()), text);
}

void TFormConsole::CloseConnection() {
    if (link_) {
        link_->Close();
        link_.reset(); // a TIO's reader delivers Disconnected while this waits
    }
    connected_ = false;
    UpdateConnectionUi();
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
}

void TFormConsole::OnConnected() {
    AddLogLine(ConnectedText(connectionString_, GetTimeStamp(), GetTickCount()), LogColours::Status);
    setWindowTitle(ToQt(connectionString_));
    UpdateConnectionUi();
}

void TFormConsole::OnDisconnected() {
    AddLogLine("disconnected.", LogColours::Status);
    setWindowTitle("disconnected");
    UpdateConnectionUi();
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
    Guarded([this] { FormClose(); });
    e->accept();
}

void TFormConsole::FormClose() {
    CloseConnection();
    WriteSettings();
}
