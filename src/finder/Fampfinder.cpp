#include "finder/Fampfinder.h"

#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "finder/FinderLaunch.h"
#include "platform/ModalBoxes.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "ui_Fampfinder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <utility>

TFormAmpFinder* FormAmpFinder = nullptr;

namespace {
constexpr int ColumnWidth = 120;
// Datagrams read per readiness of a socket: a flood of answers still lets the window repaint, the
// rest is read at the next turn of the event loop.
constexpr size_t DatagramsPerTurn = 64;
} // namespace

TFormAmpFinder::TFormAmpFinder(QWidget* parent)
    : QDialog(parent), Now(GetTickCount), RunTerminalProgram(RunInTerminal),
      OpenUrl([](const std::string& url) { QDesktopServices::openUrl(QUrl(ToQt(url))); }),
      ui_(std::make_unique<Ui::TFormAmpFinder>()) {
    ui_->setupUi(this);
    setObjectName("FormAmpFinder");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ChooseLocalAddress = [](std::string& address) {
        if (!FormSelIpAddr || FormSelIpAddr->SelectLocalAddress(true) != QDialog::Accepted) return false;
        address = FormSelIpAddr->SelectedAddress();
        return true;
    };
    for (int column = 0; column < 3; ++column)
        ui_->ListView1->header()->resizeSection(column, ColumnWidth);
    ui_->ListView1->header()->setSectionsClickable(false);
    ui_->ListView1->viewport()->installEventFilter(this);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    MenuItemPing = PopupMenu1->addAction("&Ping...");
    MenuItemPing->setObjectName("MenuItemPing");
    MenuItemWeb = PopupMenu1->addAction("&Web-Browser...");
    MenuItemWeb->setObjectName("MenuItemWeb");
    MenuItemTelnet = PopupMenu1->addAction("&Telnet...");
    MenuItemTelnet->setObjectName("MenuItemTelnet");
    connect(MenuItemPing, &QAction::triggered, this, [this] { Guarded([this] { MenuItemPingClick(); }); });
    connect(MenuItemWeb, &QAction::triggered, this, [this] { Guarded([this] { MenuItemWebClick(); }); });
    connect(MenuItemTelnet, &QAction::triggered, this,
            [this] { Guarded([this] { MenuItemTelnetClick(); }); });
    connect(ui_->ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { Guarded([&] { ListView1ContextPopup(position); }); });
    connect(ui_->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    TimerHello = new QTimer(this);
    TimerHello->setObjectName("TimerHello");
    TimerHello->setInterval(static_cast<int>(HelloPeriodMs));
    connect(TimerHello, &QTimer::timeout, this, [this] { Guarded([this] { TimerHelloTimer(); }); });
    TimerHello->start();
    setFixedSize(QSize(390, 249).expandedTo(minimumSizeHint()));
}

TFormAmpFinder::~TFormAmpFinder() {
    StopListener();
}

void TFormAmpFinder::AttachToOpenCom(TFormOpenCom& openCom) {
    openCom.SearchAmplifier = [this](std::string& address) {
        if (ShowFinderModal() != 1) return false;
        address = selectedAmp_.Ip;
        return true;
    };
}

int TFormAmpFinder::ShowFinderModal() {
    int result = exec();
    CopySelection();
    return result == QDialog::Accepted ? 1 : 2;
}

bool TFormAmpFinder::CopySelection() {
    if (!newestRow_.empty()) SelectNewestRow();
    const QList<QTreeWidgetItem*> selected = ui_->ListView1->selectedItems();
    if (selected.isEmpty()) return false;
    const AmpInfo* row = amps_.Find(FromQt(selected.first()->text(0)));
    if (!row) return false;
    selectedAmp_ = *row;
    return true;
}

// ---- The receiver ----

void TFormAmpFinder::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) Guarded([this] { FormActivate(); });
}

void TFormAmpFinder::showEvent(QShowEvent* event) {
    askedThisShowing_ = false;
    QDialog::showEvent(event);
}

void TFormAmpFinder::hideEvent(QHideEvent* event) {
    StopListener();
    QDialog::hideEvent(event);
}

// The chooser is modal: while it runs, this dialog loses and regains the activation, which must
// neither ask again (a Cancel would be followed by the next question for ever) nor start a
// receiver on the address not yet taken.
void TFormAmpFinder::FormActivate() {
    if (activating_) return;
    activating_ = true;
    if (localAddress_.empty() && !askedThisShowing_) {
        askedThisShowing_ = true;
        std::string chosen;
        if (ChooseLocalAddress && ChooseLocalAddress(chosen)) localAddress_ = chosen;
    }
    activating_ = false;
    if (isVisible()) StartListener(localAddress_);
}

void TFormAmpFinder::StartListener(const std::string& address) {
    StopListener();
    localAddress_ = address;
    listening_ = true;
    if (!socket_.Open(address, DiscoveryPort)) return;
    for (int fd : socket_.Descriptors()) {
        auto* notifier = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this,
                [this, fd] { Guarded([&] { ReadDatagrams(fd); }); });
        notifiers_.push_back(notifier);
    }
}

void TFormAmpFinder::StopListener() {
    listening_ = false;
    for (QSocketNotifier* notifier : std::exchange(notifiers_, {}))
        delete notifier;
    socket_.Close();
}

void TFormAmpFinder::ReadDatagrams(int fd) {
    socket_.ReadWaiting(fd, DatagramsPerTurn, [this](const std::string& text) { OnDiscoveryDatagram(text); });
}

void TFormAmpFinder::TimerHelloTimer() {
    if (!isVisible() || !listening_) return;
    socket_.Broadcast(DiscoveryHello, DiscoveryHelloLength);
    RemoveStaleEntries(MaxSilenceMs);
}

// ---- The rows ----

void TFormAmpFinder::OnDiscoveryDatagram(const std::string& text) {
    ++datagramsSeen_;
    std::optional<AmpInfo> reply = ParseDiscoveryReply(text);
    if (!reply) return;
    AmpList::UpdateResult result = amps_.Update(*reply, Now());
    if (result.change == AmpList::Change::Added) return AddRow(*result.row);
    QTreeWidgetItem* item = items_.at(result.row->RowKey);
    if (result.ipChanged) item->setText(1, ToQt(result.row->Ip));
    if (result.nameChanged) item->setText(2, ToQt(result.row->Name));
}

void TFormAmpFinder::AddRow(const AmpInfo& info) {
    auto* item = new QTreeWidgetItem(ui_->ListView1, {ToQt(info.RowKey), ToQt(info.Ip), ToQt(info.Name)});
    // Asked of the icon theme at the first row, not while the program starts: a theme look-up
    // with its fallbacks tries hundreds of folders per name.
    if (rowImage_.isNull())
        rowImage_ = QIcon::fromTheme("network-wired",
                                     QIcon::fromTheme("folder", style()->standardIcon(QStyle::SP_DirIcon)));
    item->setIcon(0, rowImage_);
    items_[info.RowKey] = item;
    // Selecting a row makes a visible list lay out all its rows again (about 40 us per row with 500
    // rows), so a burst of new amplifiers selects its newest one once, at the next turn of the
    // event loop, rather than each in turn.
    if (newestRow_.empty())
        QMetaObject::invokeMethod(
            this, [this] { SelectNewestRow(); }, Qt::QueuedConnection);
    newestRow_ = info.RowKey;
}

void TFormAmpFinder::SelectNewestRow() {
    auto found = items_.find(std::exchange(newestRow_, ""));
    if (found != items_.end()) ui_->ListView1->setCurrentItem(found->second);
}

void TFormAmpFinder::RemoveStaleEntries(uint32_t maxAgeMs) {
    for (const std::string& key : amps_.RemoveStale(maxAgeMs, Now())) {
        auto found = items_.find(key);
        if (found == items_.end()) continue;
        delete found->second;
        items_.erase(found);
    }
}

// A double click closes with OK, also on the empty part of the list.
bool TFormAmpFinder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Guarded([this] { accept(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- The context menu ----

void TFormAmpFinder::ListView1ContextPopup(const QPoint& position) {
    PopupMenu1->popup(ui_->ListView1->viewport()->mapToGlobal(position));
}

void TFormAmpFinder::ReportFailure(const std::string& text) {
    Boxes().Error(FromQt(QApplication::applicationDisplayName()), text);
}

void TFormAmpFinder::MenuItemPingClick() {
    if (!CopySelection()) return;
    LaunchPlan plan = PingPlan(selectedAmp_.Ip);
    if (!plan.Ok()) return ReportFailure(plan.error);
    ShellResult result = RunTerminalProgram(plan.argv);
    if (!result.Ok()) ReportFailure(result.message);
}

void TFormAmpFinder::MenuItemWebClick() {
    if (!CopySelection()) return;
    LaunchPlan plan = WebPlan(selectedAmp_.Ip);
    if (!plan.Ok()) return ReportFailure(plan.error);
    OpenUrl(plan.url);
}

void TFormAmpFinder::MenuItemTelnetClick() {
    if (!CopySelection()) return;
    if (!IsDottedIpv4(selectedAmp_.Ip)) return ReportFailure(TelnetPlan(selectedAmp_.Ip, "").error);
    std::string port = "2500";
    if (!Boxes().InputQuery("Enter optional Telnet Port", "Telnet Port", port)) return;
    LaunchPlan plan = TelnetPlan(selectedAmp_.Ip, port);
    if (!plan.Ok()) return ReportFailure(plan.error);
    ShellResult result = RunTerminalProgram(plan.argv);
    if (!result.Ok()) ReportFailure(result.message);
}
