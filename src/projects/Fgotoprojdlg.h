#pragma once
// The project folder navigator: finds project folders on the share by a serial (project) number
// and returns the chosen one. The searches run on a worker (FolderSearchWorker); the list always
// shows the result of the newest search text. UI thread only.
#include "platform/ModalBoxes.h"
#include "platform/Shell.h"
#include "projects/FolderSearchWorker.h"
#include "projects/ProjectsApi.h"

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QListWidgetItem;
class QMenu;
class QTimer;

namespace Ui {
class TFormGotoProj;
}

class CORVANE_PROJECTS_API TFormGotoProj : public QDialog {
    Q_OBJECT
public:
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;

    explicit TFormGotoProj(QWidget* owner = nullptr);
    ~TFormGotoProj() override;

    // Shows the navigator modally, centred on its owner; returns mrOk or mrCancel.
    int ShowModal();
    // The selected entry (a folder path ending in "/") as the file system's bytes, which need not
    // be valid UTF-8, or "" when none is selected.
    std::string SelectedFolder() const;

    // Puts text into the search box, which runs the search.
    void SetSearchText(const std::string& text);

    // The folder the share's trees are below (the setting ProjectShareRoot). Setting it runs the
    // search anew. Without one the window says so and offers a folder chooser; it never guesses.
    void SetShareRoot(const std::string& root);
    const std::string& ShareRoot() const { return shareRoot_; }
    // Called after the operator chose a share folder in the window, so the owner can store it.
    std::function<void(const std::string& root)> OnShareRootChosen;

    // True when the list shows the result of the newest search text (tests and callers that want
    // the final list wait for it; SearchFinished tells when).
    bool SearchSettled() const;
    // The list's entries, in order.
    std::vector<std::string> Entries() const;
    // The extensions whose icons were fetched (one entry per extension for the window's life).
    std::vector<std::string> IconCacheKeys() const;

    // The boxes the navigator's messages go through. The library carries its own hidden copy of
    // the platform layer, so the program's SetBoxes does not reach it; until boxes are given here,
    // Qt's are used. Returns the boxes given before (nullptr: Qt's). UI thread.
    static ModalBoxes* UseBoxes(ModalBoxes* boxes);

    // Replaces the folder search (tests slow it down); a search under way is dropped.
    void SetFolderSearch(FolderSearchWorker::Search search);

    // Handlers.
    void SearchProjectFolders(const std::string& text);
    void ButtonExtractAmpSnFromClipbrdClick();
    void ButtonClearClick();
    void PopupMenu1Popup();
    void MenuItemOpenExplorerClick();
    void MenuItemOpenCmdLineClick();
    void MenuItemCopyTextClick();
    void MenuItemCopyTextQClick();
    void MenuItemCopyAmpSNClick();
    void MenuItemShowFilePropsClick();

    // The icon for a list entry's extension key; fetched on first use and kept.
    QIcon CachedIcon(const std::string& key);

Q_SIGNALS:
    // The list now shows the result of the newest search.
    void SearchFinished();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void reject() override;
    void done(int result) override;

private:
    void AddFolderEntry(const std::string& path);
    static std::string EntryPath(const QListWidgetItem* item);
    void MakeWorker(FolderSearchWorker::Search search);
    void CloseWithOk();
    void FinishPendingOk();
    void CopyPath(const std::string& text, const std::string& path);
    void ReportLaunch(const ShellResult& result);
    void ShowFolders(uint64_t request, const std::vector<std::string>& folders);
    void ShowShareRootState();
    void ButtonChooseShareRootClick();
    void BuildPopupMenu();
    void ListBox1MouseDown(const QPoint& position);
    QAction* MenuItem(const char* name, const QString& caption, void (TFormGotoProj::*handler)());

    std::unique_ptr<Ui::TFormGotoProj> ui_;
    QMenu* PopupMenu1 = nullptr;
    QAction* MenuItemCopyAmpSN = nullptr;
    std::map<std::string, QIcon> IconCache; //!< Lower-case extension ("" for folders) to its icon.
    std::string shareRoot_;
    uint64_t shownRequest_ = 0;         //!< The search whose result the list shows.
    uint64_t askedRequest_ = 0;         //!< The newest search asked for (0: none, e.g. no share root).
    std::string askedText_, askedRoot_; //!< What the newest search was asked for.
    QTimer* okWait_ = nullptr;          //!< Bounds the wait of an OK for the running search.
    bool okPending_ = false;            //!< OK was given while the search ran; it closes when done.
    std::unique_ptr<FolderSearchWorker> worker_; //!< Stopped first when the window goes.
};

// The console's instance, created at start by the program's entry.
CORVANE_PROJECTS_API extern TFormGotoProj* FormGotoProj;
