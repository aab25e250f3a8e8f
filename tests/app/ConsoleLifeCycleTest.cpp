// The console's connection life cycle at the window: an open that hangs never freezes it and can
// be given up, failures say why, a listening port works as a connection, settings trouble never
// changes what the window shows, and a send that cannot go out is never logged as sent.
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <fstream>
#include <regex>

namespace {
// While the console waits for an open, the event loop runs: this counts its turns and, once the
// "Connecting" window shows, presses its Cancel.
struct CancelWhenShown {
    QTimer timer;
    int turns = 0;
    bool cancelled = false;
    explicit CancelWhenShown(QWidget* console) {
        QObject::connect(&timer, &QTimer::timeout, [this, console] {
            ++turns;
            auto* progress = console->findChild<QProgressDialog*>("ProgressConnecting");
            // Pressed again while the window stays, should a press land before it can take keys.
            if (progress && progress->isVisible()) {
                cancelled = true;
                QTest::keyClick(progress, Qt::Key_Escape);
            }
        });
        timer.start(10);
    }
};

TEST_F(ConsoleTest, AHangingOpenShowsWhereItConnectsAndEscGivesUpAtOnce) {
    FullListener silent;
    Preset("ConnectTimeoutMs", 30000);
    CancelWhenShown operatorAct(console.get());
    QElapsedTimer elapsed;
    elapsed.start();
    StartWith("tcp:" + silent.Address());
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_TRUE(operatorAct.cancelled);
    EXPECT_GT(operatorAct.turns, 5) << "the window kept running while it waited";
    EXPECT_TRUE(LogHas("Opening tcp:" + silent.Address() + " failed. Cancelled."));
    EXPECT_FALSE(console->Session().Connected());
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "C&onnect");
    EXPECT_FALSE(LogHas("disconnected.")) << "a link that never opened has no end to tell";
}

TEST_F(ConsoleTest, AHangingOpenFailsByItselfAfterTheTimeOut) {
    FullListener silent;
    Preset("ConnectTimeoutMs", 300);
    StartWith("tcp:" + silent.Address());
    const std::string expected = "Opening tcp:" + silent.Address() + " failed. Timed out.";
    EXPECT_TRUE(LogHas(expected));
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text, expected);
}

TEST_F(ConsoleTest, PortsOutOfRangeOrNoNumberAreRefusedNamingTheField) {
    StartWith("tcp:127.0.0.1:99999");
    EXPECT_TRUE(LogHas("Opening tcp:127.0.0.1:99999 failed. Port '99999' is not a number from 1 to 65535."));
    EXPECT_FALSE(console->Session().Connected());
}

TEST_F(ConsoleTest, AListeningPortIsConnectedTellsOfEachClientAndServesTheNext) {
    StartWith("tcpsrv:127.0.0.1:0");
    ASSERT_TRUE(console->Session().Connected());
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "Disc&onnect");
    std::smatch found;
    std::string listening = LogTexts().back();
    ASSERT_TRUE(
        std::regex_match(listening, found, std::regex("Listening on 127\\.0\\.0\\.1, port (\\d+)\\.")))
        << listening;
    const int port = std::stoi(found[1]);

    Type("NOBODY");
    EXPECT_TRUE(LogHas("Not sent: No client is connected."));
    EXPECT_FALSE(LogHas("Tx: NOBODY"));
    {
        TestClient client(port);
        ASSERT_TRUE(Until([&] { return LogTexts().back().find(" connected.") != std::string::npos; }));
        ASSERT_TRUE(client.Send("first\n"));
        ASSERT_TRUE(Until([&] { return LogHas("Rx: first"); }));
    }
    ASSERT_TRUE(Until([&] { return LogTexts().back().find(" left.") != std::string::npos; }));
    TestClient next(port);
    ASSERT_TRUE(Until([&] { return LogTexts().back().find(" connected.") != std::string::npos; }));
    Type("HELLO");
    EXPECT_EQ(next.ReadLine(), "HELLO\n");
    EXPECT_TRUE(console->Session().Connected());
    Find<QPushButton>("ButtonConnDisconn")->click();
    EXPECT_FALSE(TestClient(port).Connected()) << "Disconnect stops listening";
}

TEST_F(ConsoleTest, AFailedServerOpenIsReportedLikeAnyOther) {
    StartWith("tcpsrv::25x0");
    const std::string expected = "Opening tcpsrv::25x0 failed. Port '25x0' is not a valid integer value.";
    EXPECT_TRUE(LogHas(expected));
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text, expected);
    EXPECT_FALSE(LogHas("disconnected."));
    EXPECT_EQ(console->windowTitle(), "Console");
}

TEST_F(ConsoleTest, AGpibLoadFailureIsLoggedWithTheLoadersReason) {
    // A driver the dialog offers, whose library is not installed here.
    StartWith("gpib:0,7:Agilent");
    bool logged = false;
    for (const auto& line : LogTexts())
        logged |= line.rfind("Opening gpib:0,7:Agilent failed. libGpibAgilent.so: ", 0) == 0;
    EXPECT_TRUE(logged) << testing::PrintToString(LogTexts());
}

TEST_F(ConsoleTest, AHandWrittenListValueReadsBackAsTheTextItWasMeantToBe) {
    // As an operator would write it with an editor: the comma unquoted.
    ASSERT_TRUE(QDir(dir.path()).mkpath("Veltrask"));
    std::ofstream(dir.filePath("Veltrask/Corvane.conf").toStdString())
        << "[General]\nConnection=gpib:0,7:Simulator\n";
    bool gpibChecked = false;
    AnswerDialog(false, [&](TFormOpenCom& dialog) {
        gpibChecked = dialog.findChild<QRadioButton*>("RadioButtonConGpib")->isChecked();
    });
    Start();
    EXPECT_TRUE(gpibChecked);
    EXPECT_EQ(console->Session().Connection(), "gpib:0,7:Simulator");
}

TEST_F(ConsoleTest, SettingsThatCannotBeWrittenAreReportedAndNeverLeadToASerialPort) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, "/dev/null/corvane");
    bool serialChecked = true;
    bool tcpChecked = false;
    AnswerDialog(false, [&](TFormOpenCom& dialog) {
        serialChecked = dialog.findChild<QRadioButton*>("RadioButtonConSerial")->isChecked();
        tcpChecked = dialog.findChild<QRadioButton*>("RadioButtonConTcp")->isChecked();
    });
    Start();
    EXPECT_FALSE(serialChecked);
    EXPECT_TRUE(tcpChecked) << "the default connection is offered";
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.front().text.rfind("Failed to set data for '", 0), 0u) << boxes.boxes.front().text;
    EXPECT_NE(boxes.boxes.front().text.find("/dev/null/corvane/Veltrask/Corvane.conf: "), std::string::npos)
        << boxes.boxes.front().text;
}

TEST_F(ConsoleTest, ASettingsWriteFailureAfterAnOpenLeavesTheWindowShowingTheOpenLink) {
    AmpsimProcess amp;
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    ASSERT_TRUE(console->Session().Connected());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, "/dev/null/corvane");
    AnswerDialog(true);
    console->OpenConnection();
    EXPECT_TRUE(console->Session().Connected());
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "Disc&onnect");
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text.rfind("Failed to set data for 'Connection' in ", 0), 0u);
}

TEST_F(ConsoleTest, TextBeyondLatin1IsRefusedByNameAndKeptInTheInputLine) {
    AmpsimProcess amp;
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    auto* edit = Find<QLineEdit>("EditRawIn");
    edit->setText(QString::fromUtf8("SET NAME caf\xc3\xa9 \xe2\x82\xac"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(LogHas("Not sent: the character U+20AC is not in the instrument's character set (Latin-1)."));
    EXPECT_EQ(edit->text(), QString::fromUtf8("SET NAME caf\xc3\xa9 \xe2\x82\xac"));
    for (const auto& line : LogTexts())
        EXPECT_NE(line.rfind("Tx:", 0), 0u) << line;
}

TEST_F(ConsoleTest, EnterWithTheDialogCancelledKeepsTheTypedCommand) {
    AnswerDialog(false);
    Start();
    AnswerDialog(false);
    Type("STATUS?");
    EXPECT_EQ(Find<QLineEdit>("EditRawIn")->text(), "STATUS?");
}

TEST_F(ConsoleTest, EveryLineOfAMultiLineReplyIsTimedFromTheSendAlsoWithReplyTimesShown) {
    AmpsimProcess amp({"--delay", "30"});
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    console->findChild<QAction*>("miShowReplyTimes")->setChecked(true);
    Type("MULTI? 3");
    ASSERT_TRUE(Until([&] { return LogHas("Rx: MULTI 3/3"); }));
    const std::string caption = Find<QLabel>("LabelSpeed")->text().toStdString();
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(caption, parts, std::regex("(\\d+)/(\\d+)/(\\d+)ms"))) << caption;
    // A line timed from tick 0 would show the machine's uptime here.
    EXPECT_LT(std::stoul(parts[3]), 60000u) << caption;
    EXPECT_LT(std::stoul(parts[2]), 60000u) << caption;
    size_t shown = 0;
    for (const auto& line : LogTexts())
        shown += line.rfind("#ReplyTime=", 0) == 0;
    EXPECT_EQ(shown, 1u) << "once per send";
}
} // namespace
