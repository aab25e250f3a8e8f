// The console's extra tools, headless: the signed log save, Ctrl+Save through the navigator, the
// project-folder tool, and the two text tools with an editor of the test's own.
#include "ConsoleFixture.h"
#include "DialogTestHelpers.h"
#include "app/ConsoleTools.h"
#include "app/TestScriptTool.h"
#include "app/Wiring.h"
#include "console/ExtraTools.h"
#include "projects/Fgotoprojdlg.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <fstream>
#include <memory>
#include <regex>

namespace {
class ConsoleExtraTools : public ConsoleTest {
protected:
    // Started without a connection: the dialog took the preset string and was cancelled.
    void StartUnconnected() {
        Preset("Connection", "tcp:127.0.0.1:1");
        AnswerDialog(false);
        Start();
        ASSERT_TRUE(Until([] { return FormOpenCom && !FormOpenCom->isVisible(); }));
    }
    QPushButton* SaveButton() { return Find<QPushButton>("Button2"); }
    QFileDialog* SaveDialog() { return Find<QFileDialog>("SaveDialog1"); }

    // Clicks Save (with Ctrl when asked) and answers the save dialog with path ("" cancels it);
    // returns the file name the dialog proposed, or "-" when it never showed.
    std::string Save(const std::string& path, Qt::KeyboardModifiers modifiers = {}) {
        std::string proposed = "-";
        ModalAnswer answer([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) return;
            proposed = dialog->selectedFiles().value(0).section('/', -1).toStdString();
            if (path.empty()) return dialog->reject();
            const QFileInfo file(QString::fromStdString(path));
            dialog->setDirectory(file.absolutePath());
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(file.fileName()); // as typed
            if (dialog->selectedFiles().value(0) != file.absoluteFilePath()) {
                ADD_FAILURE() << "the dialog did not take " << path << " but "
                              << dialog->selectedFiles().value(0).toStdString();
                return dialog->reject();
            }
            static_cast<QDialog*>(dialog)->done(QDialog::Accepted); // past the overwrite question
        });
        QTest::mouseClick(SaveButton(), Qt::LeftButton, modifiers);
        return proposed;
    }
    size_t SignatureLines() {
        size_t count = 0;
        for (const auto& text : LogTexts())
            count += text.find(", Connection=tcp:127.0.0.1:1") != std::string::npos;
        return count;
    }
};

TEST_F(ConsoleExtraTools, SaveSignsTheLogAndProposesANameOfTheConnectionsKind) {
    StartUnconnected();
    ASSERT_EQ(FormOpenCom->ConnectionKindName(), "LAN");
    std::string proposed = Save("");
    EXPECT_TRUE(std::regex_match(proposed, std::regex(R"(RemoteControlTest_LAN_\d{4}(-\d\d){5}\.txt)")))
        << proposed;
    ASSERT_EQ(SignatureLines(), 1u) << "the signature stays when the save is cancelled";
    EXPECT_TRUE(std::regex_match(LogTexts().back(),
                                 std::regex(R"([^@]*@[^\\]*\\[^,]*, \d{4}-\d\d-\d\d )"
                                            R"(\d\d:\d\d:\d\d\.\d{3}, Connection=tcp:127\.0\.0\.1:1)")))
        << LogTexts().back();
    EXPECT_EQ(LogColours().back(), LogColours::Blue);

    TempDir folder;
    const std::string path = (folder.Path() / "saved.txt").string();
    Save(path);
    std::ifstream in(path, std::ios::binary);
    std::string saved((std::istreambuf_iterator<char>(in)), {});
    std::string expected;
    for (size_t i = 0; i < console->Log()->Lines().Count(); ++i)
        expected += std::string(console->Log()->Lines().Text(i)) + "\r\n";
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(SignatureLines(), 2u);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConsoleExtraTools, AFailedWriteIsReportedWithTheSystemsReason) {
    StartUnconnected();
    Save("/dev/full");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Cannot write \"/dev/full\": " + GetSystemErrorText(ENOSPC));
}

TEST_F(ConsoleExtraTools, CtrlSaveAsksTheNavigatorFirst) {
    TempDir share;
    share.Write("Produktion/2013/139501 Alpha/readme.txt", "x");
    Preset("ProjectShareRoot", QString::fromStdString(share.Path().string()));
    TFormGotoProj navigator(console.get());
    WireNavigatorToConsole(*console, navigator);
    StartUnconnected();
    const size_t linesBefore = console->Log()->Lines().Count();

    bool navigatorShown = false;
    {
        ModalAnswer cancel([&](QWidget* modal) {
            navigatorShown = modal == &navigator;
            modal->findChild<QPushButton*>("Button2")->click();
        });
        QTest::mouseClick(SaveButton(), Qt::LeftButton, Qt::ControlModifier);
    }
    EXPECT_TRUE(navigatorShown);
    EXPECT_EQ(console->Log()->Lines().Count(), linesBefore) << "cancelled: no signature, nothing saved";
    EXPECT_TRUE(!SaveDialog() || !SaveDialog()->isVisible()) << "made only when used";

    // With OK the save dialog starts in the chosen folder.
    QString directory;
    std::unique_ptr<ModalAnswer> next; // the save dialog's, armed once the navigator has answered
    {
        ModalAnswer choose([&](QWidget* modal) {
            navigator.SetSearchText("1395");
            ASSERT_TRUE(QTest::qWaitFor([&] { return !navigator.SelectedFolder().empty(); }));
            modal->findChild<QPushButton*>("ButtonOk")->click();
            next = std::make_unique<ModalAnswer>([&](QWidget* save) {
                directory = qobject_cast<QFileDialog*>(save)->directory().absolutePath();
                qobject_cast<QFileDialog*>(save)->reject();
            });
        });
        QTest::mouseClick(SaveButton(), Qt::LeftButton, Qt::ControlModifier);
    }
    next.reset();
    EXPECT_EQ(directory.toStdString(), share.Path().string() + "/Produktion/2013/139501 Alpha");
    EXPECT_EQ(SignatureLines(), 1u);
}

TEST_F(ConsoleExtraTools, AMissingProjectToolIsReportedWithTheSystemsText) {
    StartUnconnected();
    TempDir empty;
    ScopedEnv path("PATH", empty.Path().string());
    Find<QAction>("GotoProject1")->trigger();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Cannot start \"telvarn\": " + GetSystemErrorText(ENOENT) + ".");
}

// The shared editor stands in as a text, an OK answer and a count of showings.
class ConsoleTextTools : public ConsoleExtraTools {
protected:
    void SetUp() override {
        ConsoleExtraTools::SetUp();
        TConsoleTools::EditorHooks editor;
        editor.ShowModal = [this] {
            ++editorShown;
            return editorOk;
        };
        editor.Text = [this] { return editorText; };
        editor.SetText = [this](const std::string& text) { editorText = text; };
        editor.SetCaption = [this](const std::string& caption) { editorCaption = caption; };
        editor.Lines = [] { return std::vector<std::string>{}; };
        console->Tools().SetEditorHooks(std::move(editor));
    }
    std::string editorText;
    std::string editorCaption;
    bool editorOk = true;
    int editorShown = 0;
};

TEST_F(ConsoleTextTools, NumberListExplainsOnceAndCopiesTheArray) {
    EXPECT_TRUE(Find<QAction>("FormatNumberList1")->isEnabled());
    editorText = "100 -10\r\n2000 35\r\nnot a pair";
    Find<QAction>("FormatNumberList1")->trigger();
    const std::string array = "{  100,   -10 }, \\\r\n{ 2000,    35 }, \\\r\n";
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text, NumberListExplanation);
    EXPECT_EQ(boxes.boxes[1].kind, "information");
    EXPECT_EQ(boxes.boxes[1].text, "Copied to Clipboard:\r\n" + array);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), array);

    editorOk = false;
    Find<QAction>("FormatNumberList1")->trigger();
    EXPECT_EQ(boxes.boxes.size(), 2u) << "no second explanation; a cancelled editor ends the tool";
    EXPECT_EQ(editorShown, 2);
}

TEST_F(ConsoleTextTools, ChannelListIsRememberedAndExpandedIntoTheEditor) {
    boxes.inputs.push_back("1A3 12B2 #xyz C1");
    Find<QAction>("GenerateSeerviceChannellist1")->trigger();
    const std::string lines = "DIAG CHAN_1A1?\r\nDIAG CHAN_1A2?\r\nDIAG CHAN_1A3?\r\nDIAG CHAN_12B1?\r\n"
                              "DIAG CHAN_12B2?\r\nDIAG CHAN_12C1?\r\n";
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, "Channel List");
    EXPECT_EQ(boxes.boxes[0].text, "Enter Channel List (in _config1.h form)");
    EXPECT_EQ(editorText, lines);
    EXPECT_EQ(editorShown, 1);

    editorText.clear();
    boxes.answers.push_back(false); // Cancel keeps the remembered list, and the tool goes on
    Find<QAction>("GenerateSeerviceChannellist1")->trigger();
    EXPECT_EQ(boxes.offered.back(), "1A3 12B2 #xyz C1");
    EXPECT_EQ(editorText, lines);
}

TEST_F(ConsoleExtraTools, TextToolsWaitForTheEditor) {
    EXPECT_FALSE(Find<QAction>("FormatNumberList1")->isEnabled());
    EXPECT_FALSE(Find<QAction>("GenerateSeerviceChannellist1")->isEnabled());
    EXPECT_TRUE(Find<QAction>("GotoProject1")->isEnabled());
}
} // namespace

// The Extra menu's test script: the run's lines come into the console's log as they come, in
// their colours, the console's link is closed for the run and opened again after it.
TEST_F(ConsoleTest, RunTestScriptShowsTheRunInTheLogAndReopensTheConnection) {
    AmpsimProcess amp;
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    const std::string script = FromQt(dir.filePath("fwd.lua"));
    std::ofstream(script) << "corvane.step('fwd', function()\n"
                             "  corvane.check('FWD', corvane.open():number('FWD?'), 40, 50, 'dBm')\n"
                             "end)\n";
    TTestScriptTool& tool = console->TestScripts();
    tool.RunnerProgram = CORVANE_BIN_DIR "/corvane-batch";
    tool.ChooseScript = [&](std::string& path) {
        path = script;
        return true;
    };
    QAction* run = nullptr;
    for (QAction* action : Find<QMenu>("MenuItemExtra")->actions())
        if (action->text() == "Run Test Script...") run = action;
    ASSERT_NE(run, nullptr);
    run->trigger();
    EXPECT_FALSE(console->Session().Connected());
    ASSERT_TRUE(Until([&] { return LogHas("Test script ended: passed."); }, 20000));
    const std::vector<std::string> texts = LogTexts();
    const std::vector<uint32_t> colours = LogColours();
    bool rx = false;
    for (size_t i = 0; i < texts.size(); ++i)
        rx = rx || (texts[i].find("dut: Rx: FWD ") != std::string::npos && colours[i] == LogColours::Rx);
    EXPECT_TRUE(rx);
    EXPECT_TRUE(Until([&] { return console->Session().Connected(); }));
}
