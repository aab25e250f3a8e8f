#pragma once
// The console's Extra tools and log save: saving the log with a signature line, the project-folder
// tool, the two text tools of firmware work (number list, service channel list), the reply times
// and the conversion-table transfers. They see the conversation (ConsoleSession), the log and the
// editor and navigator hooks, never the console window. Everything runs on the UI thread.
#include "platform/QtPlatform.h"
#include <QObject>
#include <functional>
#include <string>
#include <vector>

class ConsoleSession;
class QAction;
class QFileDialog;
class QPushButton;
class QWidget;
class TLogView;

class TConsoleTools : public QObject {
public:
    // The controls the tools answer to, found in the console's form.
    struct Controls {
        QPushButton* Button2 = nullptr;
        QAction* GotoProject1 = nullptr;
        QAction* FormatNumberList1 = nullptr;
        QAction* GenerateSeerviceChannellist1 = nullptr;
        QAction* miShowReplyTimes = nullptr;
        QAction* miUploadConvTab = nullptr;
        QAction* miDnloadConvTab = nullptr;
    };
    // What the tools ask of the project navigator; set when that window exists.
    struct ProjectHooks {
        // Shows the navigator modally. OK: folder := the chosen folder ("" when none), true.
        std::function<bool(std::string& folder)> ChooseFolder;
    };
    // What the tools ask of the shared editor; set when the editor exists. Until then the tools
    // that need it stay disabled.
    struct EditorHooks {
        std::function<void(const std::string& caption)> SetCaption;
        std::function<void(const std::string& text)> SetText; // CR LF, LF or CR line ends
        std::function<bool()> ShowModal;                      // true when closed with OK
        std::function<std::string()> Text;
        std::function<std::vector<std::string>()> Lines; // as the operator left them
    };

    // parent: the window the dialogs belong to.
    TConsoleTools(QWidget* parent, ConsoleSession& session, TLogView& log, const Controls& controls);

    void SetProjectHooks(ProjectHooks hooks);
    void SetEditorHooks(EditorHooks hooks);
    // Caption and text into the editor, shown modally; true for OK.
    bool EditInEditor(const std::string& caption, const std::string& text);

    // Button2Click saves the log; with ctrl the navigator chooses the folder first.
    void Button2Click(bool ctrl);
    void ButtonAddSignClick();
    void GotoProject1Click();
    void FormatNumberList1Click();
    void GenerateSeerviceChannellist1Click();
    void miUploadConvTabClick();
    void miDnloadConvTabClick();

private:
    // The TIO of an open serial or TCP link, else none (said in the log and a box).
    class TIO* ConvTableIo();
    bool AskConvTarget(std::string& address, std::string& tableText, unsigned& table);

    ConsoleSession& session_;
    TLogView& log_;
    Controls controls_;
    LazyFileDialog SaveDialog1;
    ProjectHooks projects_;
    EditorHooks editor_;
    // The board address and table number each conversion-table tool offers next, for the run.
    std::string convUpAddress_;
    std::string convUpTable_ = "0";
    std::string convDnAddress_;
    std::string convDnTable_ = "0";
    std::string channelList_;          //!< The channel list last entered.
    bool numberListExplained_ = false; //!< Format Number List has shown its explanation.
};
