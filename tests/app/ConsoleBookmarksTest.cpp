// The command-button field in the console: the file chosen at the first activation, clicks sent
// through the console's send path to the simulated amplifier, Ctrl+click into the batch window.
#include "ConsoleFixture.h"
#include "ModalAnswers.h"
#include "app/Wiring.h"
#include "batch/Fbatchsend.h"
#include "connection/TraceIo.h"
#include "platform/QtPlatform.h"
#include "text/BookmarkTabs.h"
#include "text/Bookmarks.h"
#include "text/Fbuttonfield.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace {
const std::string AmpFile = "[Main]\r\nSTATUS?\r\nSET FREQ <?f:100>\r\nECHO <?text:hello>\r\n";

class ConsoleBookmarksTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        program = PathFromQt(dir.filePath("program"));
        ::mkdir(program.c_str(), 0755);
        console->ExeDir = [this] { return program; };
    }
    void TearDown() override {
        SetTraceStream(nullptr);
        if (trace) std::fclose(trace);
        ConsoleTest::TearDown();
    }

    std::string Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string ProgramFile() const { return program + "/Bookmarks.txt"; }
    TFrameButtonField* Field() const { return console->ButtonField(); }
    std::vector<std::string> Tabs() const {
        std::vector<std::string> tabs;
        for (int i = 0; i < Field()->PageControlBookmarks->count(); ++i)
            tabs.push_back(FromQt(Field()->PageControlBookmarks->tabText(i)));
        return tabs;
    }
    // The command button captioned caption.
    QPushButton* Button(const std::string& caption) const {
        for (auto* button : Field()->findChildren<TBookmarkButton*>())
            if (FromQt(button->text()) == caption) return button;
        return nullptr;
    }
    void Click(const std::string& caption, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QPushButton* button = Button(caption);
        ASSERT_NE(button, nullptr) << caption;
        QTest::mouseClick(button, Qt::LeftButton, modifiers);
    }
    // Starts against the simulator with the program's own bookmark file.
    void StartOnAmp() {
        ASSERT_TRUE(amp.Ready()) << amp.Error();
        Write(ProgramFile(), AmpFile);
        // The raw trace shows the bytes as they went out, line end included.
        trace = std::tmpfile();
        SetTraceStream(trace);
        StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
        ASSERT_TRUE(Until([this] { return console->Session().Connected(); }));
    }
    bool LogStartsWith(const std::string& prefix) const {
        for (const auto& line : LogTexts())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }
    size_t LogCount(const std::string& text) const {
        size_t n = 0;
        for (const auto& line : LogTexts())
            n += line == text;
        return n;
    }
    std::string Trace() const {
        std::fflush(trace);
        std::string text;
        std::rewind(trace);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, trace)) > 0)
            text.append(buffer, n);
        return text;
    }

    AmpsimProcess amp;
    std::string program;
    std::FILE* trace = nullptr;
    std::vector<PromptSeen> asked;
};

TEST_F(ConsoleBookmarksTest, AClickOnStatusGetsTheSimulatorsReplyInTheLog) {
    StartOnAmp();
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Main"});
    Click("STATUS?");
    EXPECT_TRUE(Until([this] { return LogStartsWith("Rx: STATUS OK"); }));
    EXPECT_TRUE(LogHas("Tx: STATUS?"));
    ASSERT_FALSE(console->History().Entries().empty());
    EXPECT_EQ(console->History().Entries().back(), "STATUS?");
}

TEST_F(ConsoleBookmarksTest, TheAnsweredPromptIsSentWithOneLineFeed) {
    StartOnAmp();
    AnswerPrompt(console.get(), "250", &asked);
    Click("SET FREQ ...");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].name, "f");
    EXPECT_EQ(asked[0].value, "100");
    EXPECT_TRUE(Until([this] { return LogHas("Rx: ERROR_UNKNOWN_COMMAND"); }));
    EXPECT_TRUE(LogHas("Tx: SET FREQ 250"));
    // The trace names the direction only when it changes, so the text alone is looked for.
    std::string sent = Trace();
    EXPECT_NE(sent.find("SET FREQ 250\\x0a"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("SET FREQ 250\\x0a\\x0a"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("SET FREQ 250\\x0d"), std::string::npos) << sent;

    AnswerPrompt(console.get(), "from a button", &asked);
    Click("ECHO ...");
    EXPECT_TRUE(Until([this] { return LogHas("Rx: from a button"); }));
}

TEST_F(ConsoleBookmarksTest, ACancelledPromptSendsNothing) {
    StartOnAmp();
    AnswerPrompt(console.get(), std::nullopt, &asked);
    Click("SET FREQ ...");
    ASSERT_EQ(asked.size(), 1u);
    // The next command's reply comes after anything the cancelled one could have sent.
    Click("STATUS?");
    ASSERT_TRUE(Until([this] { return LogStartsWith("Rx: STATUS OK"); }));
    for (const auto& line : LogTexts()) {
        EXPECT_EQ(line.find("SET FREQ"), std::string::npos) << line;
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
    }
    EXPECT_EQ(Trace().find("SET FREQ"), std::string::npos);
}

TEST_F(ConsoleBookmarksTest, AClickWithoutAConnectionConnectsFirst) {
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    Write(ProgramFile(), AmpFile);
    Preset("Connection", ToQt("tcp:127.0.0.1:" + std::to_string(amp.TcpPort())));
    AnswerDialog(false);
    Start();
    ASSERT_FALSE(console->Session().Connected());
    AnswerDialog(true);
    Click("STATUS?");
    EXPECT_TRUE(Until([this] { return LogStartsWith("Rx: STATUS OK"); }));
}

TEST_F(ConsoleBookmarksTest, CtrlClickPutsTheRawCommandIntoTheInputLineAndTheShownBatchScript) {
    auto* batch = new TFormBatchSend(console.get());
    WireBatchToConsole(*console, *batch);
    StartOnAmp();
    auto* script = batch->findChild<QPlainTextEdit*>("Memo1");

    // Hidden batch window: the input line only, nothing sent.
    Click("SET FREQ ...", Qt::ControlModifier);
    EXPECT_EQ(console->RawInText(), "SET FREQ <?f:100>");
    EXPECT_TRUE(script->toPlainText().isEmpty());

    batch->show();
    script->setPlainText("FIRST\nLAST");
    QTextCursor caret(script->document());
    caret.setPosition(0);
    script->setTextCursor(caret);
    Click("ECHO ...", Qt::ControlModifier);
    EXPECT_EQ(console->RawInText(), "ECHO <?text:hello>");
    EXPECT_EQ(script->toPlainText(), "FIRST\nECHO <?text:hello>\nLAST");
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(LogCount("Tx: ECHO <?text:hello>") + LogCount("Tx: SET FREQ <?f:100>"), 0u);
    batch->close();
}

TEST_F(ConsoleBookmarksTest, StartUpLoadsTheProgramsFileBeforeTheStoredOne) {
    std::string stored = Write(PathFromQt(dir.filePath("stored.txt")), "[Stored]\r\nS\r\n");
    Preset("BookmarkFile", PathToQt(stored));
    Write(ProgramFile(), "[Own]\r\nO\r\n");
    AnswerDialog(false);
    Start();
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Own"});
    EXPECT_EQ(Field()->FileName, ProgramFile());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConsoleBookmarksTest, StartUpLoadsTheStoredFileWhenTheProgramHasNone) {
    std::string stored = Write(PathFromQt(dir.filePath("stored.txt")), "[Stored]\r\nS\r\n");
    Preset("BookmarkFile", PathToQt(stored));
    AnswerDialog(false);
    Start();
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Stored"});
    EXPECT_EQ(Field()->FileName, stored);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConsoleBookmarksTest, StartUpAsksForAFileInTheProgramsFolderBeforeConnecting) {
    std::string chosen = Write(PathFromQt(dir.filePath("chosen.txt")), "[Chosen]\r\nC\r\n");
    FileDialogSeen seen;
    bool connectionDialogFirst = false;
    AnswerFileDialog(console.get(), chosen, &seen);
    AnswerDialog(false, [&](TFormOpenCom&) { connectionDialogFirst = !seen.shown; });
    boxes.answers = {true};
    Start();
    EXPECT_TRUE(seen.shown);
    EXPECT_FALSE(connectionDialogFirst);
    EXPECT_EQ(seen.title, "Open Command Button Bookmarks");
    EXPECT_EQ(seen.offered, ProgramFile());
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Chosen"});
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Automatically load this file on every program start?");
    EXPECT_EQ(Stored("BookmarkFile").toString(), PathToQt(chosen));
}
// Wiring: the console hands the field the sample found from its program's folder.
TEST_F(ConsoleBookmarksTest, AFirstStartOffersTheSampleBookmarksOfTheProgramsDataFolder) {
    const std::string sample = SampleBookmarksPath(program);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(PathToQt(sample)).path()));
    Write(sample, AmpFile);
    FileDialogSeen seen;
    AnswerFileDialog(console.get(), "", &seen);
    AnswerDialog(false);
    Start();
    EXPECT_EQ(seen.offered, sample);
    EXPECT_TRUE(Tabs().empty());
}
} // namespace
