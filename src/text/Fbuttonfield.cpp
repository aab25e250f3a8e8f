#include "text/Fbuttonfield.h"

#include "platform/Config.h"
#include "platform/QtPlatform.h"
#include "text/BookmarkTabs.h"
#include "text/ParamPromptDialog.h"
#include "text/TextLineQt.h"
#include "ui_Fbuttonfield.h"

#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <stdexcept>

namespace {
constexpr char LoadQuestion[] = "Automatically load this file on every program start?";

std::string BoxTitle() {
    return FromQt(QApplication::applicationDisplayName());
}

// Captions show the command as written: "&" is no keyboard accelerator here.
QString CaptionText(const std::string& text) {
    return TextLineToQt(text).replace('&', "&&");
}

QString TabCaption(const std::string& caption) {
    return QString::fromStdString(CaptionUtf8(caption));
}

// The default refusal while the host has not set its own.
void ShowNotLatin1(uint32_t codePoint) {
    Boxes().Error(BoxTitle(), "Not sent: the character " +
                                  FromQt(QString("U+%1").arg(codePoint, 4, 16, QChar('0')).toUpper()) +
                                  " is not in the instrument's character set (Latin-1).");
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

QFileDialog* MakeFileDialog(QWidget* parent, const char* name, const char* title,
                            QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(name);
    dialog->setAcceptMode(mode);
    // A name that does not exist may be typed in both; loading one is skipped quietly.
    dialog->setFileMode(QFileDialog::AnyFile);
    return dialog;
}
} // namespace

TBookmarkButton::TBookmarkButton(unsigned number, QWidget* tab) : QPushButton(tab), Number(number) {
    setObjectName(QString("ButtonBookmark%1").arg(number));
}

Qt::KeyboardModifiers TBookmarkButton::TakeClickModifiers() {
    Qt::KeyboardModifiers modifiers = haveModifiers_ ? modifiers_ : QApplication::keyboardModifiers();
    haveModifiers_ = false;
    return modifiers;
}

void TBookmarkButton::mouseReleaseEvent(QMouseEvent* e) {
    modifiers_ = e->modifiers();
    haveModifiers_ = true;
    QPushButton::mouseReleaseEvent(e);
    haveModifiers_ = false; // a release that did not click must not colour a later click()
}

void TBookmarkButton::keyReleaseEvent(QKeyEvent* e) {
    modifiers_ = e->modifiers();
    haveModifiers_ = true;
    QPushButton::keyReleaseEvent(e);
    haveModifiers_ = false;
}

TFrameButtonField::TFrameButtonField(QWidget* parent)
    : QFrame(parent), ui_(std::make_unique<Ui::TFrameButtonField>()),
      promptUi_(std::make_unique<QtParamPromptUi>()) {
    ui_->setupUi(this);
    setObjectName("FrameButtonField1");
    PageControlBookmarks = ui_->PageControlBookmarks;
    ButtonEditBookmarks = ui_->ButtonEditBookmarks;
    ButtonLoadBookmarks = ui_->ButtonLoadBookmarks;
    ButtonSaveBookmarks = ui_->ButtonSaveBookmarks;
    LabelButtonFileName = ui_->LabelButtonFileName;
    OpenDialog1 = LazyFileDialog([this] {
        QFileDialog* dialog =
            MakeFileDialog(this, "OpenDialog1", "Open Command Button Bookmarks", QFileDialog::AcceptOpen);
        dialog->setNameFilter("Text-Files (*.txt);;All Files (*)");
        return dialog;
    });
    SaveDialog1 = LazyFileDialog([this] {
        QFileDialog* dialog =
            MakeFileDialog(this, "SaveDialog1", "Save Command Button Bookmarks", QFileDialog::AcceptSave);
        // As the operator knows it: choosing an existing file replaces it without a question.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        return dialog;
    });
    OnNotLatin1 = ShowNotLatin1;
    ConnectHandlers();
}

TFrameButtonField::~TFrameButtonField() {
    ClearButtons();
}

void TFrameButtonField::ConnectHandlers() {
    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(ButtonEditBookmarks, &QPushButton::clicked, this, guard([this] { ButtonEditBookmarksClick(); }));
    connect(ButtonLoadBookmarks, &QPushButton::clicked, this, guard([this] { ButtonLoadBookmarksClick(); }));
    connect(ButtonSaveBookmarks, &QPushButton::clicked, this, guard([this] { ButtonSaveBookmarksClick(); }));
}

void TFrameButtonField::SetPromptUi(std::unique_ptr<ParamPromptUi> ui) {
    promptUi_ = std::move(ui);
}

std::string TFrameButtonField::ReadStoredFileName() {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    std::string path = settings.ReadStr(SettingsValueName, "");
    settings.CloseKey();
    return path;
}

void TFrameButtonField::LoadFile(const std::string& path) {
    if (!FileExists(path)) return;
    FileName = path;
    std::vector<std::string> lines;
    int code = 0;
    if (!ReadBookmarkFile(path, lines, code, &encoding_)) {
        Boxes().Error(BoxTitle(), "Could not open File:\r\n" + path + "\r\n" + TextFileErrorText(code));
        return;
    }
    Lines = std::move(lines);
    BuildButtons(Lines);
    ShowFileName();
}

void TFrameButtonField::ReloadFile() {
    LoadFile(FileName);
}

void TFrameButtonField::LoadStartFile(const std::string& defaultPath, const std::string& samplePath) {
    BookmarkStartChoice choice =
        ChooseBookmarkStartFile(defaultPath, ReadStoredFileName(), samplePath, FileExists);
    FileName = choice.fileName;
    if (choice.reload)
        ReloadFile();
    else
        ButtonLoadBookmarksClick();
}

void TFrameButtonField::BuildButtons(const std::vector<std::string>& lines) {
    int shown = PageControlBookmarks->currentIndex();
    std::string shownCaption = shown >= 0 ? tabCaptions_[static_cast<size_t>(shown)] : std::string();
    ClearButtons();
    BookmarkLayout layout = LayoutBookmarks(lines);
    // Tabs get their buttons before they join the page control: buttons created on a shown tab
    // would stay hidden, and one layout pass per tab is far cheaper than one per button.
    std::vector<QWidget*> built;
    for (const std::string& caption : layout.tabs)
        built.push_back(BuildTab(caption));
    for (const BookmarkButtonLayout& button : layout.buttons)
        AddButton(built[button.tab], button);
    WhileHidden([&] {
        for (size_t i = 0; i < built.size(); ++i)
            PageControlBookmarks->addTab(built[i], TabCaption(layout.tabs[i]).replace('&', "&&"));
        int active = ChooseActiveTab(shownCaption, shown, layout.tabs);
        if (active >= 0) PageControlBookmarks->setCurrentIndex(active);
    });
}

// Pages added to or taken from a shown stack are each shown, hidden and restacked; hidden, the
// page control does that work once, when shown again (it halves the load of 10 000 tabs).
void TFrameButtonField::WhileHidden(const std::function<void()>& change) {
    const bool visible = PageControlBookmarks->isVisibleTo(this);
    PageControlBookmarks->setVisible(false);
    change();
    PageControlBookmarks->setVisible(visible);
}

QWidget* TFrameButtonField::BuildTab(const std::string& caption) {
    auto* tab = new QWidget;
    tab->setObjectName(QString("TabSheet%1").arg(tabs_.size()));
    tab->setAccessibleName(TabCaption(caption));
    tabs_.push_back(tab);
    tabCaptions_.push_back(caption);
    return tab;
}

void TFrameButtonField::AddButton(QWidget* tab, const BookmarkButtonLayout& layout) {
    auto* button = new TBookmarkButton(numbers_.Add(layout.command), tab);
    button->setGeometry(layout.left, layout.top, layout.width, layout.height);
    button->setText(CaptionText(layout.caption));
    button->setToolTip(TextLineToQt(layout.command));
    // The tab does not take the focus from the input line when a button is clicked.
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QPushButton::clicked, this, [this, button] {
        Guarded([&] { BookmarkButtonClick(button, button->TakeClickModifiers() & Qt::ControlModifier); });
    });
}

void TFrameButtonField::ClearButtons() {
    // From the last tab back: removing the first shifts every other and moves the current page.
    WhileHidden([this] {
        for (int i = PageControlBookmarks->count() - 1; i >= 0; --i)
            PageControlBookmarks->removeTab(i);
    });
    // Deleting a tab deletes its buttons with it.
    for (QWidget* tab : tabs_)
        delete tab;
    tabs_.clear();
    tabCaptions_.clear();
    numbers_.Clear();
}

void TFrameButtonField::BookmarkButtonClick(TBookmarkButton* button, bool ctrlHeld) {
    const std::string* stored = numbers_.Find(button->Number);
    if (!stored) return;
    // Every click starts from the stored text; the answers replace a copy.
    std::string command = *stored;
    // Neither the instrument nor the command line (Latin-1 both) could take it unchanged.
    if (const uint32_t beyond = FirstBeyondLatin1(command)) {
        if (OnNotLatin1) OnNotLatin1(beyond);
        return;
    }
    if (ctrlHeld) {
        if (OnButtonCommand) OnButtonCommand(command, true);
        return;
    }
    if (!ResolveParamPrompts(command, ParamMemory, *promptUi_)) return;
    if (OnButtonCommand) OnButtonCommand(command, false);
}

std::string TFrameButtonField::ChooseFile(QFileDialog& dialog) {
    dialog.setDirectory(PathToQt(FolderOf(FileName)));
    dialog.selectFile(PathToQt(FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return "";
    return PathFromQt(dialog.selectedFiles().first());
}

void TFrameButtonField::ButtonLoadBookmarksClick() {
    std::string path = ChooseFile(*OpenDialog1);
    if (path.empty()) return;
    LoadFile(path);
    if (!Boxes().Confirm(BoxTitle(), LoadQuestion)) return;
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    settings.WriteStr(SettingsValueName, FileName);
    settings.CloseKey();
}

void TFrameButtonField::ButtonEditBookmarksClick() {
    if (!EditText) return;
    std::string text = JoinTextLines(Lines);
    // Cancel leaves the buttons and the file as they were, so there is nothing to ask about.
    if (!EditText(text, FileName)) return;
    std::vector<std::string> edited = SplitTextLines(text);
    bool modified = edited != Lines;
    Lines = std::move(edited);
    BuildButtons(Lines);
    if (modified && Boxes().Confirm(BoxTitle(), "Save changes in \r\n" + FileName + "?"))
        WriteLines(FileName);
}

void TFrameButtonField::ButtonSaveBookmarksClick() {
    std::string path = ChooseFile(*SaveDialog1);
    if (path.empty()) return;
    // The field names the file its buttons can be found in: a failed save changes nothing.
    WriteLines(path);
    FileName = path;
    ShowFileName();
}

void TFrameButtonField::WriteLines(const std::string& path) {
    int code = 0;
    if (!WriteBookmarkFile(path, Lines, code, encoding_))
        throw std::runtime_error("Cannot write file \"" + path + "\". " + TextFileErrorText(code));
}

void TFrameButtonField::ShowFileName() {
    ButtonEditBookmarks->setToolTip(PathToQt(FileName));
    LabelButtonFileName->setText(PathToQt(FileName));
}
