#pragma once
// The console: the main window. It owns the one link to the instrument (ConsoleLink), sends every
// command through its one send path and logs every line in its colour log. Its controls come
// from Fconsole.ui. Everything here runs on the UI thread.
#include "console/ConsoleLink.h"
#include "console/ConsoleLogic.h"
#include "console/Reconnect.h"
#include "log/SessionLog.h"
#include "text/Strtools.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QSocketNotifier;
class QSplitter;
class QTimer;
class TFrameButtonField;
class TIO;
class TLogView;
namespace Ui {
class TFormConsole;
}

// The connection offered on the very first start.
inline constexpr char DefaultConnection[] = "tcp:192.168.1.253:2500";

// The DNS domain of the workstations on which the Extra menu (service tools) is shown.
inline constexpr char ExtraMenuDomain[] = "lab.veltrask.com";
// Set to 1 in the environment, it shows the Extra menu on any workstation (service technicians
// working away from the in-house network, the simulator).
inline constexpr char ExtraMenuVariable[] = "CORVANE_EXTRA_MENU";

class TFormConsole : public QMainWindow {
public:
    explicit TFormConsole(QWidget* parent = nullptr);
    ~TFormConsole() override;

    // The connection life cycle.
    // Asks for the connection (the dialog), then opens it without blocking the window: a small
    // window says what it connects to and Esc or its Cancel button gives up. True when open.
    bool OpenConnection();
    void CloseConnection();
    bool IsOpening() const { return opening_; }
    bool IsConnected() const;
    void UpdateConnectionUi();
    void OnConnected();
    // reason: why the link ended; empty when the operator closed it.
    void OnDisconnected(const std::string& reason = {});

    // Sending and receiving.
    void AddLogLine(const std::string& text, uint32_t colour, bool withTimestamp = true);
    // A line stamped with a given time ("hh:nn:ss.zzz"): a received line keeps its arrival time.
    void AddLogLineAt(const std::string& stamp, const std::string& text, uint32_t colour);
    // The one send path. sender is ButtonRawSend for the operator's Send and Enter (auto-connect
    // and history), nullptr for the repeat timer, ping-pong and the batch runner.
    // True when the line went out.
    bool ButtonRawSendClick(QObject* sender);
    void SendFromButton(const std::string& text, bool toBatch);
    void OnTxEcho(const std::string& text);
    void OnRxLine(const std::string& line, const std::string& stamp = {});
    // The GPIB driver's events.
    void OnServiceRequest();

    // What the console asks of the batch window; set when that window exists. All calls made
    // by the console go through these, so the wiring is one assignment.
    struct BatchHooks {
        std::function<bool()> IsVisible;
        std::function<void(const std::string&)> InsertLine;
        std::function<void(const std::string&)> NotifyRxLine;
        std::function<void()> ShowFromConsole;              // reset to the first line when hidden, then show
        std::function<bool(const std::string&)> LoadScript; // true when loaded
        std::function<void()> ConnectionLost;               // the link dropped: a run stops
        std::function<void()> ConnectionPaused; // the link dropped and is being reconnected: a run waits
        std::function<void()> ConnectionBack;   // it is back: a waiting run goes on
    };
    void SetBatchHooks(BatchHooks hooks);
    // What the console asks of the project navigator; set when that window exists.
    struct ProjectHooks {
        // Shows the navigator modally. OK: folder := the chosen folder ("" when none), true.
        std::function<bool(std::string& folder)> ChooseFolder;
    };
    void SetProjectHooks(ProjectHooks hooks);
    // What the console's tools ask of the shared editor; set when the editor exists. Until then
    // the tools that need it stay disabled.
    struct EditorHooks {
        std::function<void(const std::string& caption)> SetCaption;
        std::function<void(const std::string& text)> SetText; // CR LF, LF or CR line ends
        std::function<bool()> ShowModal;                      // true when closed with OK
        std::function<std::string()> Text;
        std::function<std::vector<std::string>()> Lines; // as the operator left them
    };
    void SetEditorHooks(EditorHooks hooks);
    // Caption and text into the editor, shown modally; true for OK.
    bool EditInEditor(const std::string& caption, const std::string& text);

    // The extra tools. Button2Click saves the log; with ctrl the navigator chooses the folder first.
    void Button2Click(bool ctrl);
    void ButtonAddSignClick();
    void GotoProject1Click();
    void FormatNumberList1Click();
    void GenerateSeerviceChannellist1Click();

    // The input line, as the batch runner sets it before it sends through ButtonRawSendClick.
    void SetRawInText(const std::string& text);
    std::string RawInText() const;
    // The program's first argument: a batch script loaded into the batch window at start.
    void SetStartScript(const std::string& path) { startScript_ = path; }

    // The first activation's work (settings, start-up connection); runs once, after the window
    // is first shown. Public so the program entry and tests can run it at a known moment.
    void FormActivate();

    // The workstation's DNS domain, asked once at first activation (tests answer it themselves).
    std::function<std::string()> DnsDomain = [] { return GetDnsDomainName(); };
    // Asks where the session log file goes: path := the chosen file, true. The file dialog unless
    // replaced (tests answer it themselves).
    std::function<bool(std::string& path)> ChooseLogFile;
    // The session log file: every log line is appended to it while it is open.
    const SessionLog& SessionLogFile() const { return sessionLog_; }
    bool Reconnecting() const { return reconnect_.Active(); }

    // The program's folder, where the first activation looks for "Bookmarks.txt" (tests use their own).
    std::function<std::string()> ExeDir = [] { return GetExeDir(); };
    // The command-button field in the send area; the program entry gives it the editor.
    TFrameButtonField* ButtonField() const { return FrameButtonField1; }

    const std::string& ConnectionString() const { return connectionString_; }
    bool UseGpib() const { return link_ && link_->IsGpib(); }
    bool Connected() const { return connected_; }
    // The TIO of a serial or TCP link; none for GPIB or when no link is open.
    TIO* Io() const { return link_ ? link_->Tio() : nullptr; }
    TLogView* Log() const { return log_; }
    const CommandHistory& History() const { return history_; }

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void TakeControls();
    void ArrangeGpibControls();
    void ConnectHandlers();
    LinkEvents MakeLinkEvents();
    void ReadSettings();
    OpenResult WaitForOpen(std::string& reason);
    void StoreConnection();
    void StopSendingOnDrop();
    // The link itself, closed and gone; the reconnect state is left alone.
    void DropLink();
    // Opens connectionString_ as it is (no dialog); reconnect: an automatic attempt, whose failure
    // is neither logged in red nor shown in a box. True when open.
    bool OpenStoredConnection(bool reconnect);
    // Session log file and automatic reconnect (FconsoleSession.cpp).
    void SetUpSessionTools();
    void WriteSessionSetting(const char* name, const std::string& value);
    void WriteSessionSetting(const char* name, int value);
    void miLogToFileClick();
    bool StartLogFile(const std::string& path);
    void StopLogFile();
    void WriteToLogFile(const std::string& line);
    void StartSessionInLogFile();
    void SetTitle(const std::string& title);
    void miAutoReconnectClick();
    bool ShouldReconnect(const std::string& reason) const;
    void BeginReconnect();
    void ScheduleReconnect();
    void ReconnectAttempt();
    void DeviceFolderChanged();
    void StopReconnect();
    void PauseSendingOnDrop();
    void ResumeSending();
    bool SendableText(std::string& text);
    void SetUpButtonField();
    void LoadStartScript();
    void WriteSettings();
    // Logs the failed open in red with its reason, and shows it in an error box unless one was
    // shown already.
    void ReportOpenFailure(const std::string& reason, bool withBox);
    void AddToHistory(const std::string& text);
    bool EditRawInKeyDown(int key);
    bool HandleWheel(int delta);
    void EditRawInChange();
    void CheckBoxTxRepClick();
    void TimerTxRepTimer();
    void CheckBoxPingPongClick();
    void ButtonWClick();
    void ButtonRClick();
    void ButtonQClick();
    void LabelSpeedDblClick();
    void Button1Click();
    void ButtonConnDisconnClick();
    void ButtonSendBatchClick();
    void miReconnectClick();
    // Shows control bytes in the log for setting 1, also bytes 0x80-0xff for 2 (the settings'
    // "ShowControlChars"); remember writes it there.
    void ShowControlChars(int setting, bool remember);
    void FormClose();
    void SetUpExtraTools();
    // The conversion-table tools (FconsoleConvTable.cpp).
    void miUploadConvTabClick();
    void miDnloadConvTabClick();
    TIO* ConvTableIo();
    bool AskConvTarget(std::string& address, std::string& tableText, unsigned& table);

    std::unique_ptr<Ui::TFormConsole> ui_;
    // Controls, named as the operator's manual and the tests know them.
    QSplitter* Splitter1 = nullptr;
    QGroupBox* GroupBoxTx = nullptr;
    QPushButton* ButtonConnDisconn = nullptr;
    QLineEdit* EditRawIn = nullptr;
    QPushButton* ButtonSendBatch = nullptr;
    QPushButton* ButtonRawSend = nullptr;
    QCheckBox* CheckBoxTxRep = nullptr;
    QSpinBox* UpDownTxRep = nullptr;
    QCheckBox* CheckBoxPingPong = nullptr;
    QPushButton* ButtonQ = nullptr;
    QPushButton* ButtonW = nullptr;
    QPushButton* ButtonR = nullptr;
    QCheckBox* CheckBoxExpectRx = nullptr;
    QCheckBox* CheckBoxStatusOnSrq = nullptr;
    TFrameButtonField* FrameButtonField1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* LabelLastRx = nullptr;
    QLabel* LabelSpeed = nullptr;
    QPushButton* Button2 = nullptr;
    TLogView* log_ = nullptr; // RichEditRawOut
    QTimer* TimerTxRep = nullptr;
    QMenu* MenuItemConnection = nullptr;
    QAction* MenuItemConnect = nullptr;
    QAction* MenuItemDisconnect = nullptr;
    QAction* miReconnect = nullptr;
    QAction* miAutoReconnect = nullptr;
    QAction* miLogToFile = nullptr;
    QFileDialog* LogFileDialog = nullptr;
    QTimer* TimerReconnect = nullptr;
    QMenu* MenuItemExtra = nullptr;
    QAction* miShowReplyTimes = nullptr;
    QAction* GotoProject1 = nullptr;
    QAction* FormatNumberList1 = nullptr;
    QAction* GenerateSeerviceChannellist1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QAction* miUploadConvTab = nullptr;
    QAction* miDnloadConvTab = nullptr;

    // Connection state.
    std::string connectionString_ = DefaultConnection;
    bool connected_ = false;
    bool opening_ = false;        //!< An open is under way (its own event loop runs).
    bool closing_ = false;        //!< The operator closes the link: its end is no drop.
    bool closeRequested_ = false; //!< The window was asked to close while an open was under way.
    int connectTimeoutMs_ = 5000; //!< ConnectTimeoutMs
    std::unique_ptr<ConsoleLink> link_;
    ReconnectPlan reconnect_;
    FolderWatch deviceFolder_;               //!< the folder of a dropped serial device
    QSocketNotifier* deviceWatch_ = nullptr; //!< its readiness
    std::string title_;                      //!< the title without the log-file note
    // What was sending when the link dropped, to go on with once it is back.
    bool repeatPaused_ = false;
    bool pingPongPaused_ = false;

    // The session log file.
    SessionLog sessionLog_;

    // Send and receive state.
    uint32_t sendTick_ = 0;
    bool replyTimeShown_ = true; //!< The reply time of the last send has been logged.
    ReplyStatistics stats_;
    CommandHistory history_;
    BatchHooks batch_;
    // The board address and table number each conversion-table tool offers next, for the run.
    std::string convUpAddress_;
    std::string convUpTable_ = "0";
    std::string convDnAddress_;
    std::string convDnTable_ = "0";
    bool activated_ = false;
    std::string startScript_;

    // Extra tools' state, kept for the run.
    ProjectHooks projects_;
    EditorHooks editor_;
    std::string channelList_;          //!< The channel list last entered.
    bool numberListExplained_ = false; //!< Format Number List has shown its explanation.
};

// The program's one console window.
extern TFormConsole* FormConsole;
