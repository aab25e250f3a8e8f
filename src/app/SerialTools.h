#pragma once
// The Connection menu's serial tools and recent connections: the modem lines of an open serial
// link (their state in a small label, changes logged on request, DTR and RTS switched, a break of
// a chosen length) and the last connections that opened, each one click away. They see the
// conversation (ConsoleSession), never the console window. Everything runs on the UI thread.
#include "connection/ModemLines.h"
#include "console/RecentConnections.h"

#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <vector>

class ConsoleSession;
class QAction;
class QLabel;
class QMenu;
class QTimer;
class QWidget;
class TSerialConnection;

class TSerialTools : public QObject {
public:
    // Adds its items to menu and its label to the window's status bar.
    TSerialTools(QWidget* window, QMenu* menu, ConsoleSession& session);

    // Opens a recent connection: set by the console (its open path, without the dialog).
    std::function<void(const std::string& connection)> OpenConnection;
    // The link opened or ended: the items and the label follow it.
    void LinkChanged();
    // A connection opened with lines: it goes to the top of the recent ones, which are kept in
    // the settings with their lines.
    void Remember(const std::string& connection, const ConnectionLines& lines);
    // Reads the recent connections and their lines from the settings.
    void ReadSettings();
    const std::vector<std::string>& Recent() const { return recent_; }
    // The lines a recent connection was last opened with; false for one kept without them.
    bool LinesOf(const std::string& connection, ConnectionLines& lines) const;
    // Holds a break of ms on the open serial port (the batch's #BREAK), ended by a timer: empty,
    // or why no break was sent.
    std::string SendBreakFor(int ms);

private:
    TSerialConnection* Port() const;
    void PollLines();
    void SwitchLine(QAction* action, bool dtr);
    void SendBreak();
    void ShowRecent();

    ConsoleSession& session_;
    QWidget* window_;
    QMenu* recentMenu_;
    QAction* dtr_;
    QAction* rts_;
    QAction* break_;
    QAction* logChanges_;
    QLabel* lines_;
    QTimer* poll_;
    ModemLines last_;
    bool lastKnown_ = false;
    std::vector<std::string> recent_;
    std::map<std::string, ConnectionLines> recentLines_;
};
