// The console's conversion-table tools, headless, with the shared editor, against the simulated
// amplifier over loopback and the simulated GPIB driver.
#include "ConsoleFixture.h"
#include "DialogTestHelpers.h"
#include "app/Wiring.h"
#include "console/ConvTable.h"
#include "platform/QtPlatform.h"
#include "text/Fmemo.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

namespace {
using Texts = std::vector<std::string>;

class ConvTableWindowTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        FormMemo = new TFormMemo(console.get());
        WireMemoToConsole(*console, *FormMemo);
    }

    void StartWithAmp(std::vector<std::string> args = {}) {
        amp = std::make_unique<AmpsimProcess>(std::move(args));
        ASSERT_TRUE(amp->Ready()) << amp->Error();
        StartWith("tcp:127.0.0.1:" + std::to_string(amp->TcpPort()));
        ASSERT_TRUE(console->Session().Connected());
        console->Log()->Clear();
    }
    // Runs a tool; the editor, when it comes, gets text typed (or keeps its own) and OK or Cancel.
    void Run(const char* action, const std::optional<QString>& text = std::nullopt, bool ok = true) {
        memoShown = false;
        ModalAnswer answer([&](QWidget* modal) {
            memoShown = modal == FormMemo;
            memoCaption = FromQt(modal->windowTitle());
            auto* memo = modal->findChild<QPlainTextEdit*>("Memo1");
            memoText = FromQt(memo->toPlainText());
            if (text) memo->setPlainText(*text);
            modal->findChild<QPushButton*>(ok ? "ButtonOk" : "ButtonCancel")->click();
        });
        Find<QAction>(action)->trigger();
    }
    Texts Sent() const {
        Texts sent;
        for (const std::string& line : LogTexts()) {
            if (line.rfind("Tx: ", 0) == 0) sent.push_back(line.substr(4));
        }
        return sent;
    }
    Texts Errors() const {
        Texts errors;
        for (const RecordingBoxes::Box& box : boxes.boxes) {
            if (box.kind == "error") errors.push_back(box.text);
        }
        return errors;
    }
    size_t LogIndex(const std::string& text) const {
        Texts texts = LogTexts();
        return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
    }

    std::unique_ptr<AmpsimProcess> amp;
    bool memoShown = false;
    std::string memoCaption;
    std::string memoText;
};

TEST_F(ConvTableWindowTest, ATableTravelsUpAndBackIntoTheEditor) {
    StartWithAmp();
    boxes.inputs = {"2", "3"};
    Run("miUploadConvTab", "adc dbm100\n100 -10\n\n4095 2500");
    ASSERT_TRUE(memoShown);
    EXPECT_EQ(memoCaption, "Enter adc-dbm100-List for Table 3");
    EXPECT_EQ(memoText, "") << "the upload starts from an empty list";
    EXPECT_EQ(Sent(),
              (Texts{"SVC QB 2 SVC CONV UP 03 00 0064 fff6 S?", "SVC QB 2 SVC CONV UP 03 01 0fff 09c4 S?"}));
    EXPECT_LT(LogIndex(ConvSignedLog), LogIndex("Tx: SVC QB 2 SVC CONV UP 03 00 0064 fff6 S?"));
    EXPECT_EQ(LogTexts().back(), ConvUploadEndLog);
    EXPECT_EQ(LogColours().back(), LogColours::Blue);
    EXPECT_TRUE(LogHas("Rx: OK"));

    console->Log()->Clear();
    boxes.inputs = {"2", "3"};
    Run("miDnloadConvTab", std::nullopt, false);
    // The download keeps its own pair of remembered values; the upload's are offered next time.
    EXPECT_EQ(boxes.offered, (Texts{"", "0", "", "0"}));
    EXPECT_EQ(boxes.boxes[2].title, "Target Board Address");
    EXPECT_EQ(boxes.boxes[2].text, "Enter Address of target Board or leave empty for Vandrel");
    EXPECT_EQ(boxes.boxes[3].title, "TableNumber");
    EXPECT_EQ(boxes.boxes[3].text, "Enter Tablenumber");
    ASSERT_TRUE(memoShown);
    EXPECT_EQ(memoCaption, "Table 3 Points");
    std::string list = "100\t-10\n4095\t2500\n";
    for (size_t i = 2; i < ConvTablePoints; ++i)
        list += "0\t0\n";
    EXPECT_EQ(memoText, list);
    EXPECT_EQ(Sent().size(), ConvTablePoints);
    EXPECT_EQ(Sent().front(), "SVC QB 2 SVC CONV DN 03 00?");
    const Texts texts = LogTexts();
    const size_t end = LogIndex(ConvDownloadEndLog);
    ASSERT_LT(end + 2, texts.size());
    EXPECT_EQ(texts[end + 1], "Point List:");
    EXPECT_EQ(texts[end + 2], "100\t-10");
    EXPECT_EQ(texts.back(), ConvListEndLog);
    EXPECT_TRUE(Errors().empty());

    boxes.inputs = {"", "4"};
    Run("miUploadConvTab", "", false); // cancelled editor: nothing sent
    EXPECT_EQ(boxes.offered[4], "2");
    EXPECT_EQ(boxes.offered[5], "3");
}

TEST_F(ConvTableWindowTest, WithoutATioTheOperatorIsToldAndNothingIsAsked) {
    AnswerDialog(false);
    Start();
    Run("miUploadConvTab");
    Run("miDnloadConvTab");
    EXPECT_FALSE(memoShown);
    EXPECT_EQ(Errors(), (Texts{ConvNeedsTioText, ConvNeedsTioText}));
    EXPECT_EQ(boxes.boxes.size(), 2u) << "no input box";
    EXPECT_EQ(LogTexts(), (Texts{ConvNeedsTioText, ConvNeedsTioText}));
    EXPECT_EQ(LogColours().back(), LogColours::Red);
}

TEST_F(ConvTableWindowTest, AGpibConnectionHasNoTioEither) {
    ScopedEnv devices("CORVANE_GPIBSIM_DEVICES", "0:7");
    StartWith("gpib:0,7:Simulator");
    ASSERT_TRUE(console->Session().Connected());
    console->Log()->Clear();
    Run("miDnloadConvTab");
    EXPECT_EQ(Errors(), Texts{ConvNeedsTioText});
    EXPECT_EQ(LogTexts(), Texts{ConvNeedsTioText});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ConvTableWindowTest, ATimeOutStopsAnUploadAfterItsEarlierPointsAndADownloadShowsNothing) {
    StartWithAmp({"--conv-silent-point", "1"});
    boxes.inputs = {"", "0"};
    Run("miUploadConvTab", "1 1\n2 2\n3 3");
    EXPECT_EQ(Sent(), (Texts{"SVC CONV UP 00 00 0001 0001 U?", "SVC CONV UP 00 01 0002 0002 U?"}));
    EXPECT_EQ(Errors(), Texts{ConvTimeoutBox});
    EXPECT_FALSE(LogHas(ConvUploadEndLog));

    console->Log()->Clear();
    boxes.inputs = {"", "0"};
    Run("miDnloadConvTab");
    EXPECT_FALSE(memoShown);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Errors(), (Texts{ConvTimeoutBox, ConvTimeoutBox}));
    EXPECT_FALSE(LogHas(ConvDownloadEndLog));
}

TEST_F(ConvTableWindowTest, TooLongListsAndBadTableNumbersSendNothing) {
    StartWithAmp();
    QString list;
    for (int i = 0; i <= 20; ++i)
        list += QString("%1 %2\n").arg(i).arg(i);
    boxes.inputs = {"", "0"};
    Run("miUploadConvTab", list);
    EXPECT_EQ(LogTexts(), Texts{ConvTooLongLog});
    EXPECT_EQ(Errors(), Texts{ConvTooLongBox});

    boxes.inputs = {"", "abc"};
    Run("miDnloadConvTab");
    EXPECT_FALSE(memoShown);
    EXPECT_EQ(Errors().back(), "'abc' is not a valid integer value");
    boxes.inputs = {"", "256"}; // would go out in three hex digits, which no reply matches
    Run("miDnloadConvTab");
    EXPECT_EQ(Errors().back(), "Table number 256 is out of range: tables are numbered 0 to 255.");

    boxes.answers = {false}; // Cancel in the address box
    Run("miUploadConvTab");
    EXPECT_FALSE(memoShown);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ConvTableWindowTest, TheExtraMenuCanBeSwitchedOnOutsideTheInHouseDomain) {
    ScopedEnv extra(ExtraMenuVariable, "1");
    AnswerDialog(false);
    Start();
    EXPECT_TRUE(Find<QMenu>("MenuItemExtra")->menuAction()->isVisible());
    EXPECT_TRUE(Find<QAction>("miUploadConvTab")->isEnabled());
    EXPECT_TRUE(Find<QAction>("miDnloadConvTab")->isEnabled());
}
} // namespace
