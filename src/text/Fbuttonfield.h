#pragma once
// The command-button field: the stored commands of a bookmark file as push buttons on tabs, with
// Edit..., Load... and Save... for the file. The layout is decided by LayoutBookmarks; this frame
// turns it into widgets. It knows nothing about connections: every command goes to
// OnButtonCommand, which the host sets. Everything here runs on the UI thread.
#include "platform/QtPlatform.h"
#include "text/Bookmarks.h"
#include "text/Strtools.h"

#include <QFrame>
#include <QPushButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFileDialog;
class QLabel;
class TBookmarkTabs;
namespace Ui {
class TFrameButtonField;
}

// A command button. It remembers the keyboard modifiers of the mouse or key event that clicked
// it, because the application-wide modifier state is not updated for every kind of input.
class TBookmarkButton : public QPushButton {
    Q_OBJECT

public:
    TBookmarkButton(unsigned number, QWidget* tab);
    const unsigned Number; // "ButtonBookmark%u"; never repeats during the life of the field
    // The modifiers at the last click; the application's state for a click without input event.
    Qt::KeyboardModifiers TakeClickModifiers();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    Qt::KeyboardModifiers modifiers_;
    bool haveModifiers_ = false;
};

class TFrameButtonField : public QFrame {
public:
    explicit TFrameButtonField(QWidget* parent = nullptr);
    ~TFrameButtonField() override;

    // The stored auto-load path ("" when none); reading a missing value stores the empty default.
    std::string ReadStoredFileName();
    // A missing file is skipped silently. An unreadable one (also one that is too large or no
    // regular file, see ReadTextLines) shows "Could not open File:\r\n" + path and the reason,
    // and keeps the buttons and Lines, while FileName already holds path.
    void LoadFile(const std::string& path);
    void ReloadFile();
    // Replaces all tabs and buttons by those of lines. The tab shown before stays shown when a
    // tab of that caption is built again; otherwise the first tab is shown.
    void BuildButtons(const std::vector<std::string>& lines);
    void ClearButtons();
    // The choice at the console's first activation: defaultPath (the program's folder +
    // "/Bookmarks.txt") if it exists, else the stored path if it exists, else the load dialog
    // opened on samplePath (the sample bookmarks, SampleBookmarksPath) if it exists, else on
    // defaultPath.
    void LoadStartFile(const std::string& defaultPath, const std::string& samplePath);

    // Handlers, public so the host and tests can drive them as the operator would.
    void ButtonLoadBookmarksClick();
    void ButtonEditBookmarksClick();
    // Save...: the file name and its label change only once the file is written whole.
    void ButtonSaveBookmarksClick();
    // ctrlHeld: hand the raw command over for the batch script; otherwise ask for its parameters
    // and hand over the resolved command for sending. A cancelled question hands over nothing.
    void BookmarkButtonClick(TBookmarkButton* button, bool ctrlHeld);

    // Where the auto-load path is stored; the host sets both.
    std::string SettingsKeyPath;
    std::string SettingsValueName;
    // (command text, toBatch). Set by the host; not called while empty.
    std::function<void(const std::string& text, bool toBatch)> OnButtonCommand;
    // A click on a command holding a character beyond Latin-1 (kept from a UTF-8 file, see
    // TextFile.h) sends nothing and hands that character here; by default an error box says so.
    std::function<void(uint32_t codePoint)> OnNotLatin1;
    // The shared text editor: shows text under caption, modally; true on OK with text replaced.
    // Set by the program entry; Edit... does nothing while it is empty.
    std::function<bool(std::string& text, const std::string& caption)> EditText;

    std::vector<std::string> Lines; // of the current file, as last loaded or edited
    std::string FileName;
    ::ParamMemory ParamMemory; // the answers to parameter prompts, kept across reloads

    // How parameters are asked; the "Enter Parameter Value" dialog unless replaced.
    void SetPromptUi(std::unique_ptr<ParamPromptUi> ui);

    TBookmarkTabs* PageControlBookmarks = nullptr;
    QPushButton* ButtonEditBookmarks = nullptr;
    QPushButton* ButtonLoadBookmarks = nullptr;
    QPushButton* ButtonSaveBookmarks = nullptr;
    QLabel* LabelButtonFileName = nullptr;
    LazyFileDialog OpenDialog1;
    LazyFileDialog SaveDialog1;

private:
    void ConnectHandlers();
    void WhileHidden(const std::function<void()>& change);
    QWidget* BuildTab(const std::string& caption);
    void AddButton(QWidget* tab, const BookmarkButtonLayout& layout);
    void ShowFileName();
    // Pre-sets dialog with FileName and its folder; the chosen path, or "" when cancelled.
    std::string ChooseFile(QFileDialog& dialog);
    // Throws with the system's reason when the file cannot be written.
    void WriteLines(const std::string& path);

    std::unique_ptr<Ui::TFrameButtonField> ui_;
    std::unique_ptr<ParamPromptUi> promptUi_;
    std::vector<QWidget*> tabs_; // in the page control's order
    std::vector<std::string> tabCaptions_;
    BookmarkNumbers numbers_;
    TextEncoding encoding_ = TextEncoding::Plain; //!< How FileName was read, for writing it back.
};
