#pragma once
// The batch window: a script editor with Start/Stop and Next. It runs the script through the
// step machine (TBatchRunner), which decides; this window reads its editor for it, sends through
// the console's one send path, logs into the console's log and asks through the modal boxes.
// Created hidden at start, it lives until the program ends; closing it only hides it, and a run
// goes on (driven by its timer alone, since the console forwards replies only while it is shown).
// Everything here runs on the UI thread.
#include "batch/BatchRunner.h"
#include "platform/QtPlatform.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

class QFileDialog;
class QMimeData;
class QPlainTextEdit;
class QPushButton;
class QTimer;
namespace Ui {
class TFormBatchSend;
}

class TFormBatchSend : public QMainWindow, private BatchHost {
public:
    // owner: the console; the window stays in front of it and goes with it.
    explicit TFormBatchSend(QWidget* owner = nullptr);
    ~TFormBatchSend() override;

    // What this window asks of the console: a line sent through its one send path (as the input
    // line, without a sender) and a line in its log. The program entry wires both windows.
    struct ConsoleHooks {
        std::function<void(const std::string& text)> SendLine;
        std::function<void(const std::string& text, uint32_t colour)> Log;
        // Starts a break of ms on the serial line: empty, or why no break was sent.
        std::function<std::string(uint32_t ms)> SendBreak;
    };
    void AttachToConsole(ConsoleHooks hooks);

    // What the console calls.
    void NotifyRxLine(const std::string& text);
    void InsertLine(const std::string& text);
    // Shows the window; when it was hidden, a run goes on from the first line.
    void ShowFromConsole();
    // The console's link dropped: a run stops, with a red line in the log.
    void ConnectionLost();
    // The link dropped and is being reconnected: a run waits (its timer stops) until ConnectionBack.
    void ConnectionPaused();
    void ConnectionBack();
    bool PausedForConnection() const { return pausedForConnection_; }

    // Replaces the script with the file's lines; refused while a run is active ("Batch is
    // running!"). A file error is shown and changes nothing; a file with NUL bytes (not a script,
    // most likely) loads only when the operator confirms. True when loaded.
    bool LoadScript(const std::string& path);
    // Writes the script (CR LF line ends); allowed during a run. True when written.
    bool SaveScript(const std::string& path);

    // Handlers, public so tests can drive them as the operator would.
    void ButtonRewindClick();
    void ButtonNextClick();
    void TimerBatchDriveTimer();
    void Save1Click();
    void Copyall1Click();
    void Pasteover1Click();
    void Clear1Click();
    void Help1Click();

    const TBatchRunner& Runner() const { return runner_; }
    int32_t CurrentLine() const { return runner_.CurrentLine(); }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ConnectHandlers();
    void Open1Click();
    void Saveas1Click();
    void SetFileName(const std::string& path);
    void LoadDroppedFiles(const QMimeData& dropped);

    // BatchHost: the runner's view of this window.
    int32_t LineCount() const override;
    std::string Line(int32_t index) const override;
    void HighlightLine(int32_t index) override;
    void SendLine(const std::string& text) override;
    void Log(const std::string& text, uint32_t colour) override;
    bool Confirm(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowRunning(bool running) override;
    void PostDeferredStep() override;
    std::string SendBreak(uint32_t ms) override;

    std::unique_ptr<Ui::TFormBatchSend> ui_;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* ButtonRewind = nullptr;
    QPushButton* ButtonNext = nullptr;
    QTimer* TimerBatchDrive = nullptr;
    bool pausedForConnection_ = false;
    LazyFileDialog OpenDialog1;
    LazyFileDialog SaveDialog1;
    std::string fileName_; // both dialogs' current file name; empty until a load or save
    ConsoleHooks console_;
    TBatchRunner runner_{*this};
};

// The program's one batch window.
extern TFormBatchSend* FormBatchSend;
