#include "app/SerialTools.h"

#include "connection/SerialConnection.h"
#include "console/ConsoleSession.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

namespace {
// How often an open serial port's input lines are looked at; a terminal's lamps need no more.
constexpr int ModemPollMs = 200;
constexpr char RecentSetting[] = "RecentConnections";
constexpr char RecentLinesSetting[] = "RecentConnectionLines";
} // namespace

TSerialTools::TSerialTools(QWidget* window, QMenu* menu, ConsoleSession& session)
    : QObject(window), session_(session), window_(window) {
    menu->addSeparator();
    recentMenu_ = menu->addMenu("Recent &Connections");
    recentMenu_->setObjectName("miRecentConnections");
    dtr_ = menu->addAction("&DTR");
    dtr_->setObjectName("miDtr");
    rts_ = menu->addAction("&RTS");
    rts_->setObjectName("miRts");
    for (QAction* line : {dtr_, rts_})
        line->setCheckable(true);
    break_ = menu->addAction("Send &Break...");
    break_->setObjectName("miSendBreak");
    logChanges_ = menu->addAction("Log &Modem Line Changes");
    logChanges_->setObjectName("miLogModemLines");
    logChanges_->setCheckable(true);
    lines_ = new QLabel(window);
    lines_->setObjectName("LabelModemLines");
    if (auto* main = qobject_cast<QMainWindow*>(window)) main->statusBar()->addPermanentWidget(lines_);
    lines_->hide();
    poll_ = new QTimer(this);
    poll_->setObjectName("TimerModemLines");
    poll_->setInterval(ModemPollMs);
    connect(poll_, &QTimer::timeout, this, [this] { Guarded([this] { PollLines(); }); });
    connect(dtr_, &QAction::triggered, this, [this] { Guarded([this] { SwitchLine(dtr_, true); }); });
    connect(rts_, &QAction::triggered, this, [this] { Guarded([this] { SwitchLine(rts_, false); }); });
    connect(break_, &QAction::triggered, this, [this] { Guarded([this] { SendBreak(); }); });
    LinkChanged();
}

TSerialConnection* TSerialTools::Port() const {
    return session_.SerialPort();
}

void TSerialTools::LinkChanged() {
    TSerialConnection* port = Port();
    for (QAction* item : {dtr_, rts_, break_, logChanges_})
        item->setEnabled(port != nullptr);
    lastKnown_ = false;
    if (!port) {
        poll_->stop();
        lines_->hide();
        return;
    }
    // Hardware flow control drives RTS itself; the operator's switch would fight it.
    const bool handshake = port->RtsIsHandshake();
    rts_->setEnabled(!handshake);
    rts_->setToolTip(handshake ? "RTS belongs to hardware flow control (rts=hs in the port's mode)."
                               : QString());
    PollLines();
    if (lastKnown_) poll_->start();
}

void TSerialTools::PollLines() {
    TSerialConnection* port = Port();
    ModemLines now;
    if (!port || !port->ReadModemLines(now)) {
        poll_->stop();
        lines_->setText(port ? ToQt(port->ModemFailure()) : QString());
        lines_->setVisible(port != nullptr);
        return;
    }
    if (lastKnown_ && logChanges_->isChecked()) {
        for (const std::string& change : ModemInputChanges(last_, now))
            session_.Log(change, LogColours::Status);
    }
    dtr_->setChecked(now.dtr);
    rts_->setChecked(now.rts);
    last_ = now;
    lastKnown_ = true;
    lines_->setText(ToQt(ModemInputsText(now)));
    lines_->show();
}

void TSerialTools::SwitchLine(QAction* action, bool dtr) {
    TSerialConnection* port = Port();
    if (!port) return;
    const bool on = action->isChecked();
    if (const std::string why = session_.SetModemLine(dtr, on); !why.empty()) {
        action->setChecked(!on);
        session_.Log(std::string(dtr ? "DTR" : "RTS") + " not switched: " + why, LogColours::Error);
    }
}

// The break is held by a timer, so the window goes on meanwhile.
void TSerialTools::SendBreak() {
    TSerialConnection* port = Port();
    if (!port) return;
    std::string text = "250";
    if (!Boxes().InputQuery("Send Break", "Break length in ms (1 to 5000)", text)) return;
    char* end = nullptr;
    const long ms = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || ms < 1 || ms > 5000) {
        session_.Log("No break sent: the length must be 1 to 5000 ms, not \"" + text + "\".",
                     LogColours::Error);
        return;
    }
    if (const std::string failure = SendBreakFor(static_cast<int>(ms)); !failure.empty())
        session_.Log("No break sent: " + failure, LogColours::Error);
}

std::string TSerialTools::SendBreakFor(int ms) {
    if (std::string why = session_.Break(true, static_cast<uint32_t>(ms)); !why.empty()) return why;
    QTimer::singleShot(ms, this, [this] { session_.Break(false); });
    return {};
}

void TSerialTools::Remember(const std::string& connection, const ConnectionLines& lines) {
    AddRecentConnection(recent_, connection);
    recentLines_[connection] = lines;
    std::erase_if(recentLines_,
                  [this](const auto& entry) { return std::ranges::count(recent_, entry.first) == 0; });
    ShowRecent();
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteStr(RecentSetting, JoinRecentConnections(recent_));
        settings.WriteStr(RecentLinesSetting, JoinConnectionLines(recent_, recentLines_));
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        session_.Log(e.what(), LogColours::Error);
    }
}

void TSerialTools::ReadSettings() {
    SettingsStore& settings = Settings();
    settings.OpenKey(SettingsKeyPath);
    recent_ = SplitRecentConnections(settings.ReadStr(RecentSetting, ""));
    // Settings from before the lines were kept have none: their connections take their kind's.
    recentLines_ = SplitConnectionLines(settings.ReadStr(RecentLinesSetting, ""));
    settings.CloseKey();
    ShowRecent();
}

bool TSerialTools::LinesOf(const std::string& connection, ConnectionLines& lines) const {
    const auto found = recentLines_.find(connection);
    if (found == recentLines_.end()) return false;
    lines = found->second;
    return true;
}

void TSerialTools::ShowRecent() {
    recentMenu_->clear();
    for (const std::string& connection : recent_) {
        QAction* item = recentMenu_->addAction(ToQt(connection));
        connect(item, &QAction::triggered, this, [this, connection] {
            Guarded([&] {
                if (OpenConnection) OpenConnection(connection);
            });
        });
    }
    recentMenu_->setEnabled(!recent_.empty());
}
