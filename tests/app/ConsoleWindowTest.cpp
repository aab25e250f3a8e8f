// The console window driven by control name: start-up, settings, the connection life cycle,
// the send path and the modes, against the simulated amplifier on loopback.
#include "ConsoleFixture.h"
#include "CorvaneVersion.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace {
std::string Tcp(const AmpsimProcess& amp) {
    return "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
}
} // namespace

TEST_F(ConsoleTest, FirstRunWritesEveryDefaultAndOffersTheDefaultConnection) {
    std::string hostShown;
    AnswerDialog(false, [&](TFormOpenCom& dialog) {
        hostShown = FromQt(dialog.findChild<QLineEdit*>("EditHost")->text());
    });
    Start();
    EXPECT_EQ(hostShown, "192.168.1.253");
    EXPECT_EQ(Stored("Connection").toString(), "tcp:192.168.1.253:2500");
    for (const char* name :
         {"WindowPosLeft", "WindowPosTop", "WindowHeight", "WindowWidth", "ButtonTableHeight"}) {
        EXPECT_TRUE(Stored(name).isValid()) << name;
    }
    EXPECT_EQ(Stored("ButtonTableHeight").toInt(), 369);
    EXPECT_TRUE(console->screen()->availableGeometry().contains(console->frameGeometry())) << "design size";
    // Cancelled: closed, no log line.
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "C&onnect");
    EXPECT_TRUE(LogTexts().empty());
    EXPECT_EQ(console->windowTitle(), "Console");
    EXPECT_FALSE(Find<QMenu>("MenuItemExtra")->menuAction()->isVisible()) << "not an in-house workstation";
}

TEST_F(ConsoleTest, TheExtraMenuIsShownOnlyInTheInHouseDomain) {
    console->DnsDomain = [] { return std::string("lab.veltrask.com"); };
    AnswerDialog(false);
    Start();
    EXPECT_TRUE(Find<QMenu>("MenuItemExtra")->menuAction()->isVisible());
}

TEST_F(ConsoleTest, AFailedOpenIsLoggedAndBoxedAndNotStored) {
    Preset("Connection", "tcp:192.168.1.253:2500");
    // Nothing listens on loopback port 1: the connect is refused at once.
    AnswerDialog(true, [](TFormOpenCom& dialog) {
        dialog.findChild<QLineEdit*>("EditHost")->setText("127.0.0.1");
        dialog.findChild<QLineEdit*>("EditTcpport")->setText("1");
    });
    Start();
    // The line begins as it always did and says why.
    const std::string expected = "Opening tcp:127.0.0.1:1 failed. Connection refused.";
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().kind, "error");
    EXPECT_EQ(boxes.boxes.back().text, expected);
    ASSERT_TRUE(LogHas(expected));
    EXPECT_EQ(LogColours().back(), LogColours::Error);
    EXPECT_EQ(Stored("Connection").toString(), "tcp:192.168.1.253:2500");
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "C&onnect");
}

TEST_F(ConsoleTest, ASuccessfulOpenStoresTheStringAndTheConversationIsLogged) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    ASSERT_TRUE(console->Session().Connected());
    EXPECT_EQ(Stored("Connection").toString().toStdString(), Tcp(amp));
    EXPECT_EQ(console->windowTitle().toStdString(), Tcp(amp));
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "Disc&onnect");
    EXPECT_TRUE(LogTexts().at(0).rfind("Connected to \"" + Tcp(amp) + "\". Time=", 0) == 0)
        << LogTexts().at(0);
    Type("ECHO  padded \r");
    ASSERT_TRUE(Until([&] { return LogTexts().size() >= 3; }));
    EXPECT_EQ(LogTexts()[1], "Tx: ECHO  padded") << "the echo is trimmed";
    EXPECT_EQ(LogTexts()[2], "Rx: padded") << "the CR and blanks are trimmed";
    EXPECT_EQ(LogColours()[1], LogColours::Tx);
    EXPECT_EQ(LogColours()[2], LogColours::Rx);
    EXPECT_EQ(Find<QLabel>("LabelLastRx")->text(), "padded");
    EXPECT_TRUE(Find<QLineEdit>("EditRawIn")->text().isEmpty());
    // Every line carries its time stamp.
    EXPECT_EQ(std::string(console->Log()->Lines().Text(1)).substr(0, 1), "[");
}

TEST_F(ConsoleTest, HistoryRecallsDistinctCommandsWithUpAndDown) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    for (const char* command : {"ECHO A", "ECHO B", "ECHO A"})
        Type(command);
    ASSERT_TRUE(Until([&] { return LogTexts().size() == 7; })) << "connected line, three Tx and three Rx";
    auto* edit = Find<QLineEdit>("EditRawIn");
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "ECHO A");
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "ECHO B");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "ECHO A");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "ECHO A");
    EXPECT_EQ(edit->cursorPosition(), edit->text().size());
    // Enter on an empty line sends nothing.
    size_t before = LogTexts().size();
    edit->clear();
    QTest::keyClick(edit, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(LogTexts().size(), before);
}

// The session times the replies; the Connection menu shows the times and the statistics, and a
// double click on them starts the statistics afresh.
TEST_F(ConsoleTest, ReplyTimesAndStatisticsAreShownFromTheConnectionMenu) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Find<QAction>("miShowReplyTimes")->setChecked(true);
    Type("STATUS?");
    ASSERT_TRUE(Until([&] { return LogTexts().back().rfind("#ReplyTime=", 0) == 0; }));
    EXPECT_EQ(console->Session().Statistics().Count(), 1u);
    EXPECT_FALSE(Find<QLabel>("LabelSpeed")->isVisibleTo(console.get()));
    Find<QAction>("miShowReplyStatistics")->trigger();
    EXPECT_TRUE(Find<QLabel>("LabelSpeed")->isVisibleTo(console.get()));
    EXPECT_EQ(Stored("ShowReplyStatistics").toInt(), 1);
    QTest::mouseDClick(Find<QLabel>("LabelSpeed"), Qt::LeftButton);
    EXPECT_EQ(console->Session().Statistics().Count(), 0u);
    EXPECT_EQ(Find<QLabel>("LabelSpeed")->text(), "000/000/0000ms");
}

// The escapes box reaches the send path and is remembered.
TEST_F(ConsoleTest, TheEscapesBoxSendsEscapesAsBytes) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Find<QCheckBox>("CheckBoxEscapes")->click();
    EXPECT_EQ(Stored("Escapes").toInt(), 1);
    Type("ECHO a\\x41b");
    EXPECT_TRUE(Until([&] { return LogHas("Rx: aAb"); }));
}

// Hex input and the hex view, switched by their controls and remembered: typed hex goes out as
// exactly its bytes (the line end is the typed 0A), the history keeps what was typed, the reply's
// control bytes (and the CR before the simulator's LF) show in hex, and typed hex that is not hex
// stays and is explained.
TEST_F(ConsoleTest, HexInputSendsTheTypedBytesAndTheHexViewShowsThem) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Find<QAction>("miShowHex")->trigger();
    Find<QAction>("ActionHexIn")->trigger();
    EXPECT_EQ(Stored("ShowHex").toInt(), 1);
    EXPECT_EQ(Stored("HexInput").toInt(), 1);
    const std::string typed = "45 43 48 4f 20 02 41 03 0A"; // ECHO, the bytes 02 41 03, LF
    Type(typed);
    ASSERT_TRUE(Until([&] {
        return LogHas(std::string("Rx: \x02"
                                  "A\x03\r"));
    }));
    EXPECT_TRUE(LogHas(std::string("Tx: ECHO \x02"
                                   "A\x03")));
    EXPECT_EQ(console->History().Entries().back(), typed);
    TLogView* log = console->Log();
    EXPECT_TRUE(
        log->ShownText(static_cast<qint64>(log->Lines().Count()) - 1).ends_with("] Rx: 02 41 03 0D  .A.."));

    Type("45 4G");
    EXPECT_EQ(console->statusBar()->currentMessage(), "Hex input: 'G' at column 5 is not a hex digit");
    EXPECT_EQ(Find<QLineEdit>("EditRawIn")->text(), "45 4G");
}

TEST_F(ConsoleTest, PingPongAndRepeatExcludeEachOther) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    auto* repeat = Find<QCheckBox>("CheckBoxTxRep");
    auto* pingPong = Find<QCheckBox>("CheckBoxPingPong");
    auto* timer = console->findChild<QTimer*>("TimerTxRep");
    Find<QLineEdit>("EditRawIn")->setText("ECHO ping");
    repeat->click();
    EXPECT_TRUE(repeat->isChecked());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 500);
    pingPong->click();
    EXPECT_TRUE(pingPong->isChecked());
    EXPECT_FALSE(repeat->isChecked());
    EXPECT_FALSE(timer->isActive());
    // Ping-pong sends again on every reply.
    ASSERT_TRUE(Until([&] {
        int rx = 0;
        for (const auto& line : LogTexts())
            rx += line == "Rx: ping";
        return rx >= 20;
    }));
    repeat->click();
    EXPECT_TRUE(repeat->isChecked());
    EXPECT_FALSE(pingPong->isChecked());
    repeat->click();
    EXPECT_FALSE(timer->isActive());
    // A change of the interval applies the settings and ends ping-pong too.
    pingPong->click();
    Find<QSpinBox>("UpDownTxRep")->setValue(20);
    EXPECT_FALSE(pingPong->isChecked());
    EXPECT_EQ(timer->interval(), 20);
}

// Without automatic reconnect nothing brings the link back: the button offers Connect again.
TEST_F(ConsoleTest, ThePeerDroppingTheLinkShowsItClosedAndNothingSendsOn) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    auto* repeat = Find<QCheckBox>("CheckBoxTxRep");
    Find<QSpinBox>("UpDownTxRep")->setValue(5000);
    repeat->click();
    Type("DROP");
    ASSERT_TRUE(Until([&] { return LogHas("disconnected. The peer closed the connection."); }));
    // The half-sent line is kept, marked; the repeat is off, and a send says it did not go out.
    EXPECT_TRUE(LogHas("Rx: PARTIAL (incomplete)"));
    EXPECT_FALSE(repeat->isChecked());
    EXPECT_FALSE(console->findChild<QTimer*>("TimerTxRep")->isActive());
    const size_t before = LogTexts().size();
    console->SetRawInText("STATUS?");
    EXPECT_FALSE(console->ButtonRawSendClick(nullptr));
    ASSERT_EQ(LogTexts().size(), before + 1);
    EXPECT_EQ(LogTexts().back(), "Not sent: not connected.");
    EXPECT_EQ(console->windowTitle(), "disconnected");
    EXPECT_EQ(Find<QPushButton>("ButtonConnDisconn")->text(), "C&onnect");
    EXPECT_TRUE(Find<QAction>("MenuItemConnect")->isEnabled());
}

// A place stored on a larger screen must not put part of the window off this one.
TEST_F(ConsoleTest, AStoredPlaceBeyondTheScreenIsKeptWithinIt) {
    Preset("WindowPosLeft", 1500);
    Preset("WindowPosTop", -40);
    Preset("WindowWidth", 2200);
    Preset("WindowHeight", 1400);
    AnswerDialog(false);
    Start();
    const QRect area = console->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(console->frameGeometry()))
        << console->frameGeometry().width() << "x" << console->frameGeometry().height();
}

// QSpinBox refuses the digit that passes the maximum, which turned 10000 into 1000 unseen.
TEST_F(ConsoleTest, ARepeatIntervalTypedAboveTheMaximumBecomesTheMaximum) {
    AnswerDialog(false);
    Start();
    auto* box = Find<QSpinBox>("UpDownTxRep");
    box->selectAll();
    QTest::keyClicks(box, "10000");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->value(), box->maximum());
    EXPECT_EQ(Find<QLineEdit>("EditTxRep")->text(), QString::number(box->maximum()));
    EXPECT_EQ(console->findChild<QTimer*>("TimerTxRep")->interval(), box->maximum());
}

// The operator's Disconnect ends repeat and ping-pong as a drop does: nothing goes on sending
// into a closed link.
TEST_F(ConsoleTest, DisconnectEndsRepeatAndPingPong) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Find<QSpinBox>("UpDownTxRep")->setValue(1);
    Find<QLineEdit>("EditRawIn")->setText("ECHO x");
    auto* connect = Find<QPushButton>("ButtonConnDisconn");
    for (const char* name : {"CheckBoxTxRep", "CheckBoxPingPong"}) {
        if (!console->Session().Connected()) {
            AnswerDialog(true);
            connect->click();
        }
        ASSERT_TRUE(console->Session().Connected()) << name;
        Find<QCheckBox>(name)->click();
        ASSERT_TRUE(Until([&] { return LogHas("Rx: x"); })) << name;
        connect->click();
        EXPECT_FALSE(Find<QCheckBox>(name)->isChecked()) << name;
        EXPECT_FALSE(console->findChild<QTimer*>("TimerTxRep")->isActive()) << name;
        console->Log()->Clear();
    }
}

TEST_F(ConsoleTest, CloseStoresGeometryOnlyInTheNormalState) {
    Preset("WindowPosLeft", 11);
    Preset("WindowWidth", 800);
    AnswerDialog(false);
    Start();
    console->showMaximized();
    QApplication::processEvents();
    console->close();
    EXPECT_EQ(Stored("WindowPosLeft").toInt(), 11);
    EXPECT_EQ(Stored("WindowWidth").toInt(), 800);
    EXPECT_EQ(Stored("ButtonTableHeight").toInt(), Find<QGroupBox>("GroupBoxTx")->height());
}

TEST_F(ConsoleTest, SendWhileClosedAsksForAConnectionFirst) {
    AnswerDialog(false);
    Start();
    AnswerDialog(false);
    Find<QLineEdit>("EditRawIn")->setText("STATUS?");
    Find<QPushButton>("ButtonRawSend")->click();
    EXPECT_TRUE(LogTexts().empty()) << "cancelled: nothing sent, nothing logged";
    AmpsimProcess amp;
    AnswerDialog(true, [&](TFormOpenCom& dialog) {
        dialog.findChild<QLineEdit*>("EditHost")->setText("127.0.0.1");
        dialog.findChild<QLineEdit*>("EditTcpport")->setText(QString::number(amp.TcpPort()));
    });
    Find<QPushButton>("ButtonRawSend")->click();
    ASSERT_TRUE(Until([&] { return LogTexts().size() >= 3; }));
    EXPECT_EQ(LogTexts()[1], "Tx: STATUS?");
    EXPECT_EQ(LogTexts()[2].rfind("Rx: STATUS OK", 0), 0u);
    EXPECT_EQ(Find<QLineEdit>("EditRawIn")->text(), "STATUS?") << "the Send button keeps the line";
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxExpectRx")->isChecked()) << "the line ends in '?'";
}

// Off by default and not written until the operator switches it; the menu item switches the log
// and remembers the choice. The high-byte choice (2) comes from the settings and survives
// switching off and on again.
TEST_F(ConsoleTest, ShowControlCharactersIsAConnectionMenuItemRememberedInTheSettings) {
    AnswerDialog(false);
    Start();
    auto* item = Find<QAction>("miShowControlChars");
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(Find<QMenu>("MenuItemConnection")->actions().contains(item));
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(console->Log()->ShownControlChars(), ControlCharMode::Off);
    EXPECT_FALSE(Stored("ShowControlChars").isValid());

    item->trigger();
    EXPECT_EQ(console->Log()->ShownControlChars(), ControlCharMode::Controls);
    EXPECT_TRUE(console->Session().KeepsControlBytes()) << "lines are logged with every byte";
    EXPECT_EQ(Stored("ShowControlChars").toInt(), 1);
    item->trigger();
    EXPECT_EQ(console->Log()->ShownControlChars(), ControlCharMode::Off);
    EXPECT_EQ(Stored("ShowControlChars").toInt(), 0);
}

TEST_F(ConsoleTest, StoredShowControlCharactersWithHighBytesIsShownAtStartAndKept) {
    Preset("ShowControlChars", 2);
    AnswerDialog(false);
    Start();
    auto* item = Find<QAction>("miShowControlChars");
    EXPECT_TRUE(item->isChecked());
    EXPECT_EQ(console->Log()->ShownControlChars(), ControlCharMode::ControlsAndHigh);
    item->trigger();
    item->trigger();
    EXPECT_EQ(console->Log()->ShownControlChars(), ControlCharMode::ControlsAndHigh);
    EXPECT_EQ(Stored("ShowControlChars").toInt(), 2);
}

TEST_F(ConsoleTest, CtrlFOpensTheFindBarAndEnterSelectsTheMatchingLine) {
    AnswerDialog(false);
    Start();
    console->AddLogLine("STATUS?", LogColours::Tx);
    console->AddLogLine("STATUS OK TEMP=38C", LogColours::Rx);
    console->AddLogLine("STATUS?", LogColours::Tx);
    // The cancelled connection dialog stays the active window on the offscreen platform.
    QApplication::setActiveWindow(console.get());
    auto* edit = Find<QLineEdit>("EditFind");
    ASSERT_FALSE(edit->isVisible());
    QTest::keyClick(console->Log(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(edit->isVisible());
    QTest::keyClicks(edit, "temp=");
    QTest::keyClick(edit, Qt::Key_Return);
    const std::vector<std::string> texts = LogTexts();
    const auto line = static_cast<qint64>(
        std::find_if(texts.begin(), texts.end(),
                     [](const std::string& text) { return text.find("TEMP=38C") != std::string::npos; }) -
        texts.begin());
    ASSERT_TRUE(Until([&] { return console->Log()->HasSelection(); }));
    EXPECT_EQ(console->Log()->SelectionFirst(), line);
    EXPECT_EQ(console->Log()->SelectionLast(), line);
    EXPECT_TRUE(Until([&] { return Find<QLabel>("LabelFindStatus")->text() == "1 of 1"; }))
        << FromQt(Find<QLabel>("LabelFindStatus")->text());
}

// The Help menu comes last. Its texts are files found from the program's folder (the build tree
// holds them where an install does), each item its own, and a missing one is named in an error
// box; About names the version and a README that is there.
TEST_F(ConsoleTest, TheHelpMenuShowsItsTextFilesAndAboutNamesTheReadme) {
    AnswerDialog(false);
    Start();
    const QList<QAction*> menus = console->menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(menus.back(), Find<QMenu>("MenuItemHelp")->menuAction());
    Find<QAction>("miKeyboard")->trigger(); // the fixture's program folder holds no texts
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_NE(boxes.boxes[0].text.find("help/keyboard.txt"), std::string::npos) << boxes.boxes[0].text;
    EXPECT_EQ(Find<QDialog>("HelpViewer"), nullptr);

    console->ExeDir = [] { return std::string(CORVANE_BIN_DIR); };
    const std::pair<const char*, const char*> items[] = {{"miBatchLanguage", "#EXPECT text [ms]"},
                                                         {"miKeyboard", "Ctrl+R"}};
    for (const auto& [item, line] : items) {
        Find<QAction>(item)->trigger();
        ASSERT_NE(Find<QDialog>("HelpViewer"), nullptr) << item;
        EXPECT_TRUE(Find<QDialog>("HelpViewer")->isVisible()) << item;
        EXPECT_TRUE(Find<QPlainTextEdit>("HelpText")->toPlainText().contains(line)) << item;
    }
    Find<QAction>("miAbout")->trigger();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    const std::string& about = boxes.boxes.back().text;
    EXPECT_NE(about.find("Corvane " CORVANE_VERSION), std::string::npos) << about;
    const size_t at = about.find("The README: ");
    ASSERT_NE(at, std::string::npos) << about;
    EXPECT_TRUE(QFileInfo(PathToQt(about.substr(at + 12))).isFile()) << about;
}
