#pragma once
// The console: the main window. It owns the one link to the instrument (ConsoleLink), sends every
// command through its one send path and logs every line in its colour log. Its controls come
// from Fconsole.ui. Everything here runs on the UI thread.
#include "console/ConsoleLink.h"
#include "console/ConsoleLogic.h"
#include "text/Strtools.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTimer;
class QFrame;
class TIO;
class TLogView;
namespace Ui {
class TFormConsole;
}

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
    bool OpenConnection();
    void CloseConnection();
    bool IsConnected() const;
    void UpdateConnectionUi();
    void OnConnected();
    void OnDisconnected();

    // Sending and receiving.
    void AddLogLine(const std::string& text, uint32_t colour, bool withTimestamp = true);
    // The one send path. sender is ButtonRawSend for the operator's Send and Enter (auto-connect
    // and history), nullptr for the repeat timer, ping-pong and the batch runner.
    void ButtonRawSendClick(QObject* sender);
    void SendFromButton(const std::string& text, bool toBatch);
    void OnTxEcho(const std::string& text);
    void OnRxLine(const std::string& line);
    // The GPIB driver's events.
    void OnServiceRequest();

    // What the console asks of the batch window; set when that window exists. All calls made
    // by the console go through these, so the wiring is one assignment.
    struct BatchHooks {
        std::function<bool()> IsVisible;
        std::function<void(const std::string&)> InsertLine;
        std::function<void(const std::string&)> NotifyRxLine;
        std::function<void()> ShowFromConsole; // reset to the first line when hidden, then show
        std::function<void(const std::string&)> LoadScript;
    };
    void SetBatchHooks(BatchHooks hooks);
    // What the console's tools ask of the shared editor; set when the editor exists.
    struct EditorHooks {
        // Shows the editor modally with caption and text (CR LF, LF or CR line ends); true for OK.
        std::function<bool(const std::string& caption, const std::string& text)> Show;
        // The editor's lines as the operator left them.
        std::function<std::vector<std::string>()> Lines;
    };
    void SetEditorHooks(EditorHooks hooks) { editor_ = std::move(hooks); }
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
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void TakeControls();
    void ConnectHandlers();
    LinkEvents MakeLinkEvents();
    void ReadSettings();
    void LoadStartScript();
    void WriteSettings();
    // Logs the failed open in red, and shows it in an error box unless one was shown already.
    void ReportOpenFailure(bool withBox);
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
    void FormClose();
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
    QFrame* FrameButtonField1 = nullptr;
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
    QMenu* MenuItemExtra = nullptr;
    QAction* miShowReplyTimes = nullptr;
    QAction* miUploadConvTab = nullptr;
    QAction* miDnloadConvTab = nullptr;

    // Connection state.
    std::string connectionString_;
    bool connected_ = false;
    std::unique_ptr<ConsoleLink> link_;

    // Send and receive state.
    uint32_t sendTick_ = 0;
    ReplyStatistics stats_;
    CommandHistory history_;
    BatchHooks batch_;
    EditorHooks editor_;
    // The board address and table number each conversion-table tool offers next, for the run.
    std::string convUpAddress_;
    std::string convUpTable_ = "0";
    std::string convDnAddress_;
    std::string convDnTable_ = "0";
    bool activated_ = false;
    std::string startScript_;
};

// The program's one console window.
extern TFormConsole* FormConsole;
