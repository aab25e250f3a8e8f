// The console's session log file and its automatic reconnect, headless, against the simulated
// amplifier over TCP and over pseudo-terminals that vanish and come back.
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "log/LogColours.h"
#include "log/LogLines.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstring>
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
    // Every line of the log as the console shows it, CR LF after each: what the file must hold.
    std::string ScreenLines(size_t from = 0) const {
        std::string text;
        const LogLines& lines = console->Log()->Lines();
        for (size_t i = from; i < lines.Count(); ++i)
            text += std::string(lines.Text(i)) + "\r\n";
        return text;
    }
};

TEST_F(ConsoleSessionTest, BothAreOffByDefault) {
    AmpsimProcess amp;
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_FALSE(AutoReconnect()->isChecked());
    EXPECT_FALSE(console->Session().LogFile().IsOpen());
}

TEST_F(ConsoleSessionTest, LogToFileAppendsEveryLineAsShownAndIsRemembered) {
    AmpsimProcess amp;
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    std::ofstream(LogPath(), std::ios::binary) << "an earlier session\r\n";
    StartWith(connection);
    console->ChooseLogFile = [this](std::string& path) {
        path = LogPath();
        return true;
    };
    const size_t before = console->Log()->Lines().Count();
    LogToFile()->trigger();
    ASSERT_TRUE(console->Session().LogFile().IsOpen());
    EXPECT_NE(FromQt(console->windowTitle()).find(LogPath()), std::string::npos);
    Type("ECHO 12.5 \xB5V");
    ASSERT_TRUE(Until([&] { return LogHas("Rx: 12.5 \xB5V"); }));

    // Written before the frame that shows it.
    std::string text;
    ASSERT_TRUE(
        Until([&] { return (text = FileText(LogPath())).find("Rx: 12.5 \xC2\xB5V") != std::string::npos; }));
    const std::string separator = "===== ";
    ASSERT_EQ(text.rfind("an earlier session\r\n" + separator, 0), 0u) << text;
    const size_t firstLine = text.find("\r\n", std::strlen("an earlier session\r\n")) + 2;
    EXPECT_NE(text.find(" " + connection + " =====\r\n"), std::string::npos);
    // The file holds UTF-8; the screen the instrument's Latin-1.
    std::string screen = ScreenLines(before);
    screen.replace(screen.find("\xB5V"), 2, "\xC2\xB5V");
    screen.replace(screen.find("\xB5V", screen.find("Rx:")), 2, "\xC2\xB5V");
    EXPECT_EQ(text.substr(firstLine), screen);
    EXPECT_EQ(Stored("LogToFile").toInt(), 1);
    EXPECT_EQ(FromQt(Stored("LogFile").toString()), LogPath());

    LogToFile()->trigger();
    EXPECT_FALSE(console->Session().LogFile().IsOpen());
    EXPECT_EQ(FromQt(console->windowTitle()), connection);
    EXPECT_EQ(Stored("LogToFile").toInt(), 0);
}

TEST_F(ConsoleSessionTest, AStoredLogFileIsAppendedToFromTheStartWithASeparatorPerConnection) {
    AmpsimProcess amp;
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    Preset("LogToFile", 1);
    Preset("LogFile", ToQt(LogPath()));
    StartWith(connection);
    ASSERT_TRUE(console->Session().Connected());
    EXPECT_TRUE(LogToFile()->isChecked());
    Find<QPushButton>("ButtonConnDisconn")->click();
    AnswerDialog(true);
    Find<QPushButton>("ButtonConnDisconn")->click();
    ASSERT_TRUE(console->Session().Connected());
    // The lines reach the file with the log's next frame.
    std::string text;
    auto separators = [&] {
        text = FileText(LogPath());
        size_t count = 0;
        for (size_t at = 0; (at = text.find(connection + " =====\r\n", at)) != std::string::npos; ++at)
            ++count;
        return count;
    };
    EXPECT_TRUE(Until([&] { return separators() == 3; })) << text; // the file opened, then each connection
    // Each connection's separator comes right before its first line.
    const size_t last = text.rfind(connection + " =====\r\n");
    EXPECT_EQ(text.find("] Connected to \"" + connection, last), text.find("\r\n", last) + 2 + 13) << text;
    EXPECT_NE(text.find("] disconnected.\r\n"), std::string::npos);
}

TEST_F(ConsoleSessionTest, AFullDiskIsReportedOnceInRedAndTheConsoleGoesOn) {
    AmpsimProcess amp;
    Preset("LogToFile", 1);
    Preset("LogFile", "/dev/full");
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    ASSERT_TRUE(console->Session().Connected());
    Type("ECHO still here");
    ASSERT_TRUE(Until([&] { return LogHas("Rx: still here"); }));
    const std::string failure = "Logging to /dev/full stopped: " + std::string(std::strerror(ENOSPC)) + ".";
    const auto texts = LogTexts();
    ASSERT_EQ(Count(texts, "Logging to /dev/full stopped:"), 1u);
    const size_t at = static_cast<size_t>(std::find(texts.begin(), texts.end(), failure) - texts.begin());
    ASSERT_LT(at, texts.size());
    EXPECT_EQ(LogColours()[at], LogColours::Error);
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_EQ(FromQt(console->windowTitle()).find("logging"), std::string::npos);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConsoleSessionTest, AFileThatCannotBeOpenedLeavesLoggingOff) {
    StartWith("tcp:127.0.0.1:1"); // nothing listens there; the failure is logged, no matter
    console->ChooseLogFile = [this](std::string& path) {
        path = FromQt(dir.filePath("missing/session.txt"));
        return true;
    };
    LogToFile()->trigger();
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_EQ(Count(LogTexts(), "Logging to " + FromQt(dir.filePath("missing/session.txt")) +
                                    " failed: " + std::strerror(ENOENT) + "."),
              1u);
    EXPECT_NE(Stored("LogToFile").toInt(), 1);
}

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
    ASSERT_TRUE(
        Until([&] { return Count(LogTexts(), "Reconnecting to " + connection + " (attempt 2)") == 1; }));
    EXPECT_TRUE(console->Session().Reconnecting());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxPingPong")->isChecked()) << "ping-pong waits, it does not end";
    EXPECT_EQ(Count(LogTexts(), "Reconnecting to"), 2u);
    EXPECT_EQ(Count(LogTexts(), "Opening "), 0u) << "a failed attempt is told by its own line alone";

    amp = std::make_unique<AmpsimProcess>(
        std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    ASSERT_TRUE(Until([&] { return !console->Session().Reconnecting(); }, 30000));
    EXPECT_EQ(Count(LogTexts(), "Connected to \"" + connection + "\""), 2u);
    const size_t pings = Count(LogTexts(), "Rx: ping");
    ASSERT_TRUE(Until([&] { return Count(LogTexts(), "Rx: ping") >= pings + 3; }));
    EXPECT_TRUE(boxes.boxes.empty());
    Find<QCheckBox>("CheckBoxPingPong")->click();
}

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
    EXPECT_FALSE(console->Session().Reconnecting());
    EXPECT_FALSE(Find<QTimer>("TimerReconnect")->isActive());
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxTxRep")->isChecked());
    EXPECT_FALSE(console->Session().Connected());
}

TEST_F(ConsoleSessionTest, WithoutReconnectADropEndsRepeatAsBefore) {
    auto amp = std::make_unique<AmpsimProcess>();
    StartWith("tcp:127.0.0.1:" + std::to_string(amp->TcpPort()));
    Find<QLineEdit>("EditRawIn")->setText("ECHO r");
    Find<QCheckBox>("CheckBoxTxRep")->click();
    amp.reset();
    ASSERT_TRUE(Until([&] { return LogHas("disconnected.") || Count(LogTexts(), "disconnected") > 0; }));
    ASSERT_TRUE(Until([&] { return !Find<QCheckBox>("CheckBoxTxRep")->isChecked(); }));
    EXPECT_FALSE(console->Session().Reconnecting());
    EXPECT_EQ(Count(LogTexts(), "Reconnecting"), 0u);
}

TEST_F(ConsoleSessionTest, ASerialDeviceIsReopenedWhenItsNodeComesBack) {
    auto pty = std::make_unique<PtyPair>();
    const std::string link = FromQt(dir.filePath("ttyUSB0"));
    std::filesystem::create_symlink(pty->SlavePath(), link);
    const std::string connection = "com:" + link + ":baud=115200";
    Preset("ReconnectAutomatically", 1);
    StartWith(connection);
    ASSERT_TRUE(console->Session().Connected());
    pty->CloseSlave();

    // Unplugged: the device goes, and with it its node.
    pty.reset();
    std::filesystem::remove(link);
    ASSERT_TRUE(Until([&] { return console->Session().Reconnecting(); }));
    const size_t attempts = Count(LogTexts(), "Reconnecting to");

    // Plugged in again: a new device under the same name.
    auto again = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(again->SlavePath(), link);
    ASSERT_TRUE(Until([&] { return !console->Session().Reconnecting(); }));
    EXPECT_EQ(Count(LogTexts(), "Reconnecting to"), attempts + 1);
    EXPECT_EQ(Count(LogTexts(), "Connected to \"" + connection + "\""), 2u);
    again->CloseSlave();
    Type("*IDN?");
    EXPECT_EQ(again->ReadLine(), "*IDN?\n");
}
