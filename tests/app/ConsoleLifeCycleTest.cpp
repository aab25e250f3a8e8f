// The console's connection life cycle at the window: an open that hangs never freezes it and can
// be given up or times out, settings trouble never changes what the window shows, and a send that
// cannot go out is never logged as sent.
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "platform/QtPlatform.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <fstream>

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
} // namespace
