#include "projects/Fgotoprojdlg.h"

#include "platform/QtPlatform.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "projects/FolderSearchWorker.h"
#include "projects/ProjectSearch.h"
#include "text/Strtools.h"
#include "ui_Fgotoprojdlg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileDialog>
#include <QMenu>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <cerrno>
#include <cstdlib>

TFormGotoProj* FormGotoProj = nullptr;

namespace {
constexpr int ItemHeight = 20;
// An entry's path as the file system's bytes: its text cannot carry a name that is not UTF-8.
constexpr int PathRole = Qt::UserRole;
// How long OK waits for a search still running on a slow share before it closes with what is shown.
constexpr int OkWaitLimitMs = 10000;
constexpr char FileManagerService[] = "org.freedesktop.FileManager1";

// The key of an entry's icon: the lower-case extension after the last "/" ("" for a folder path,
// which ends in "/").
std::string ExtensionKey(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string key = path.substr(dot);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

// Draws an entry as the navigator always has: its icon at (2, 2), its text at (22, 2), on the
// highlight colours when selected.
class FolderItemDelegate : public QStyledItemDelegate {
public:
    explicit FolderItemDelegate(TFormGotoProj* form) : QStyledItemDelegate(form), form_(form) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width() + 22, ItemHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        const QRect& rect = option.rect;
        painter->save();
        painter->fillRect(rect, palette.color(selected ? QPalette::Highlight : QPalette::Base));
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QString text = index.data(Qt::DisplayRole).toString();
        QRect textRect = rect.adjusted(22, 2, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        QIcon icon = form_->CachedIcon(ExtensionKey(index.data(PathRole).toByteArray().toStdString()));
        if (!icon.isNull()) icon.paint(painter, QRect(rect.left() + 2, rect.top() + 2, 16, 16));
        painter->restore();
    }

private:
    TFormGotoProj* form_;
};

// The desktop theme's icon for a folder, or for a file of that extension; null when it has none.
QIcon FetchIcon(const std::string& key, const QStyle* style) {
    if (key.empty()) return QIcon::fromTheme("folder", style->standardIcon(QStyle::SP_DirIcon));
    QMimeType type = QMimeDatabase().mimeTypeForFile("file" + PathToQt(key), QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
}

// The desktop's file manager shows a folder's properties sheet (freedesktop FileManager1
// interface). The call is sent without waiting for its answer; whether a file manager is there to
// take it is asked first, so a missing one is reported rather than ignored.
ShellResult ShowPropertiesInFileManager(const std::string& folder) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    const bool present = daemon && (daemon->isServiceRegistered(FileManagerService).value() ||
                                    daemon->activatableServiceNames().value().contains(FileManagerService));
    if (!present)
        return {ENOENT, "Cannot show the folder's properties: no file manager of this desktop offers them (" +
                            std::string(FileManagerService) + ")."};
    // A URL carries the name's bytes percent-encoded, whatever they are.
    const QString url =
        "file://" + QString::fromLatin1(QByteArray::fromStdString(folder).toPercentEncoding("/"));
    QDBusMessage call = QDBusMessage::createMethodCall(FileManagerService, "/org/freedesktop/FileManager1",
                                                       FileManagerService, "ShowItemProperties");
    call << QStringList{url} << QString();
    if (!bus.send(call))
        return {EIO, "Cannot show the folder's properties: " + FromQt(bus.lastError().message())};
    return {};
}
} // namespace

TFormGotoProj::TFormGotoProj(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::TFormGotoProj>()) {
    ui_->setupUi(this);
    setObjectName("FormGotoProj");
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint);
    resize(404, 308);
    ui_->ListBox1->setItemDelegate(new FolderItemDelegate(this));
    ui_->ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ui_->ListBox1->viewport()->installEventFilter(this);
    ui_->EditAmpSN->installEventFilter(this);
    BuildPopupMenu();

    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(ui_->EditAmpSN, &QLineEdit::textChanged, this,
            [this](const QString& text) { Guarded([&] { SearchProjectFolders(PathFromQt(text)); }); });
    connect(ui_->ButtonExtractAmpSnFromClipbrd, &QPushButton::clicked, this,
            guard([this] { ButtonExtractAmpSnFromClipbrdClick(); }));
    connect(ui_->ButtonClear, &QPushButton::clicked, this, guard([this] { ButtonClearClick(); }));
    connect(ui_->ButtonChooseShareRoot, &QPushButton::clicked, this,
            guard([this] { ButtonChooseShareRootClick(); }));
    connect(ui_->ButtonOk, &QPushButton::clicked, this, guard([this] { CloseWithOk(); }));
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(ui_->ListBox1, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        Guarded([&] {
            if (!SelectedFolder().empty())
                PopupMenu1->popup(ui_->ListBox1->viewport()->mapToGlobal(position));
        });
    });

    okWait_ = new QTimer(this);
    okWait_->setSingleShot(true);
    okWait_->setInterval(OkWaitLimitMs);
    connect(okWait_, &QTimer::timeout, this, guard([this] { FinishPendingOk(); }));
    connect(this, &TFormGotoProj::SearchFinished, this, guard([this] { FinishPendingOk(); }));

    MakeWorker(::SearchProjectFolders);
    ShowShareRootState();
    if (ModalBoxes* given = SetBoxes(nullptr))
        SetBoxes(given);
    else
        UseBoxes(nullptr);
}

ModalBoxes* TFormGotoProj::UseBoxes(ModalBoxes* boxes) {
    static QtModalBoxes qtBoxes;
    ModalBoxes* previous = SetBoxes(boxes ? boxes : &qtBoxes);
    return previous == &qtBoxes ? nullptr : previous;
}

void TFormGotoProj::MakeWorker(FolderSearchWorker::Search search) {
    worker_.reset();
    // The worker hands each result to this window's thread; a result that arrives after the window
    // is gone is dropped with the window's pending events.
    worker_ = std::make_unique<FolderSearchWorker>(
        [this](uint64_t request, std::vector<std::string> folders) {
            QMetaObject::invokeMethod(
                this,
                [this, request, folders = std::move(folders)] {
                    Guarded([&] { ShowFolders(request, folders); });
                },
                Qt::QueuedConnection);
        },
        std::move(search));
}

void TFormGotoProj::SetFolderSearch(FolderSearchWorker::Search search) {
    MakeWorker(std::move(search));
    askedRequest_ = shownRequest_ = 0;
    SearchProjectFolders(PathFromQt(ui_->EditAmpSN->text()));
}

TFormGotoProj::~TFormGotoProj() {
    worker_.reset();
}

int TFormGotoProj::ShowModal() {
    if (QWidget* owner = parentWidget()) {
        QRect frame = owner->frameGeometry();
        move(frame.center() - rect().center());
    }
    return exec();
}

void TFormGotoProj::reject() {
    done(mrCancel);
}

void TFormGotoProj::done(int result) {
    okPending_ = false;
    okWait_->stop();
    ui_->ButtonOk->setEnabled(true);
    unsetCursor();
    QDialog::done(result);
}

// OK, Enter (the default button) and a double-click. While a search runs and nothing is selected,
// the operator expects its first folder, as when the search finished before the window took
// input again: OK then waits for it, bounded for a share that hangs, showing that it searches.
void TFormGotoProj::CloseWithOk() {
    if (SearchSettled() || !SelectedFolder().empty()) return done(mrOk);
    okPending_ = true;
    ui_->ButtonOk->setEnabled(false);
    setCursor(Qt::BusyCursor);
    okWait_->start();
}

void TFormGotoProj::FinishPendingOk() {
    if (okPending_) done(mrOk);
}

std::string TFormGotoProj::EntryPath(const QListWidgetItem* item) {
    return item->data(PathRole).toByteArray().toStdString();
}

std::string TFormGotoProj::SelectedFolder() const {
    const auto selected = ui_->ListBox1->selectedItems();
    return selected.isEmpty() ? std::string() : EntryPath(selected.front());
}

void TFormGotoProj::SetShareRoot(const std::string& root) {
    shareRoot_ = root;
    ShowShareRootState();
    SearchProjectFolders(PathFromQt(ui_->EditAmpSN->text()));
}

void TFormGotoProj::SetSearchText(const std::string& text) {
    ui_->EditAmpSN->setText(PathToQt(text));
}

bool TFormGotoProj::SearchSettled() const {
    return shownRequest_ == askedRequest_;
}

std::vector<std::string> TFormGotoProj::IconCacheKeys() const {
    std::vector<std::string> keys;
    for (const auto& [key, icon] : IconCache)
        keys.push_back(key);
    return keys;
}

QIcon TFormGotoProj::CachedIcon(const std::string& key) {
    auto found = IconCache.find(key);
    if (found == IconCache.end()) found = IconCache.emplace(key, FetchIcon(key, style())).first;
    return found->second;
}

void TFormGotoProj::ShowShareRootState() {
    const bool missing = shareRoot_.empty();
    ui_->LabelShareRoot->setVisible(missing);
    ui_->ButtonChooseShareRoot->setVisible(missing);
}

void TFormGotoProj::ButtonChooseShareRootClick() {
    QString folder = QFileDialog::getExistingDirectory(this, "Project Share Folder");
    if (folder.isEmpty()) return;
    SetShareRoot(PathFromQt(folder));
    if (OnShareRootChosen) OnShareRootChosen(shareRoot_);
}

void TFormGotoProj::SearchProjectFolders(const std::string& text) {
    // Entering or leaving the edit box searches the same text again: the list stays until the
    // result differs, so a click into the list keeps the entry it selects.
    const bool sameSearch = askedRequest_ != 0 && text == askedText_ && shareRoot_ == askedRoot_;
    if (!sameSearch) ui_->ListBox1->clear();
    askedText_ = text;
    askedRoot_ = shareRoot_;
    if (shareRoot_.empty()) {
        askedRequest_ = shownRequest_ = 0;
        Q_EMIT SearchFinished();
        return;
    }
    askedRequest_ = worker_->Request(shareRoot_, text);
}

void TFormGotoProj::ShowFolders(uint64_t request, const std::vector<std::string>& folders) {
    if (request != askedRequest_) return; // a newer search is under way
    shownRequest_ = request;
    if (folders != Entries()) {
        ui_->ListBox1->clear();
        for (const auto& folder : folders)
            AddFolderEntry(folder);
        if (ui_->ListBox1->count() > 0) ui_->ListBox1->setCurrentRow(0);
    }
    Q_EMIT SearchFinished();
}

std::vector<std::string> TFormGotoProj::Entries() const {
    std::vector<std::string> entries;
    entries.reserve(static_cast<size_t>(ui_->ListBox1->count()));
    for (int i = 0; i < ui_->ListBox1->count(); ++i)
        entries.push_back(EntryPath(ui_->ListBox1->item(i)));
    return entries;
}

void TFormGotoProj::AddFolderEntry(const std::string& path) {
    CachedIcon(ExtensionKey(path));
    auto* item = new QListWidgetItem(PathToQt(path));
    item->setData(PathRole, QByteArray::fromStdString(path));
    ui_->ListBox1->addItem(item);
}

void TFormGotoProj::ButtonExtractAmpSnFromClipbrdClick() {
    ui_->EditAmpSN->setText(PathToQt(ExtractProjectNumber(PathFromQt(QGuiApplication::clipboard()->text()))));
}

void TFormGotoProj::ButtonClearClick() {
    ui_->EditAmpSN->setText(QString());
}

bool TFormGotoProj::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && ui_->EditAmpSN->text().isEmpty())
        Guarded([this] { ButtonExtractAmpSnFromClipbrdClick(); });
    return QDialog::event(e);
}

bool TFormGotoProj::eventFilter(QObject* watched, QEvent* e) {
    if (watched == ui_->EditAmpSN && (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut)) {
        Guarded([this] { SearchProjectFolders(PathFromQt(ui_->EditAmpSN->text())); });
    } else if (watched == ui_->ListBox1->viewport()) {
        if (e->type() == QEvent::MouseButtonPress) {
            Guarded([&] { ListBox1MouseDown(static_cast<QMouseEvent*>(e)->position().toPoint()); });
        } else if (e->type() == QEvent::MouseButtonDblClick) {
            Guarded([this] { CloseWithOk(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void TFormGotoProj::ListBox1MouseDown(const QPoint& position) {
    if (QListWidgetItem* item = ui_->ListBox1->itemAt(position)) {
        ui_->ListBox1->setCurrentItem(item);
        item->setSelected(true);
    } else {
        ui_->ListBox1->setCurrentRow(-1);
        ui_->ListBox1->clearSelection();
    }
}

QAction* TFormGotoProj::MenuItem(const char* name, const QString& caption, void (TFormGotoProj::*handler)()) {
    QAction* action = PopupMenu1->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] {
        Guarded([&] {
            if (!SelectedFolder().empty()) (this->*handler)();
        });
    });
    return action;
}

void TFormGotoProj::BuildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    MenuItem("MenuItemOpenExplorer", "Open &Explorer here", &TFormGotoProj::MenuItemOpenExplorerClick);
    MenuItem("MenuItemOpenCmdLine", "Open Command &Line here", &TFormGotoProj::MenuItemOpenCmdLineClick);
    PopupMenu1->addSeparator();
    MenuItem("MenuItemCopyText", "Copy &Path", &TFormGotoProj::MenuItemCopyTextClick);
    MenuItem("MenuItemCopyTextQ", "Copy Path in \"&Quotes\"", &TFormGotoProj::MenuItemCopyTextQClick);
    MenuItemCopyAmpSN =
        MenuItem("MenuItemCopyAmpSN", "Copy Project &Number (...)", &TFormGotoProj::MenuItemCopyAmpSNClick);
    PopupMenu1->addSeparator();
    QAction* properties =
        MenuItem("MenuItemShowFileProps", "Folder Properties", &TFormGotoProj::MenuItemShowFilePropsClick);
    properties->setShortcut(QKeySequence(Qt::ALT | Qt::Key_1));
    properties->setShortcutContext(Qt::WindowShortcut);
    addAction(properties); // the shortcut works while the menu is closed
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { Guarded([this] { PopupMenu1Popup(); }); });
}

void TFormGotoProj::PopupMenu1Popup() {
    MenuItemCopyAmpSN->setText("Copy Project &Number (" + PathToQt(ExtractProjectNumber(SelectedFolder())) +
                               ")");
}

void TFormGotoProj::ReportLaunch(const ShellResult& result) {
    if (!result.Ok()) Boxes().Error(FromQt(QApplication::applicationDisplayName()), result.message);
}

void TFormGotoProj::MenuItemOpenExplorerClick() {
    ReportLaunch(ShellOpen(SelectedFolder()));
}

void TFormGotoProj::MenuItemOpenCmdLineClick() {
    // env changes into the folder and starts the operator's shell there: no command text is built,
    // so no folder name can inject one.
    ReportLaunch(RunInTerminal({"env", "-C", SelectedFolder(), GetUserShell()}));
}

// The clipboard carries text, which cannot hold a name's bytes that are not UTF-8: they arrive as
// replacement characters, and the operator is told that the copied path names no folder.
void TFormGotoProj::CopyPath(const std::string& text, const std::string& path) {
    QGuiApplication::clipboard()->setText(PathToQt(text));
    if (PathFromQt(PathToQt(path)) != path)
        Boxes().Information(FromQt(QApplication::applicationDisplayName()),
                            "The folder's name holds bytes that are not UTF-8 text. The copied path shows "
                            "them as replacement characters, so it does not name the folder exactly.");
}

void TFormGotoProj::MenuItemCopyTextClick() {
    CopyPath(SelectedFolder(), SelectedFolder());
}

void TFormGotoProj::MenuItemCopyTextQClick() {
    CopyPath("\"" + SelectedFolder() + "\"", SelectedFolder());
}

void TFormGotoProj::MenuItemCopyAmpSNClick() {
    QGuiApplication::clipboard()->setText(PathToQt(ExtractProjectNumber(SelectedFolder())));
}

void TFormGotoProj::MenuItemShowFilePropsClick() {
    ReportLaunch(ShowPropertiesInFileManager(TrimText(SelectedFolder())));
}
