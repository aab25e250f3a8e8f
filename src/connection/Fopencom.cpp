#include "connection/Fopencom.h"

#include "connection/SerialPortList.h"
#include "connection/VisaResource.h"
#include "platform/ModalBoxes.h"
#include "platform/QtPlatform.h"
#include "platform/Shell.h"
#include "text/Strtools.h"
#include "ui_Fopencom.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtConcurrent/QtConcurrentRun>

TFormOpenCom* FormOpenCom = nullptr;

namespace {
QStringList ToQtList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const auto& text : texts)
        list.append(ToQt(text));
    return list;
}

int FindExact(const QComboBox* box, const std::string& text) {
    return box->findText(ToQt(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
} // namespace

TFormOpenCom::TFormOpenCom(QWidget* parent)
    : QDialog(parent), ListPorts([] { return ListSerialPortInfo(); }),
      ui_(std::make_unique<Ui::TFormOpenCom>()) {
    ui_->setupUi(this);
    // The port list's popup shows each port's description in a second column.
    auto* portView = new QTreeView(ui_->ComboBoxPort);
    portView->setHeaderHidden(true);
    portView->setRootIsDecorated(false);
    portView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui_->ComboBoxPort->setView(portView);
    // Ports that come and go (a USB adapter plugged in) show up while the dialog is open: the
    // system tells of changes in /dev, nothing is polled.
    auto* devices = new QFileSystemWatcher(this);
    for (const char* folder : {"/dev", "/dev/serial/by-id"}) {
        if (QFileInfo::exists(folder)) devices->addPath(folder);
    }
    connect(devices, &QFileSystemWatcher::directoryChanged, this,
            [this] { Guarded([this] { DevicesChanged(); }); });
    setObjectName("FormOpenCom");
    ui_->UpDownGpibDev->findChild<QLineEdit*>()->setObjectName("EditGpibDev");
    ui_->UpDownGpibAddr->findChild<QLineEdit*>()->setObjectName("EditGpibAddr");
    ui_->ComboBoxPortCfg->addItems(ToQtList(SerialModeChoices()));
    ui_->ComboBoxGpibDriver->addItems(ToQtList(GpibDrivers()));
    radios_ = {{ui_->RadioButtonConTcp, ConGroup::Tcp},
               {ui_->RadioButtonConTcpSrv, ConGroup::TcpSrv},
               {ui_->RadioButtonConSerial, ConGroup::Serial},
               {ui_->RadioButtonConGpib, ConGroup::Gpib}};
    ShowState(OpenComState{});
    WatchGroup(ConGroup::Tcp, {ui_->EditHost, ui_->ButtonSelectAmp, ui_->EditTcpport});
    WatchGroup(ConGroup::TcpSrv, {ui_->EditSrvAddr, ui_->EditSrvPort});
    WatchGroup(ConGroup::Serial, {ui_->ComboBoxPort, ui_->ButtonEnumPorts, ui_->ComboBoxPortCfg});
    WatchGroup(ConGroup::Gpib, {ui_->UpDownGpibDev, ui_->UpDownGpibAddr, ui_->ComboBoxGpibDriver});
    AddLineEndRow();
    ui_->LabelPort->installEventFilter(this);
    ui_->Label1->installEventFilter(this);
    connect(ui_->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->ButtonCanel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->ButtonEnumPorts, &QPushButton::clicked, this,
            [this] { Guarded([this] { ButtonEnumPortsClick(); }); });
    connect(ui_->ButtonSelectAmp, &QPushButton::clicked, this,
            [this] { Guarded([this] { ButtonSelectAmpClick(); }); });
    // The fourth group makes the dialog taller than the three-group layout; a larger system font
    // may need more room still.
    setFixedSize(QSize(482, 344).expandedTo(minimumSizeHint()));
}

TFormOpenCom::~TFormOpenCom() = default;

// The focus may land on a composite control or on the line edit inside it, depending on how the
// control forwards it; watching both catches either.
void TFormOpenCom::WatchGroup(ConGroup group, std::initializer_list<QWidget*> controls) {
    for (QWidget* control : controls) {
        groupOf_[control] = group;
        control->installEventFilter(this);
        for (QLineEdit* edit : control->findChildren<QLineEdit*>()) {
            groupOf_[edit] = group;
            edit->installEventFilter(this);
        }
    }
}

bool TFormOpenCom::EditConnection(std::string& connection) {
    OpenComState state = ReadState();
    ApplyConnectionString(state, connection, ReadPorts());
    connectionKindName_ = state.connectionKindName;
    ShowState(state);
    // A LAN instrument, for which the dialog has no group, shows as its VISA resource.
    visa_->setText(ToQt(VisaOfInstrument(connection)));
    ShowUnreadable(state.unreadable);
    // The choosers work on a copy: a cancelled dialog leaves the line ends as they were.
    editedLineEnds_ = LineEndsByKind;
    const ConnectionKind* kind = FindConnectionKind(ParseConnection(connection).KindName);
    if (ConnectionLineEnds && kind && kind->MakeTransport)
        editedLineEnds_[std::string(kind->Name)] = *ConnectionLineEnds;
    ShowLineEnds();
    FocusCheckedGroup();
    if (exec() != QDialog::Accepted) return false;
    if (visaConnection_.empty()) {
        BuildConnectionString(ReadState(), connection);
    } else {
        connection = visaConnection_;
    }
    LineEndsByKind = editedLineEnds_;
    return true;
}

bool TFormOpenCom::GpibChecked() const {
    return ui_->RadioButtonConGpib->isChecked();
}
std::string TFormOpenCom::GpibDriver() const {
    return FromQt(ui_->ComboBoxGpibDriver->currentText());
}
int TFormOpenCom::GpibAdapter() const {
    return ui_->UpDownGpibDev->value();
}
int TFormOpenCom::GpibAddress() const {
    return ui_->UpDownGpibAddr->value();
}

ConGroup TFormOpenCom::CheckedGroup() const {
    for (const auto& [radio, group] : radios_) {
        if (radio->isChecked()) return group;
    }
    return ConGroup::None;
}

// A dialog shown again gives the focus back to the control that had it last; were that a control
// of another group, its focus would switch away from the connection just shown. So the dialog
// opens on the checked group's radio button.
void TFormOpenCom::FocusCheckedGroup() {
    for (const auto& [radio, group] : radios_) {
        if (radio->isChecked()) return radio->setFocus(Qt::OtherFocusReason);
    }
    ui_->ButtonOk->setFocus(Qt::OtherFocusReason);
}

void TFormOpenCom::ShowUnreadable(const std::string& connection) {
    unreadableNote_->setText(
        ToQt("The stored connection \"" + connection + "\" cannot be read. Choose one of the kinds above."));
    unreadableNote_->setVisible(!connection.empty() ||
                                (CheckedGroup() == ConGroup::None && visaConnection_.empty()));
}

namespace {
// What the choosers offer, in the order of the enums.
const char* const TxEndTexts[] = {"LF", "CR", "CR LF", "nothing"};
const char* const RxEndTexts[] = {"LF", "CR", "CR LF", "CR or LF"};

std::string KindNameOf(ConGroup group) {
    const ConnectionKind* kind = group == ConGroup::Gpib ? nullptr : ConnectionKindOf(group);
    return kind ? std::string(kind->Name) : std::string();
}
} // namespace

void TFormOpenCom::AddLineEndRow() {
    auto* row = new QHBoxLayout;
    txEnd_ = new QComboBox(this);
    txEnd_->setObjectName("ComboBoxTxEnd");
    rxEnd_ = new QComboBox(this);
    rxEnd_->setObjectName("ComboBoxRxEnd");
    for (const char* text : TxEndTexts)
        txEnd_->addItem(text);
    for (const char* text : RxEndTexts)
        rxEnd_->addItem(text);
    row->addWidget(new QLabel("Line end sent:", this));
    row->addWidget(txEnd_);
    row->addWidget(new QLabel("received:", this));
    row->addWidget(rxEnd_);
    idle_ = new QSpinBox(this);
    idle_->setObjectName("SpinIdleMs");
    idle_->setRange(0, LineEnds::MaxIdleMs);
    idle_->setSingleStep(50);
    idle_->setSpecialValueText("off");
    idle_->setSuffix(" ms");
    idle_->setToolTip("Received bytes that wait this long without a line end are shown as a line (a prompt)");
    row->addWidget(new QLabel("or after:", this));
    row->addWidget(idle_);
    row->addStretch();
    QGridLayout* form = ui_->LayoutForm;
    const int buttonsRow = form->rowCount() - 1;
    form->removeItem(ui_->LayoutButtons);
    AddVisaRow(form, buttonsRow);
    form->addLayout(row, buttonsRow + 3, 0, 1, form->columnCount());
    form->addLayout(ui_->LayoutButtons, buttonsRow + 4, 0, 1, form->columnCount());
    for (const auto& [radio, group] : radios_) {
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on) Guarded([this] { ShowLineEnds(); });
        });
    }
    for (QComboBox* box : {txEnd_, rxEnd_})
        connect(box, &QComboBox::activated, this, [this] { Guarded([this] { TakeLineEnds(); }); });
    connect(idle_, &QSpinBox::valueChanged, this, [this] { Guarded([this] { TakeLineEnds(); }); });
    ShowLineEnds();
}

// The note under the groups keeps its room while hidden, as the dialog's size is fixed.
void TFormOpenCom::AddVisaRow(QGridLayout* form, int row) {
    unreadableNote_ = new QLabel(this);
    unreadableNote_->setObjectName("LabelUnreadable");
    unreadableNote_->setStyleSheet("color: #ff0000;");
    unreadableNote_->setWordWrap(true);
    unreadableNote_->setTextFormat(Qt::PlainText);
    unreadableNote_->setMinimumHeight(2 * fontMetrics().height());
    QSizePolicy keepRoom = unreadableNote_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    unreadableNote_->setSizePolicy(keepRoom);
    unreadableNote_->hide();
    form->addWidget(unreadableNote_, row, 0, 1, form->columnCount());
    auto* line = new QHBoxLayout;
    visa_ = new QLineEdit(this);
    visa_->setObjectName("EditVisa");
    visa_->setPlaceholderText("e.g. TCPIP0::10.0.0.5::5025::SOCKET");
    visaMeaning_ = new QLabel(this);
    visaMeaning_->setObjectName("LabelVisaMeaning");
    visaMeaning_->setTextFormat(Qt::PlainText);
    visaMeaning_->setWordWrap(true);
    line->addWidget(new QLabel("VISA resource:", this));
    line->addWidget(visa_, 1);
    visaMeaning_->setMinimumHeight(fontMetrics().height());
    form->addLayout(line, row + 1, 0, 1, form->columnCount());
    form->addWidget(visaMeaning_, row + 2, 0, 1, form->columnCount());
    connect(visa_, &QLineEdit::textChanged, this, [this] { Guarded([this] { ReadVisa(); }); });
}

void TFormOpenCom::ReadVisa() {
    visaConnection_.clear();
    const std::string text = TrimText(FromQt(visa_->text()));
    if (text.empty()) {
        visaMeaning_->clear();
        return;
    }
    std::string connection, error;
    if (!VisaToConnection(text, {GpibDriver(), SerialPortOfNumber}, connection, error)) {
        visaMeaning_->setStyleSheet("color: #ff0000;");
        visaMeaning_->setText(ToQt(error));
        return;
    }
    visaConnection_ = connection;
    visaMeaning_->setStyleSheet(QString());
    visaMeaning_->setText(ToQt("= " + connection));
    OpenComState state = ReadState();
    ApplyConnectionString(state, connection, ReadPorts());
    if (state.unreadable.empty()) ShowState(state);
}

// GPIB has no lines of its own: its choosers rest.
void TFormOpenCom::ShowLineEnds() {
    const std::string kind = KindNameOf(CheckedGroup());
    const auto found = editedLineEnds_.find(kind);
    const LineEnds ends = found == editedLineEnds_.end() ? LineEnds{} : found->second;
    showingLineEnds_ = true;
    txEnd_->setCurrentIndex(static_cast<int>(ends.tx));
    rxEnd_->setCurrentIndex(static_cast<int>(ends.rx));
    idle_->setValue(ends.idleMs);
    showingLineEnds_ = false;
    for (QWidget* chooser : std::initializer_list<QWidget*>{txEnd_, rxEnd_, idle_})
        chooser->setEnabled(!kind.empty());
}

void TFormOpenCom::TakeLineEnds() {
    const std::string kind = KindNameOf(CheckedGroup());
    if (kind.empty() || showingLineEnds_) return;
    editedLineEnds_[kind] = {static_cast<TxLineEnd>(txEnd_->currentIndex()),
                             static_cast<RxLineEnd>(rxEnd_->currentIndex()), idle_->value()};
}

void TFormOpenCom::Check(ConGroup group) {
    for (const auto& [radio, radioGroup] : radios_) {
        // An exclusive radio button cannot be unchecked directly; None only comes from code.
        radio->setAutoExclusive(group != ConGroup::None);
        radio->setChecked(radioGroup == group);
        radio->setAutoExclusive(true);
    }
}

OpenComState TFormOpenCom::ReadState() const {
    OpenComState state;
    state.checked = CheckedGroup();
    for (int i = 0; i < ui_->ComboBoxPort->count(); ++i)
        state.ports.push_back(FromQt(ui_->ComboBoxPort->itemText(i)));
    state.portName = FromQt(ui_->ComboBoxPort->currentText());
    state.portMode = FromQt(ui_->ComboBoxPortCfg->currentText());
    state.host = FromQt(ui_->EditHost->text());
    state.tcpPort = FromQt(ui_->EditTcpport->text());
    state.srvAddress = FromQt(ui_->EditSrvAddr->text());
    state.srvPort = FromQt(ui_->EditSrvPort->text());
    state.gpibAdapter = ui_->UpDownGpibDev->value();
    state.gpibAddress = ui_->UpDownGpibAddr->value();
    int driver = ui_->ComboBoxGpibDriver->currentIndex();
    state.gpibDriver = driver < 0 ? std::nullopt : std::optional<size_t>(static_cast<size_t>(driver));
    state.connectionKindName = connectionKindName_;
    return state;
}

void TFormOpenCom::ShowState(const OpenComState& state) {
    Check(state.checked);
    ShowPorts(state);
    ui_->ComboBoxPortCfg->setEditText(ToQt(state.portMode));
    ui_->EditHost->setText(ToQt(state.host));
    ui_->EditTcpport->setText(ToQt(state.tcpPort));
    ui_->EditSrvAddr->setText(ToQt(state.srvAddress));
    ui_->EditSrvPort->setText(ToQt(state.srvPort));
    ui_->UpDownGpibDev->setValue(state.gpibAdapter);
    ui_->UpDownGpibAddr->setValue(state.gpibAddress);
    ui_->ComboBoxGpibDriver->setCurrentIndex(state.gpibDriver ? static_cast<int>(*state.gpibDriver) : -1);
}

void TFormOpenCom::ShowPorts(const OpenComState& state) {
    QComboBox* box = ui_->ComboBoxPort;
    box->clear();
    box->addItems(ToQtList(state.ports));
    // The list shows what the system knows of each port beside its name; the name alone goes
    // into the connection.
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    if (model) model->setColumnCount(2);
    for (int row = 0; row < box->count(); ++row) {
        const auto about = portDescriptions_.find(state.ports[static_cast<size_t>(row)]);
        if (about == portDescriptions_.end() || about->second.empty()) continue;
        box->setItemData(row, ToQt(about->second), Qt::ToolTipRole);
        if (model) model->setItem(row, 1, new QStandardItem(ToQt(about->second)));
    }
    int index = FindExact(ui_->ComboBoxPort, state.portName);
    if (index >= 0)
        ui_->ComboBoxPort->setCurrentIndex(index);
    else
        ui_->ComboBoxPort->setEditText(ToQt(state.portName));
}

bool TFormOpenCom::eventFilter(QObject* watched, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = FilterEvent(watched, event); });
    return handled || QDialog::eventFilter(watched, event);
}

bool TFormOpenCom::FilterEvent(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        auto found = groupOf_.find(watched);
        if (found != groupOf_.end()) Check(found->second);
        return false;
    }
    const bool left =
        (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (!left) return false;
    if (watched == ui_->LabelPort && event->type() == QEvent::MouseButtonDblClick) {
        labelPortDoubleClicked_ = true;
        LabelPortDblClick();
    } else if (watched == ui_->LabelPort) {
        if (!std::exchange(labelPortDoubleClicked_, false)) LabelPortClick();
    } else if (watched == ui_->Label1 && event->type() == QEvent::MouseButtonDblClick) {
        Label1DblClick();
    }
    return false;
}

void TFormOpenCom::ReportFailure(const std::string& text) {
    Boxes().Error(FromQt(QApplication::applicationDisplayName()), text);
}

void TFormOpenCom::ButtonEnumPortsClick() {
    OpenComState state = ReadState();
    RefreshPorts(state, ReadPorts());
    ShowPorts(state);
}

std::vector<std::string> TFormOpenCom::ReadPorts() {
    return TakePorts(ListPorts ? ListPorts() : std::vector<SerialPortInfo>{});
}

std::vector<std::string> TFormOpenCom::TakePorts(const std::vector<SerialPortInfo>& ports) {
    portDescriptions_.clear();
    for (const SerialPortInfo& port : ports) {
        portDescriptions_[port.name] = port.description;
        if (!port.stableName.empty()) portDescriptions_[port.stableName] = port.description;
    }
    return OfferedPortNames(ports);
}

void TFormOpenCom::DevicesChanged() {
    if (!isVisible() || rereading_ || !ListPorts) return;
    rereading_ = true;
    auto* reading = new QFutureWatcher<std::vector<SerialPortInfo>>(this);
    connect(reading, &QFutureWatcherBase::finished, this, [this, reading] {
        reading->deleteLater();
        rereading_ = false;
        Guarded([&] {
            // What the operator typed or chose stays; only the list changes.
            OpenComState state = ReadState();
            state.ports = TakePorts(reading->result());
            ShowPorts(state);
        });
    });
    reading->setFuture(QtConcurrent::run(ListPorts));
}

void TFormOpenCom::ButtonSelectAmpClick() {
    if (!SearchAmplifier) return;
    std::string address;
    if (!SearchAmplifier(address)) return;
    // An instrument the finder found by VXI-11, mDNS or a probe comes as the connection it opens.
    if (LooksLikeVisaResource(address)) return visa_->setText(ToQt(address));
    Check(ConGroup::Tcp);
    ui_->EditHost->setText(ToQt(address));
}

void TFormOpenCom::LabelPortClick() {
    ShellResult result = RunInTerminal(SerialDeviceViewer());
    if (!result.Ok()) ReportFailure("The serial device list cannot be shown.\n" + result.message);
}

void TFormOpenCom::LabelPortDblClick() {
    ButtonEnumPortsClick();
}

void TFormOpenCom::Label1DblClick() {
    const std::string driver = GpibDriver();
    const std::string tool = GpibDriverTool(driver);
    if (driver.empty()) return ReportFailure("No GPIB driver is selected.");
    if (tool.empty())
        return ReportFailure("No configuration tool of the GPIB driver \"" + driver + "\" is installed.");
    ShellResult result = LaunchProgram({tool});
    if (!result.Ok()) {
        ReportFailure("The configuration tool of the GPIB driver \"" + driver + "\" is not installed.\n" +
                      result.message);
    }
}
