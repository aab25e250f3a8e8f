#pragma once
// The Extra menu's Run Test Script: a Lua test script run on the console's connection, its steps,
// checks and conversation shown in the console's log as they come, and its verdict at the end. The
// run is the headless runner in a child process (TestRunCommand.h), so a script that waits or loops
// never holds the window; the console's own link is closed while it runs (a serial port takes one
// user) and opened again after. The same item stops a run under way, which ends it as a signal
// does, its reports written. Everything runs on the UI thread.
#include <QObject>
#include <QProcess>
#include <functional>
#include <string>

class ConsoleSession;
class QAction;
class QMenu;
class QWidget;

class TTestScriptTool : public QObject {
public:
    // Adds its item to menu.
    TTestScriptTool(QWidget* window, QMenu* menu, ConsoleSession& session);
    // A run still under way is stopped.
    ~TTestScriptTool() override;

    // Asks for the script (a file dialog by default): true with path set.
    std::function<bool(std::string& path)> ChooseScript;
    // Opens the console's connection again after a run: set by the console.
    std::function<void(const std::string& connection)> Reopen;
    // The program run headless: this program by default.
    std::string RunnerProgram;

    void Start(const std::string& script);
    void Stop();
    bool Running() const { return process_ != nullptr; }

private:
    void Triggered();
    void ReadOutput();
    void Finished(int exitCode);
    void TakeLine(const std::string& line);

    QWidget* window_;
    ConsoleSession& session_;
    QAction* action_;
    QProcess* process_ = nullptr;
    std::string pending_; //!< Output after the last whole line.
    std::string reopen_;  //!< The connection to open again after the run; empty: none.
};
