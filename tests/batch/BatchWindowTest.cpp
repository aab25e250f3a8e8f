// The batch window with the console, headless, against the simulated amplifier over loopback and
// the simulated GPIB driver.
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "app/Wiring.h"
#include "batch/Fbatchsend.h"
#include "console/LogTexts.h"
#include "platform/QtPlatform.h"
#include "text/Strtools.h"

#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

namespace {
std::string Tcp(const AmpsimProcess& amp) {
    return "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
}

class BatchWindowTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        FormBatchSend = new TFormBatchSend(console.get());
        WireBatchToConsole(*console, *FormBatchSend);
        batch = FormBatchSend;
        memo = batch->findChild<QPlainTextEdit*>("Memo1");
        rewind = batch->findChild<QPushButton*>("ButtonRewind");
        next = batch->findChild<QPushButton*>("ButtonNext");
    }

    void Script(const QString& text) { memo->setPlainText(text); }
    // Shows the window from the console, starts and runs the first line at once.
    void RunFromConsole() {
        Find<QPushButton>("ButtonSendBatch")->click();
        rewind->click();
        next->click();
    }
    // Only replies and owed steps move the run from here on, whatever the machine's speed.
    void StopDriveTimer() { batch->findChild<QTimer*>("TimerBatchDrive")->stop(); }
    bool Idle() const { return !batch->Runner().Running(); }
    std::vector<std::string> Sent() const {
        std::vector<std::string> sent;
        for (const std::string& line : LogTexts()) {
            if (line.rfind("Tx: ", 0) == 0) sent.push_back(line.substr(4));
        }
        return sent;
    }
    std::string File(const char* name, const QByteArray& content) {
        QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return FromQt(path);
    }

    TFormBatchSend* batch = nullptr;
    QPlainTextEdit* memo = nullptr;
    QPushButton* rewind = nullptr;
    QPushButton* next = nullptr;
};

using Texts = std::vector<std::string>;

TEST_F(BatchWindowTest, ARunIsPacedByRepliesOneLineEachBusyRepliesIncluded) {
    AmpsimProcess amp({"--busy-every", "2"});
    StartWith(Tcp(amp));
    ASSERT_TRUE(console->Session().Connected());
    console->Log()->Clear();
    Script("MULTI? 3\nECHO a\n\nECHO b\nECHO c\nECHO d");
    Find<QPushButton>("ButtonSendBatch")->click();
    ASSERT_TRUE(batch->isVisible());
    rewind->click();
    EXPECT_EQ(rewind->text(), "&Stop");
    EXPECT_TRUE(next->isEnabled());
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Button));
    next->click();
    ASSERT_TRUE(Until([&] { return LogHas("Rx: d"); }));
    // Each received line runs the next line (from the event loop, once the line is logged): every
    // script line goes out once, in order, and the n-th only after n replies.
    Texts sent;
    size_t received = 0;
    for (const auto& text : LogTexts()) {
        if (text.rfind("Rx: ", 0) == 0) ++received;
        if (text.rfind("Tx: ", 0) != 0) continue;
        EXPECT_GE(received, sent.size()) << text;
        sent.push_back(text);
    }
    EXPECT_EQ(sent, (Texts{"Tx: MULTI? 3", "Tx: ECHO a", "Tx: ECHO b", "Tx: ECHO c", "Tx: ECHO d"}));
    EXPECT_EQ(LogTexts().front(), "#Begin Batch.");
    EXPECT_EQ(received, 7u);
    EXPECT_EQ(LogColours().front(), LogColours::WindowText);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(rewind->text(), "&Start");
    EXPECT_FALSE(next->isEnabled());
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(memo->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    EXPECT_TRUE(console->History().Entries().empty()) << "the runner's lines stay out of the history";
}

TEST_F(BatchWindowTest, AReplyDuringADelayCutsItShort) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Script("MULTI? 2\n#DELAY 600000\nECHO done");
    RunFromConsole();
    ASSERT_TRUE(Until([&] { return LogHas("Rx: done"); }));
    EXPECT_TRUE(LogHas("Delaying 600000 ms..."));
    EXPECT_TRUE(Idle());
}

// A script line beyond Latin-1 is shown as written and refused as a typed one is; the run goes on.
TEST_F(BatchWindowTest, ALineBeyondLatin1IsShownAsWrittenAndRefused) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    ASSERT_TRUE(batch->LoadScript(File("ohm.txt", "ECHO 5 \xce\xa9\nECHO 5 \xc3\xa9\n")));
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("ECHO 5 \xce\xa9\nECHO 5 \xc3\xa9"));
    RunFromConsole();
    ASSERT_TRUE(Until([&] { return Idle(); })) << ::testing::PrintToString(LogTexts());
    EXPECT_TRUE(LogHas(NotLatin1Text(0x3A9)));
    EXPECT_EQ(Sent(), Texts{"ECHO 5 \xe9"});
}

TEST_F(BatchWindowTest, AHiddenWindowGetsNoLinesAndShowingItAgainRewinds) {
    AmpsimProcess amp;
    StartWith(Tcp(amp));
    Script("ECHO x\nECHO y\nECHO z");
    Find<QPushButton>("ButtonSendBatch")->click();
    rewind->click();
    StopDriveTimer();
    batch->close(); // hides; the run goes on
    ASSERT_FALSE(batch->isVisible());
    batch->ButtonNextClick();
    ASSERT_TRUE(Until([&] { return LogHas("Rx: x"); }));
    EXPECT_EQ(Sent(), Texts{"ECHO x"});
    EXPECT_EQ(batch->CurrentLine(), 1);
    EXPECT_TRUE(batch->Runner().Running());

    Find<QPushButton>("ButtonSendBatch")->click(); // shown again: on from the first line
    EXPECT_EQ(batch->CurrentLine(), 0);
    Type("ECHO again");
    ASSERT_TRUE(Until([&] { return Sent().size() >= 3; }));
    Texts sent = Sent();
    sent.resize(3);
    EXPECT_EQ(sent, (Texts{"ECHO x", "ECHO again", "ECHO x"}));
}

TEST_F(BatchWindowTest, RepliesReadInsideTheGpibSendAdvanceOnceEachWithoutNesting) {
    ::setenv("CORVANE_GPIBSIM_DEVICES", "0:7", 1);
    StartWith("gpib:0,7:Simulator");
    ASSERT_TRUE(console->Session().Connected());
    Script("ECHO one?\nECHO two?\nECHO three?");
    RunFromConsole();
    StopDriveTimer();
    ASSERT_TRUE(Until([&] { return Idle(); })) << ::testing::PrintToString(LogTexts());
    EXPECT_EQ(Sent(), (Texts{"ECHO one?", "ECHO two?", "ECHO three?"}));
    EXPECT_TRUE(LogHas("Rx: three?"));
}

TEST_F(BatchWindowTest, IdleAndFailedStartsChangeNothing) {
    Script("#DELAY 5\n#LABEL a\n\n#LABEL a");
    batch->ButtonNextClick(); // Next while idle
    EXPECT_TRUE(LogTexts().empty());
    rewind->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Duplicate label a in line 4");
    EXPECT_EQ(FromQt(memo->textCursor().selectedText()), "#LABEL a");
    EXPECT_EQ(memo->document()->findBlock(memo->textCursor().selectionStart()).blockNumber(), 3);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(rewind->text(), "Start");
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(BatchWindowTest, APromptAnsweredNoStopsTheRun) {
    Script("#PROMPT Power up?\nSTATUS?");
    boxes.answers = {false};
    rewind->click();
    next->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "confirm");
    EXPECT_EQ(boxes.boxes[0].text, "Power up?");
    EXPECT_EQ(LogTexts(), (Texts{"#Begin Batch.", "Power up?", "#End Batch: stopped."}));
    EXPECT_EQ(LogColours()[1], LogColours::Status);
    EXPECT_TRUE(Idle());
}

TEST_F(BatchWindowTest, LoadingIsRefusedDuringARunAndFilesRoundTrip) {
    std::string first = File("first.txt", "ECHO 1\r\n#END\r\n");
    std::string second = File("second.txt", "A\nB\xe9\rC");
    batch->Save1Click(); // no file name known yet
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.rfind("Cannot create file \"\".", 0), 0u) << boxes.boxes[0].text;
    EXPECT_EQ(batch->windowTitle(), "Batch Send");

    Script("#DELAY 600000");
    rewind->click();
    EXPECT_FALSE(batch->LoadScript(first));
    EXPECT_EQ(boxes.boxes.back().text, "Batch is running!");
    EXPECT_EQ(memo->toPlainText(), "#DELAY 600000");
    rewind->click(); // Stop
    EXPECT_TRUE(Idle());

    // Two files dropped at once: each is loaded in turn, the last one stays.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(ToQt(first)), QUrl::fromLocalFile(ToQt(second))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(batch, &enter);
    QApplication::sendEvent(batch, &drop);
    EXPECT_EQ(memo->toPlainText(), QString::fromLatin1("A\nB\xe9\nC"));
    EXPECT_EQ(FromQt(batch->windowTitle()), second);

    std::string saved = FromQt(dir.filePath("saved.txt"));
    ASSERT_TRUE(batch->SaveScript(saved));
    QFile file(ToQt(saved));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("A\r\nB\xe9\r\nC\r\n"));
    batch->Save1Click(); // now under the last name
    EXPECT_EQ(FromQt(batch->windowTitle()), saved);
    EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(BatchWindowTest, CtrlClickedCommandsAreInsertedBelowInOrderOnlyWhileShown) {
    console->SendFromButton("HIDDEN", true);
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    Find<QPushButton>("ButtonSendBatch")->click();
    console->SendFromButton("FIRST", true);
    EXPECT_EQ(memo->toPlainText(), "FIRST");
    Script("A\nB\nC");
    QTextCursor cursor(memo->document()->findBlockByNumber(0));
    memo->setTextCursor(cursor);
    console->SendFromButton("X", true);
    console->SendFromButton("Y", true);
    EXPECT_EQ(memo->toPlainText(), "A\nX\nY\nB\nC");
    EXPECT_EQ(FromQt(memo->textCursor().selectedText()), "Y");
    memo->moveCursor(QTextCursor::End);
    console->SendFromButton("Z", true);
    EXPECT_EQ(memo->toPlainText(), "A\nX\nY\nB\nC\nZ");
}

TEST_F(BatchWindowTest, AScriptNamedOnTheCommandLineIsLoadedAndShownBeforeTheConnectionDialog) {
    std::string path = File("start.txt", "STATUS?\n");
    console->SetStartScript(path);
    bool shownAtDialog = false;
    AnswerDialog(false, [&](TFormOpenCom&) { shownAtDialog = batch->isVisible(); });
    Start();
    EXPECT_TRUE(shownAtDialog);
    EXPECT_EQ(memo->toPlainText(), "STATUS?");
    EXPECT_EQ(FromQt(batch->windowTitle()), path);
    EXPECT_TRUE(Idle()) << "only the operator's Start begins a run";
}

TEST_F(BatchWindowTest, HelpShowsTheControlCommands) {
    batch->Help1Click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "information");
    const std::string& text = boxes.boxes[0].text;
    EXPECT_TRUE(text.starts_with("Add lines with amplifier commands here.\nValid batch control commands:\n"
                                 "  #PROMPT <MessageBox Text>\n  #LABEL <LabelName>\n  #GOTO <LabelName>\n"
                                 "  #DELAY <MilliSecs>\n  #END\n  #EXPECT <Text> [MilliSecs]"))
        << text;
    EXPECT_NE(text.find("\n  #BREAK <MilliSecs>"), std::string::npos) << text;
}
} // namespace

TEST_F(BatchWindowTest, ClosingTheConsoleEndsTheProgramWhileTheBatchWindowIsOpen) {
    AnswerDialog(false);
    Start();
    Find<QPushButton>("ButtonSendBatch")->click();
    ASSERT_TRUE(batch->isVisible());
    // The program's loop ends by itself once the console is closed; the guard ends it otherwise.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(7); });
    guard.start(5000);
    QTimer::singleShot(0, console.get(), [this] { console->close(); });
    int result = QApplication::exec();
    guard.stop();
    EXPECT_EQ(result, 0);
}

namespace {
// Answers the prompt only after a line that the instrument sends meanwhile has been logged, as an
// operator who reads the log before pressing Yes.
class PromptWatchingTheLog : public ModalBoxes {
public:
    PromptWatchingTheLog(PtyPair& pty, std::function<bool()> lateLineLogged)
        : pty_(pty), lateLineLogged_(std::move(lateLineLogged)), previous_(SetBoxes(this)) {}
    ~PromptWatchingTheLog() override { SetBoxes(previous_); }
    void Error(const std::string&, const std::string&) override {}
    void Information(const std::string&, const std::string&) override {}
    bool InputQuery(const std::string&, const std::string&, std::string&) override { return false; }
    bool Confirm(const std::string&, const std::string&) override {
        ++prompts;
        pty_.Write("late\n");
        QElapsedTimer timer;
        timer.start();
        while (!lateLineLogged_() && timer.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        seenWhileOpen = lateLineLogged_();
        return true;
    }
    int prompts = 0;
    bool seenWhileOpen = false;

private:
    PtyPair& pty_;
    std::function<bool()> lateLineLogged_;
    ModalBoxes* previous_;
};

TEST_F(BatchWindowTest, APromptNeverHoldsUpTheReader) {
    PtyPair pty;
    StartWith("com:" + pty.SlavePath());
    ASSERT_TRUE(console->Session().Connected()) << testing::PrintToString(LogTexts());
    PromptWatchingTheLog prompt(pty, [this] { return LogHas("Rx: late"); });
    Script("FIRST\n#PROMPT Go on?\nSECOND");
    RunFromConsole();
    EXPECT_EQ(pty.ReadLine(), "FIRST\n");
    pty.Write("r1\n");
    ASSERT_TRUE(Until([&] { return prompt.prompts == 1; }));
    EXPECT_TRUE(prompt.seenWhileOpen) << "a line that came while the prompt was open is logged at once";
}
} // namespace

TEST_F(BatchWindowTest, WithReconnectARunWaitsForTheLinkAndGoesOnWhenItIsBack) {
    auto amp = std::make_unique<AmpsimProcess>();
    const int port = amp->TcpPort();
    Preset("ReconnectAutomatically", 1);
    StartWith(Tcp(*amp));
    Script("ECHO a\n#DELAY 600000\nECHO b");
    RunFromConsole();
    ASSERT_TRUE(Until([&] { return LogHas("Delaying 600000 ms..."); }));
    auto* drive = batch->findChild<QTimer*>("TimerBatchDrive");

    amp.reset();
    ASSERT_TRUE(Until([&] { return LogHas("Batch paused: the connection was lost."); }));
    EXPECT_FALSE(Idle());
    EXPECT_FALSE(drive->isActive());

    amp = std::make_unique<AmpsimProcess>(
        std::vector<std::string>{"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(amp->Ready()) << amp->Error();
    ASSERT_TRUE(
        Until([&] { return console->Session().Connected() && !console->Session().Reconnecting(); }, 30000));
    EXPECT_TRUE(LogHas("Batch goes on."));
    EXPECT_FALSE(Idle());
    EXPECT_TRUE(drive->isActive());
    EXPECT_FALSE(LogHas("Batch stopped: the connection was lost."));
    next->click(); // the delay given up by hand: the run goes on over the new link
    ASSERT_TRUE(Until([&] { return LogHas("Rx: b"); }));
}
