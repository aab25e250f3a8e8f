#include "app/Fconsole.h"

#include "app/Config.h"
#include "log/LogView.h"
#include "connection/Fopencom.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"

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

TFormConsole* FormConsole = nullptr;

namespace {
constexpr int DesignLeft = 177;
constexpr int DesignTop = 140;
constexpr int DesignWidth = 934;
constexpr int DesignHeight = 675;
constexpr int DesignSendHeight = 369;
constexpr char DefaultConnection[] = "tcp:192.168.1.253:2500";

QFont ConsoleFont(int pointSize) {
    QFont font("Lucida Console");
    font.setStyleHint(QFont::Monospace);
    if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(pointSize);
    return font;
}

template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}
} // namespace

TFormConsole::TFormConsole(QWidget* parent) : QMainWindow(parent) {
    setObjectName("FormConsole");
    setWindowTitle("Console");
    Splitter1 = Named(new QSplitter(Qt::Vertical, this), "Splitter1");
    Splitter1->setHandleWidth(19);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);
    BuildSendArea();
    BuildReceiveArea();
    BuildMenu();
    ConnectHandlers();
    Splitter1->setSizes({DesignSendHeight, DesignHeight - DesignSendHeight});
    move(DesignLeft, DesignTop);
    resize(DesignWidth, DesignHeight);
    EditRawIn->setFocus();
    UpdateConnectionUi();
}

TFormConsole::~TFormConsole() {
    io_.reset();
    // A loaded driver's thread posts to this window; it must stop before the window goes.
    if (useGpib_) UnloadGpibLibrary();
    if (FormConsole == this) FormConsole = nullptr;
}

void TFormConsole::BuildSendArea() {
    GroupBoxTx = Named(new QGroupBox("&Send", Splitter1), "GroupBoxTx");
    auto* row = new QHBoxLayout;
    ButtonConnDisconn = Named(new QPushButton("C&onnect"), "ButtonConnDisconn");
    EditRawIn = Named(new QLineEdit, "EditRawIn");
    EditRawIn->setFont(ConsoleFont(10));
    ButtonSendBatch = Named(new QPushButton("Send &Batch..."), "ButtonSendBatch");
    ButtonRawSend = Named(new QPushButton("&Send"), "ButtonRawSend");
    CheckBoxTxRep = Named(new QCheckBox("Repeat (ms)"), "CheckBoxTxRep");
    UpDownTxRep = Named(new QSpinBox, "UpDownTxRep");
    UpDownTxRep->setRange(1, 5000);
    UpDownTxRep->setValue(500);
    UpDownTxRep->findChild<QLineEdit*>()->setObjectName("EditTxRep");
    CheckBoxPingPong = Named(new QCheckBox("&PingPong"), "CheckBoxPingPong");
    ButtonQ = Named(new QPushButton("&Query"), "ButtonQ");
    ButtonW = Named(new QPushButton("&Write"), "ButtonW");
    ButtonR = Named(new QPushButton("&Read"), "ButtonR");
    CheckBoxExpectRx = Named(new QCheckBox("&Expect Reply"), "CheckBoxExpectRx");
    CheckBoxStatusOnSrq = Named(new QCheckBox("SRQ ->STATUS?"), "CheckBoxStatusOnSrq");
    CheckBoxExpectRx->setChecked(true);
    CheckBoxStatusOnSrq->setChecked(true);
    row->addWidget(ButtonConnDisconn);
    row->addWidget(EditRawIn, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{ButtonSendBatch, ButtonRawSend, CheckBoxTxRep,
                                                      UpDownTxRep, CheckBoxPingPong, ButtonQ, ButtonW,
                                                      ButtonR, CheckBoxExpectRx, CheckBoxStatusOnSrq}) {
        row->addWidget(w);
    }
    FrameButtonField1 = Named(new QFrame, "FrameButtonField1");
    FrameButtonField1->setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(GroupBoxTx);
    column->addLayout(row);
    column->addWidget(FrameButtonField1, 1);
    TimerTxRep = Named(new QTimer(this), "TimerTxRep");
    TimerTxRep->setInterval(100);
}

void TFormConsole::BuildReceiveArea() {
    GroupBox1 = Named(new QGroupBox("&Reveive", Splitter1), "GroupBox1");
    Button1 = Named(new QPushButton("&Clear"), "Button1");
    LabelLastRx = Named(new QLabel("..."), "LabelLastRx");
    QFont lastRxFont = ConsoleFont(10);
    lastRxFont.setPixelSize(21);
    LabelLastRx->setFont(lastRxFont);
    LabelLastRx->setStyleSheet("color: #800000;");
    LabelLastRx->setTextFormat(Qt::PlainText);
    LabelLastRx->setMinimumWidth(1);
    LabelSpeed = Named(new QLabel("000/000/0000ms"), "LabelSpeed");
    LabelSpeed->setToolTip("ResponseTime/Average/Maximum. Doubleclick to Reset");
    LabelSpeed->hide();
    Button2 = Named(new QPushButton("&Save..."), "Button2");
    Button2->setToolTip("Control-Click for Project-Number-Directory Search");
    Button2->setEnabled(false); // the log's save tool comes with the extra tools
    log_ = Named(new TLogView, "RichEditRawOut");
    log_->setFont(ConsoleFont(10));
    auto* row = new QHBoxLayout;
    row->addWidget(Button1);
    row->addWidget(LabelLastRx, 1);
    row->addWidget(LabelSpeed);
    row->addWidget(Button2);
    auto* column = new QVBoxLayout(GroupBox1);
    column->addLayout(row);
    column->addWidget(log_, 1);
}

void TFormConsole::BuildMenu() {
    MenuItemConnection = Named(menuBar()->addMenu("&Connection"), "MenuItemConnection");
    MenuItemConnect = Named(MenuItemConnection->addAction("&Connect..."), "MenuItemConnect");
    MenuItemDisconnect = Named(MenuItemConnection->addAction("&Disconnect"), "MenuItemDisconnect");
    Named(MenuItemConnection->addSeparator(), "N1");
    miReconnect = Named(MenuItemConnection->addAction("&Reconnect..."), "miReconnect");
    miReconnect->setShortcut(QKeySequence("Ctrl+R"));
    MenuItemExtra = Named(menuBar()->addMenu("E&xtra"), "MenuItemExtra");
    // The service tools of this menu arrive with their own windows; until then they are shown
    // but not offered.
    for (auto [name, caption] : {std::pair{"miUploadConvTab", "Upload Conversion Table..."},
                                 std::pair{"miDnloadConvTab", "Download Conversion Table..."}}) {
        Named(MenuItemExtra->addAction(caption), name)->setEnabled(false);
    }
    Named(MenuItemExtra->addSeparator(), "N2");
    Named(MenuItemExtra->addAction("&GotoProject..."), "GotoProject1")->setEnabled(false);
    QAction* format = Named(MenuItemExtra->addAction("Format Number List..."), "FormatNumberList1");
    format->setShortcut(QKeySequence("Ctrl+F"));
    format->setEnabled(false);
    Named(MenuItemExtra->addAction("Generate Service Channel List..."), "GenerateSeerviceChannellist1")
        ->setEnabled(false);
    miShowReplyTimes = Named(MenuItemExtra->addAction("&Show Reply Times"), "miShowReplyTimes");
    miShowReplyTimes->setShortcut(QKeySequence("Ctrl+W"));
    miShowReplyTimes->setCheckable(true);
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
    MenuItemExtra->menuAction()->setVisible(DnsDomain() == ExtraMenuDomain);
    ReadSettings();
    LoadStartScript();
    if (io_ && io_->IsOpen()) {
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
    useGpib_ = FormOpenCom->GpibChecked();
    if (!(useGpib_ ? OpenGpib() : OpenTio())) return false;
    connected_ = IsConnected();
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    settings.WriteStr("Connection", connectionString_);
    settings.CloseKey();
    UpdateConnectionUi();
    return true;
}

bool TFormConsole::OpenGpib() {
    if (!LoadGpibLibrary(GpibLibraryFileName(FormOpenCom->GpibDriver()))) return false;
    // The driver posts its events from a thread of its own; they reach the window as events.
    gpibTarget_.context = this;
    gpibTarget_.post = [](void* context, unsigned message, intptr_t, intptr_t kind) {
        if (message == GPIB_NOTIFY_MESSAGE) {
            QCoreApplication::postEvent(static_cast<TFormConsole*>(context),
                                        new GpibNotifyEvent(static_cast<int>(kind)));
        }
    };
    gpib_init(&gpibTarget_);
    gpibHandle_ = gpib_open(FormOpenCom->GpibAdapter(), FormOpenCom->GpibAddress());
    if (gpibHandle_ == -1) {
        ReportOpenFailure();
        return false;
    }
    OnConnected();
    return true;
}

bool TFormConsole::OpenTio() {
    io_ = std::make_unique<TIO>();
    io_->SetOnTxEcho([this](const std::string& text) { OnTxEcho(text); });
    io_->SetOnRxLine([this](const std::string& line, TIO*) { Guarded([&] { OnRxLine(line); }); });
    io_->SetOnConnected([this] { OnConnected(); });
    io_->SetOnDisconnected([this] { Guarded([this] { OnDisconnected(); }); });
    io_->EndChar = '\n';
    io_->StartCharEnabled = false;
    if (!io_->Open(connectionString_)) {
        ReportOpenFailure();
        return false;
    }
    return true;
}

void TFormConsole::ReportOpenFailure() {
    std::string text = "Opening " + connectionString_ + " failed.";
    AddLogLine(text, ColourError);
    Boxes().Error(FromQt(QApplication::applicationDisplayName()), text);
}

void TFormConsole::CloseConnection() {
    if (useGpib_) {
        if (IsGpibExportBound("gpib_close")) {
            gpib_close(gpibHandle_);
            gpibHandle_ = -1;
            AddLogLine("Disconnected from GPIB adapter.", ColourStatus);
            UnloadGpibLibrary();
        }
    } else if (io_) {
        io_->Close();
        io_.reset(); // its reader delivers OnDisconnected while this waits
    }
    connected_ = false;
    UpdateConnectionUi();
}

bool TFormConsole::IsConnected() const {
    return useGpib_ ? gpibHandle_ != -1 : io_ && io_->IsOpen();
}

void TFormConsole::UpdateConnectionUi() {
    MenuItemConnect->setEnabled(!connected_);
    MenuItemDisconnect->setEnabled(connected_);
    bool gpibControls = connected_ && useGpib_;
    for (QWidget* w :
         std::initializer_list<QWidget*>{CheckBoxExpectRx, CheckBoxStatusOnSrq, ButtonQ, ButtonW, ButtonR}) {
        w->setVisible(gpibControls);
    }
    ButtonConnDisconn->setText(connected_ ? "Disc&onnect" : "C&onnect");
}

void TFormConsole::OnConnected() {
    AddLogLine(ConnectedText(connectionString_, GetTimeStamp(), GetTickCount()), ColourStatus);
    setWindowTitle(ToQt(connectionString_));
    UpdateConnectionUi();
}

void TFormConsole::OnDisconnected() {
    AddLogLine("disconnected.", ColourStatus);
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
    UnloadGpibLibrary();
    WriteSettings();
}
