#pragma once
// The console: the main window. It shows the conversation that its ConsoleSession holds (the
// link, the log lines, the session log file, the reconnect), sends every command through its one
// send path, and keeps the operator's controls: the input line and its history, repeat and
// ping-pong, the GPIB controls, the command buttons. Its controls come from Fconsole.ui. The
// Extra menu's tools live in TConsoleTools. Everything here runs on the UI thread.
#include "app/ConsoleFace.h"
#include "console/CommandHistory.h"
#include "console/ConsoleSession.h"
#include "console/RecentConnections.h"
#include "platform/QtPlatform.h"
#include "platform/System.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

class QFileDialog;
class QTimer;
class TConsoleTools;
class TSerialTools;
class TTestScriptTool;
class TSessionMenu;
class TFindBar;
class THelpMenu;
class TFrameButtonField;
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

class TFormConsole : public QMainWindow, private ConsoleFaceHost {
public:
    explicit TFormConsole(QWidget* parent = nullptr);
    ~TFormConsole() override;

    // Asks for the connection (the dialog), then opens it without blocking the window: a small
    // window says what it connects to and Esc or its Cancel button gives up. True when open.
    bool OpenConnection();
    void CloseConnection();
    void UpdateConnectionUi();

    // A line for the log (and the session log file), stamped with the time now.
    void AddLogLine(const std::string& text, uint32_t colour);
    // The one send path. sender is the Send button for the operator's Send and Enter (auto-connect
    // and history), nullptr for the repeat timer, ping-pong and the batch runner. True when the
    // line went out. With hex input on, the input line's hex digits go out as exactly their bytes.
    bool ButtonRawSendClick(QObject* sender);
    // Puts text in the input line and sends it through the send path as a text command, whatever
    // the input line's mode: a command button's or a batch line is never hex.
    bool SendTextCommand(const std::string& text, QObject* sender);
    void SendFromButton(const std::string& text, bool toBatch);

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
    // The program's folder, where the first activation looks for "Bookmarks.txt" (tests use their own).
    std::function<std::string()> ExeDir = [] { return GetExeDir(); };

    // --- What the session's face (ConsoleFace.cpp) asks of the window ---
    // A received line, logged: the last-reply label and the statistics show it, ping-pong sends
    // again, a running batch steps.
    void TakeReceivedLine(const std::string& line) override;
    // The link, the title or the log file changed.
    void ShowSessionState() override;
    // The link dropped for good: repeat and ping-pong end, a run stops.
    void EndSending() override;
    // The link dropped and is tried again: repeat, ping-pong and a run wait, ...
    void PauseSending() override;
    // ... and go on once it is back (ping-pong by sending again: the reply to its last send was
    // lost with the link).
    void ResumeSending() override;
    // The GPIB device asked for service: "STATUS?" and its reply, when the operator wants it.
    void AnswerServiceRequest() override;

    // The conversation: link, log lines, statistics, session log file, reconnect.
    ConsoleSession& Session() const override { return *session_; }
    TConsoleTools& Tools() const { return *tools_; }
    TSerialTools& SerialTools() const { return *serial_; }
    TTestScriptTool& TestScripts() const { return *testScripts_; }
    // The command-button field in the send area; the program entry gives it the editor.
    TFrameButtonField* ButtonField() const;
    TLogView* Log() const override;
    const CommandHistory& History() const { return history_; }

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QWidget* FaceWidget() override { return this; }
    void ConnectHandlers();
    void ArrangeGpibControls();
    void ReadSettings();
    // Closes the link and opens connection as it is (no dialog) with the lines it was last opened
    // with, else its kind's; a failure is boxed. True when open.
    bool OpenWithoutDialog(const std::string& connection);
    bool OpenWithLines(const std::string& connection, const ConnectionLines& lines);
    // What connection was last opened with (the stored connection's, a recent one's), else the
    // line ends of its kind and the escapes box as it is.
    ConnectionLines LinesFor(const std::string& connection) const;
    bool OwnLinesOf(const std::string& connection, ConnectionLines& lines) const;
    void PlaceOnScreen(int left, int top, int width, int height);
    // The open connection and its lines go to the settings, as the stored one and the newest
    // recent one.
    void StoreConnection();
    // Received bytes that wait for a line end are told in the status bar (the session decides).
    void ShowUnendedBytesHint();
    void SetUpButtonField();
    // The find bar under the log, opened by Ctrl+F and the log's menu.
    void SetUpFind();
    void SetUpHexInput();
    void LoadStartScript();
    void WriteSettings();
    void FormClose();
    // Sending (FconsoleSend.cpp).
    bool SendableText(std::string& text);
    bool SendInput(QObject* sender, bool hex);
    // The bytes of the typed hex; a fault is said in the status bar and nothing is sent.
    bool HexInputBytes(const std::string& typed, std::string& bytes);
    // A GPIB send reads its reply at once, and that reply would send again from inside the read:
    // ping-pong's next send waits for the event loop, so the chain never nests.
    void SendAgainFromLoop();
    bool EditRawInKeyDown(int key);
    bool HandleWheel(int delta);
    void CheckBoxTxRepClick();
    void CheckBoxPingPongClick();
    void ButtonWClick();
    void ButtonRClick();
    void miReconnectClick();
    // Shows control bytes in the log for setting 1, also bytes 0x80-0xff for 2 (the settings'
    // "ShowControlChars"); remember writes it there.
    void ShowControlChars(int setting, bool remember);
    // The log's hex view (the settings' "ShowHex").
    void ShowHex(bool on, bool remember);
    // Sent and received lines keep every byte while a view shows them.
    void KeepBytesWhileShown();

    std::unique_ptr<Ui::TFormConsole> ui_;
    QTimer* TimerTxRep = nullptr;
    LazyFileDialog LogFileDialog;
    std::unique_ptr<TConsoleFace> face_;
    std::unique_ptr<ConsoleSession> session_;
    TConsoleTools* tools_ = nullptr;
    TSerialTools* serial_ = nullptr;
    TTestScriptTool* testScripts_ = nullptr;
    TSessionMenu* sessionMenu_ = nullptr;
    TFindBar* findBar_ = nullptr;
    THelpMenu* helpMenu_ = nullptr;

    bool closeRequested_ = false;    //!< The window was asked to close while an open was under way.
    QTimer* unendedCheck_ = nullptr; //!< "TimerUnendedBytes": looks at waiting bytes while connected.
    std::string storedConnection_;   //!< The stored connection, as read at start, ...
    ConnectionLines storedLines_;    //!< ... its lines ...
    bool storedLinesKnown_ = false;  //!< ... when the settings had them.
    // What was sending when the link dropped, to go on with once it is back.
    bool repeatPaused_ = false;
    bool pingPongPaused_ = false;
    CommandHistory history_;
    BatchHooks batch_;
    bool activated_ = false;
    std::string startScript_;
};

// The program's one console window.
extern TFormConsole* FormConsole;
