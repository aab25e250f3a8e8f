#include "finder/Fampfinder.h"

#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/VisaResource.h"
#include "finder/FinderLaunch.h"
#include "finder/PortmapSearch.h"
#include "platform/Config.h"
#include "platform/ModalBoxes.h"
#include "platform/QtPlatform.h"
#include "platform/Tick.h"
#include "text/Strtools.h"
#include "ui_Fampfinder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdint>
#include <utility>

TFormAmpFinder* FormAmpFinder = nullptr;

namespace {
constexpr int ColumnWidth = 120;
// Datagrams read per readiness of a socket: a flood of answers still lets the window repaint, the
// rest is read at the next turn of the event loop.
constexpr size_t DatagramsPerTurn = 64;
// Findings moved into the list per turn of the drain timer: a burst of hundreds of answers becomes
// rows in batches, with repaints and keystrokes between them.
constexpr size_t FindingsPerDrain = 100;
constexpr int DrainPeriodMs = 40;
constexpr int Columns = 5;
constexpr char HelloHow[] = "hello";
constexpr char HelloSetting[] = "FinderHello";
constexpr char AddressesSetting[] = "FinderAddresses";

// A switch's value as stored, 0 or 1; its default when it is missing or no number.
bool ReadSwitchSetting(SettingsStore& settings, const char* name, bool onByDefault) {
    try {
        return settings.ReadInt(name, onByDefault ? 1 : 0) != 0;
    } catch (const ESettingsError&) {
        return onByDefault;
    }
}

std::vector<std::string> SplitAddresses(const std::string& text) {
    std::vector<std::string> addresses;
    size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const size_t end = std::min(text.find(' ', at), text.size());
        addresses.push_back(text.substr(at, end - at));
        at = end;
    }
    return addresses;
}

std::string JoinAddresses(const std::vector<std::string>& addresses) {
    std::string text;
    for (const std::string& address : addresses)
        text += (text.empty() ? "" : " ") + address;
    return text;
}
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
    for (int column = 0; column < Columns; ++column)
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
    MenuItemRemove = PopupMenu1->addAction("&Remove Address");
    MenuItemRemove->setObjectName("MenuItemRemove");
    connect(MenuItemRemove, &QAction::triggered, this,
            [this] { Guarded([this] { MenuItemRemoveClick(); }); });
    connect(ui_->ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { Guarded([&] { ListView1ContextPopup(position); }); });
    connect(ui_->ButtonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    TimerHello = new QTimer(this);
    TimerHello->setObjectName("TimerHello");
    TimerHello->setInterval(static_cast<int>(HelloPeriodMs));
    connect(TimerHello, &QTimer::timeout, this, [this] { Guarded([this] { TimerHelloTimer(); }); });
    TimerHello->start();

    TimerFindings = new QTimer(this);
    TimerFindings->setObjectName("TimerFindings");
    TimerFindings->setInterval(DrainPeriodMs);
    connect(TimerFindings, &QTimer::timeout, this,
            [this] { Guarded([this] { DrainFindings(FindingsPerDrain); }); });
    // Off until the operator turns them on: unchanged, the finder sends only its hello.
    switches_.push_back({SearchKind::Vxi11, "FinderVxi11", PortmapSearch::BroadcastHow, false, {}});
    switches_.push_back({SearchKind::Mdns, "FinderMdns", "mDNS", false, {}});
    switches_.front().searches.push_back(std::make_unique<PortmapSearch>());
    ReadSearchSettings();
    connect(ui_->CheckHello, &QCheckBox::toggled, this,
            [this](bool on) { Guarded([&] { HelloToggled(on); }); });
    for (SearchSwitch& which : switches_)
        connect(SwitchBox(which.kind), &QCheckBox::toggled, this,
                [this, &which](bool on) { Guarded([&] { SwitchToggled(which, on); }); });
    connect(ui_->ButtonAdd, &QPushButton::clicked, this, [this] { Guarded([this] { ButtonAddClick(); }); });
    ui_->EditAddress->installEventFilter(this);
    setFixedSize(QSize(640, 360).expandedTo(minimumSizeHint()));
}

TFormAmpFinder::~TFormAmpFinder() {
    StopSearches();
    StopListener();
}

void TFormAmpFinder::ReadSearchSettings() {
    SettingsStore& settings = Settings();
    if (!settings.OpenKey(SettingsKeyPath)) return;
    ui_->CheckHello->setChecked(ReadSwitchSetting(settings, HelloSetting, true));
    for (const SearchSwitch& which : switches_)
        SwitchBox(which.kind)->setChecked(ReadSwitchSetting(settings, which.setting, which.onByDefault));
    typedAddresses_ = SplitAddresses(settings.ReadStr(AddressesSetting, ""));
    settings.CloseKey();
    for (const std::string& address : typedAddresses_)
        AddAddress(address);
}

QCheckBox* TFormAmpFinder::SwitchBox(SearchKind kind) const {
    return kind == SearchKind::Vxi11 ? ui_->CheckVxi11 : ui_->CheckMdns;
}

void TFormAmpFinder::AddSearch(SearchKind kind, std::unique_ptr<InstrumentSearch> search) {
    for (SearchSwitch& which : switches_) {
        if (which.kind != kind) continue;
        which.searches.push_back(std::move(search));
        SwitchBox(kind)->setVisible(true);
        if (!searchesAddress_.empty() && SwitchBox(kind)->isChecked())
            which.searches.back()->Start(searchesAddress_, findings_);
    }
}

void TFormAmpFinder::AttachToOpenCom(TFormOpenCom& openCom) {
    openCom.SearchAmplifier = [this](std::string& address) {
        if (ShowFinderModal() != 1) return false;
        address = selectedVisa_.empty() ? selectedAmp_.Ip : selectedVisa_;
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
    const QVariant instrumentKey = selected.first()->data(0, Qt::UserRole);
    if (instrumentKey.isValid()) {
        const FoundInstrument* found = instruments_.Find(FromQt(instrumentKey.toString()));
        if (!found) return false;
        selectedAmp_ = AmpInfo{};
        selectedAmp_.Ip = found->address;
        selectedAmp_.Name = found->name;
        selectedAmp_.RowKey = found->key;
        selectedVisa_ = found->visa;
        return true;
    }
    const AmpInfo* row = amps_.Find(FromQt(selected.first()->text(0)));
    if (!row) return false;
    selectedAmp_ = *row;
    selectedVisa_.clear();
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
    StopSearches();
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
    // Every activation starts the hello afresh; the other searches go on where they run already.
    if (searchesAddress_ != address) StartSearches(address);
    if (!ui_->CheckHello->isChecked() || !socket_.Open(address, DiscoveryPort)) return;
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
    auto* item = new QTreeWidgetItem(
        ui_->ListView1, {ToQt(info.RowKey), ToQt(info.Ip), ToQt(info.Name), HelloHow, QString()});
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

// A double click closes with OK, also on the empty part of the list. Enter in the address box adds
// the address rather than closing the dialog.
bool TFormAmpFinder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->EditAddress && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Guarded([this] { ButtonAddClick(); });
            return true;
        }
    }
    if (watched == ui_->ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Guarded([this] { accept(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- The context menu ----

void TFormAmpFinder::ListView1ContextPopup(const QPoint& position) {
    MenuItemRemove->setEnabled(!SelectedTypedAddress().empty());
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

// ---- The searches beside the hello ----

void TFormAmpFinder::HelloToggled(bool on) {
    SettingsStore& settings = Settings();
    if (settings.OpenKey(SettingsKeyPath)) {
        settings.WriteInt(HelloSetting, on ? 1 : 0);
        settings.CloseKey();
    }
    if (on) {
        if (isVisible() && !localAddress_.empty()) StartListener(localAddress_);
        return;
    }
    StopListener();
    for (const AmpInfo* row : amps_.Rows())
        delete items_.at(row->RowKey);
    items_.clear();
    amps_.Clear();
}

void TFormAmpFinder::SwitchToggled(SearchSwitch& which, bool on) {
    SettingsStore& settings = Settings();
    if (settings.OpenKey(SettingsKeyPath)) {
        settings.WriteInt(which.setting, on ? 1 : 0);
        settings.CloseKey();
    }
    if (on) {
        if (!searchesAddress_.empty()) StartSwitch(which);
        return;
    }
    for (const auto& search : which.searches)
        search->Stop();
    RemoveInstrumentRows(which.how);
}

void TFormAmpFinder::StartSearches(const std::string& address) {
    StopSearches();
    if (address.empty()) return;
    searchesAddress_ = address;
    for (SearchSwitch& which : switches_) {
        RemoveInstrumentRows(which.how);
        if (SwitchBox(which.kind)->isChecked()) StartSwitch(which);
    }
    StartTypedAddresses(typedAddresses_);
    TimerFindings->start();
}

void TFormAmpFinder::StartSwitch(SearchSwitch& which) {
    for (const auto& search : which.searches)
        search->Start(searchesAddress_, findings_);
}

// What the stopped searches left queued is dropped: the next start searches afresh.
void TFormAmpFinder::StopSearches() {
    for (SearchSwitch& which : switches_)
        for (const auto& search : which.searches)
            search->Stop();
    for (const auto& search : std::exchange(typedSearches_, {}))
        search->Stop();
    searchesAddress_.clear();
    TimerFindings->stop();
    std::vector<FoundInstrument> found;
    std::vector<std::string> notes;
    findings_.Drain(SIZE_MAX, found, notes);
}

void TFormAmpFinder::StartTypedAddresses(const std::vector<std::string>& hosts) {
    if (hosts.empty() || searchesAddress_.empty()) return;
    auto search = std::make_unique<PortmapSearch>(hosts);
    search->Start(searchesAddress_, findings_);
    typedSearches_.push_back(std::move(search));
}

void TFormAmpFinder::ButtonAddClick() {
    const std::string address = TrimText(FromQt(ui_->EditAddress->text()));
    if (address.empty()) return;
    ui_->EditAddress->clear();
    if (std::find(typedAddresses_.begin(), typedAddresses_.end(), address) != typedAddresses_.end()) return;
    typedAddresses_.push_back(address);
    WriteTypedAddresses();
    AddAddress(address);
}

void TFormAmpFinder::WriteTypedAddresses() {
    SettingsStore& settings = Settings();
    if (!settings.OpenKey(SettingsKeyPath)) return;
    settings.WriteStr(AddressesSetting, JoinAddresses(typedAddresses_));
    settings.CloseKey();
}

std::string TFormAmpFinder::SelectedTypedAddress() const {
    const QTreeWidgetItem* item = ui_->ListView1->currentItem();
    if (!item) return {};
    const std::string key = FromQt(item->data(0, Qt::UserRole).toString());
    std::string host = key.substr(std::min(key.size(), PortmapSearch::ManualKeyPrefix.size()));
    if (!key.starts_with(PortmapSearch::ManualKeyPrefix) ||
        std::find(typedAddresses_.begin(), typedAddresses_.end(), host) == typedAddresses_.end())
        return {};
    return host;
}

// The address is forgotten at once; what its probe still finds is dropped when it arrives.
void TFormAmpFinder::MenuItemRemoveClick() {
    const std::string host = SelectedTypedAddress();
    if (host.empty()) return;
    std::erase(typedAddresses_, host);
    WriteTypedAddresses();
    const std::string key = std::string(PortmapSearch::ManualKeyPrefix) + host;
    instruments_.Remove(key);
    if (auto item = instrumentItems_.find(key); item != instrumentItems_.end()) {
        delete item->second;
        instrumentItems_.erase(item);
    }
}

void TFormAmpFinder::AddAddress(const std::string& address) {
    size_t index = 0;
    if (instruments_.Merge(PortmapSearch::ManualRow(address), index) == InstrumentList::Change::Added)
        ShowInstrumentRow(index, true);
    StartTypedAddresses({address});
}

void TFormAmpFinder::DrainFindings(size_t maxRows) {
    std::vector<FoundInstrument> found;
    std::vector<std::string> notes;
    findings_.Drain(maxRows, found, notes);
    for (const FoundInstrument& finding : found) {
        if (SwitchedOff(finding.how)) continue; // queued before its search stopped
        if (finding.key.starts_with(PortmapSearch::ManualKeyPrefix) &&
            std::find(typedAddresses_.begin(), typedAddresses_.end(),
                      finding.key.substr(PortmapSearch::ManualKeyPrefix.size())) == typedAddresses_.end())
            continue; // a typed address removed while its probe ran
        size_t index = 0;
        const InstrumentList::Change change = instruments_.Merge(finding, index);
        if (change != InstrumentList::Change::Unchanged)
            ShowInstrumentRow(index, change == InstrumentList::Change::Added);
    }
    if (!notes.empty()) ui_->LabelNote->setText(ToQt(notes.back()));
}

bool TFormAmpFinder::SwitchedOff(const std::string& how) const {
    return std::any_of(switches_.begin(), switches_.end(), [&](const SearchSwitch& which) {
        return !SwitchBox(which.kind)->isChecked() && how.starts_with(which.how);
    });
}

void TFormAmpFinder::ShowInstrumentRow(size_t index, bool added) {
    const FoundInstrument& row = instruments_.At(index);
    const QStringList texts{QString(), ToQt(row.address), ToQt(row.name), ToQt(row.how), ToQt(row.visa)};
    if (!added) {
        QTreeWidgetItem* item = instrumentItems_.at(row.key);
        for (int column = 1; column < Columns; ++column)
            if (item->text(column) != texts[column]) item->setText(column, texts[column]);
        return;
    }
    auto* item = new QTreeWidgetItem(ui_->ListView1, texts);
    item->setData(0, Qt::UserRole, ToQt(row.key));
    instrumentItems_[row.key] = item;
}

void TFormAmpFinder::RemoveInstrumentRows(const std::string& howPrefix) {
    for (const std::string& key : instruments_.RemoveFoundBy(howPrefix)) {
        auto found = instrumentItems_.find(key);
        if (found == instrumentItems_.end()) continue;
        delete found->second;
        instrumentItems_.erase(found);
    }
}
