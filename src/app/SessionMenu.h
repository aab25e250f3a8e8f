#pragma once
// The Connection menu's session items: the session log file (every log line appended to a file as
// it is logged), the automatic reconnect of a dropped link, the reply statistics beside the log,
// and the escapes box of the input line. Each is remembered in the settings as it changes. They
// see the conversation (ConsoleSession), never the console window. Everything runs on the UI
// thread.
#include <QObject>
#include <functional>
#include <string>

class ConsoleSession;
class QAction;
class QCheckBox;
class QLabel;

class TSessionMenu : public QObject {
public:
    struct Items {
        QAction* logToFile;
        QAction* autoReconnect;
        QAction* showReplyStatistics;
        QCheckBox* escapes;
        QLabel* statistics; //!< Shown while showReplyStatistics is checked.
    };
    // chooseLogFile asks where the log file goes (path := the choice, true).
    TSessionMenu(QObject* owner, Items items, ConsoleSession& session,
                 std::function<bool(std::string& path)> chooseLogFile);

private:
    void LogToFileClick();

    Items items_;
    ConsoleSession& session_;
    std::function<bool(std::string& path)> chooseLogFile_;
};
