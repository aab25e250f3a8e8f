// The window's side of the session log file and the automatic reconnect, headless: the menu
// items and the settings they keep, and what the window shows, waits with or ends. What the
// session itself does with them is tested without a window (tests/console).
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t Count(const std::vector<std::string>& texts, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(texts.begin(), texts.end(),
                                             [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
}
} // namespace

class ConsoleSessionTest : public ConsoleTest {
protected:
    QAction* LogToFile() const { return Find<QAction>("miLogToFile"); }
    QAction* AutoReconnect() const { return Find<QAction>("miAutoReconnect"); }
    std::string LogPath() const { return FromQt(dir.filePath("session.txt")); }
};

TEST_F(ConsoleSessionTest, BothAreOffByDefault) {
    AmpsimProcess amp;
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_FALSE(AutoReconnect()->isChecked());
    EXPECT_FALSE(console->Session().LogFile().IsOpen());
}

TEST_F(ConsoleSessionTest, LogToFileIsSwitchedFromTheMenuWrittenAsShownAndRemembered) {
    AmpsimProcess amp;
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    StartWith(connection);
    console->ChooseLogFile = [this](std::string& path) {
        path = LogPath();
        return true;
    };
    LogToFile()->trigger();
    ASSERT_TRUE(console->Session().LogFile().IsOpen());
    EXPECT_NE(FromQt(console->windowTitle()).find(LogPath()), std::string::npos);
    EXPECT_EQ(Stored("LogToFile").toInt(), 1);
    EXPECT_EQ(FromQt(Stored("LogFile").toString()), LogPath());
    // The window writes what it shows.
    Type("ECHO logged");
    ASSERT_TRUE(Until([&] { return LogHas("Rx: logged"); }));
    EXPECT_TRUE(Until([&] { return FileText(LogPath()).find("] Rx: logged\r\n") != std::string::npos; }));

    LogToFile()->trigger();
    EXPECT_FALSE(console->Session().LogFile().IsOpen());
    EXPECT_EQ(FromQt(console->windowTitle()), connection);
    EXPECT_EQ(Stored("LogToFile").toInt(), 0);
}

TEST_F(ConsoleSessionTest, AStoredLogFileIsLoggedToFromTheStart) {
    Preset("LogToFile", 1);
    Preset("LogFile", ToQt(LogPath()));
    AnswerDialog(false);
    Start();
    EXPECT_TRUE(LogToFile()->isChecked());
    EXPECT_EQ(console->Session().LogFile().Path(), LogPath());
}

// The session says why in the log; the window shows logging off and asks nothing.
TEST_F(ConsoleSessionTest, ALogFileThatFailsLeavesLoggingShownOff) {
    Preset("LogToFile", 1);
    Preset("LogFile", "/dev/full");
    AnswerDialog(false);
    Start();
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_EQ(FromQt(console->windowTitle()).find("logging"), std::string::npos);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConsoleSessionTest, AFileThatCannotBeOpenedLeavesLoggingOff) {
    AnswerDialog(false);
    Start();
    console->ChooseLogFile = [this](std::string& path) {
        path = FromQt(dir.filePath("missing/session.txt"));
        return true;
    };
    LogToFile()->trigger();
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_NE(Stored("LogToFile").toInt(), 1);
}

// The item switches the session's reconnect and is remembered; ping-pong waits for the link and
// goes on once it is back.
TEST_F(ConsoleSessionTest, ADroppedTcpLinkIsReconnectedAndPingPongGoesOn) {
    auto amp = std::make_unique<AmpsimProcess>();
    const int port = amp->TcpPort();
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(port);
    StartWith(connection);
    ASSERT_TRUE(console->Session().Connected());
    AutoReconnect()->trigger();
    EXPECT_EQ(Stored("ReconnectAutomatically").toInt(), 1);
    Find<QLineEdit>("EditRawIn")->setText("ECHO ping");
    Find<QCheckBox>("CheckBoxPingPong")->click();
    ASSERT_TRUE(Until([&] { return Count(LogTexts(), "Rx: ping") >= 3; }));

    amp.reset(); // the peer goes away
    ASSERT_TRUE(Until([&] { return Count(LogTexts(), "Reconnecting to " + connection) == 1; }));
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxPingPong")->isChecked()) << "ping-pong waits, it does not end";

    amp = std::make_unique<AmpsimProcess>(
        std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    ASSERT_TRUE(Until([&] { return !console->Session().Reconnecting(); }, 30000));
    const size_t pings = Count(LogTexts(), "Rx: ping");
    ASSERT_TRUE(Until([&] { return Count(LogTexts(), "Rx: ping") >= pings + 3; }));
    EXPECT_TRUE(boxes.boxes.empty());
    Find<QCheckBox>("CheckBoxPingPong")->click();
}

// Repeat waits while the link is tried again; the operator's Disconnect stops the attempts' timer
// and ends the repeat.
TEST_F(ConsoleSessionTest, TheOperatorsDisconnectEndsTheAttemptsAndWhatWaited) {
    auto amp = std::make_unique<AmpsimProcess>();
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp->TcpPort());
    Preset("ReconnectAutomatically", 1);
    StartWith(connection);
    ASSERT_TRUE(AutoReconnect()->isChecked());
    Find<QLineEdit>("EditRawIn")->setText("ECHO r");
    Find<QCheckBox>("CheckBoxTxRep")->click();
    amp.reset();
    ASSERT_TRUE(Until([&] { return LogHas("Reconnecting to " + connection + " (attempt 1)"); }));
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxTxRep")->isChecked());
    EXPECT_FALSE(Find<QTimer>("TimerTxRep")->isActive());
    Find<QPushButton>("ButtonConnDisconn")->click();
    EXPECT_FALSE(Find<QTimer>("TimerReconnect")->isActive());
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxTxRep")->isChecked());
}

// The window watches the device's folder for the session: the node coming back opens it again.
TEST_F(ConsoleSessionTest, ASerialDeviceIsReopenedWhenItsNodeComesBack) {
    auto pty = std::make_unique<PtyPair>();
    const std::string link = FromQt(dir.filePath("ttyUSB0"));
    std::filesystem::create_symlink(pty->SlavePath(), link);
    Preset("ReconnectAutomatically", 1);
    StartWith("com:" + link + ":baud=115200");
    ASSERT_TRUE(console->Session().Connected());
    pty->CloseSlave();
    pty.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(Until([&] { return console->Session().Reconnecting(); }));
    auto again = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(again->SlavePath(), link);
    EXPECT_TRUE(Until([&] { return !console->Session().Reconnecting(); }));
}
