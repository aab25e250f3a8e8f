// The shared editor dialog, headless: keys, the Ctrl rule of Open and Save as, files and the
// clipboard.
#include "DialogTestHelpers.h"
#include "RecordingBoxes.h"
#include "platform/QtPlatform.h"
#include "text/Fmemo.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {
using Lines = std::vector<std::string>;

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Answers the next file dialog with path (or cancels it when path is empty) and records it.
class FileDialogAnswer {
public:
    explicit FileDialogAnswer(std::string path, std::function<void()> after = {})
        : answer_([this, path, after](QWidget* modal) {
              auto* dialog = qobject_cast<QFileDialog*>(modal);
              ASSERT_NE(dialog, nullptr) << "a file dialog, not " << FromQt(modal->objectName());
              shown = FromQt(dialog->objectName());
              directory = PathFromQt(dialog->directory().absolutePath());
              if (path.empty()) {
                  dialog->reject();
              } else {
                  // The operator types the path; selectFile alone leaves it to the file model.
                  Find<QLineEdit>(*dialog, "fileNameEdit")->setText(PathToQt(path));
                  static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its override
              }
              if (after) after();
          }) {}
    std::string shown; // the object name of the dialog that was shown; empty: none
    std::string directory;

private:
    ModalAnswer answer_;
};

class MemoTest : public testing::Test {
protected:
    void SetUp() override {
        owner.resize(800, 600);
        memo = new TFormMemo(&owner);
        text = Find<QPlainTextEdit>(*memo, "Memo1");
    }
    void TearDown() override { QApplication::clipboard()->clear(); }

    // Shows the dialog modally, lets act work in it and returns whether it closed with OK.
    bool ShowAndAct(std::function<void(QWidget*)> act) {
        ModalAnswer answer(std::move(act));
        return memo->ShowModal();
    }
    // Shows the dialog without a modal loop, active, for key presses.
    void ShowActive() {
        memo->show();
        memo->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(memo));
    }
    QAction* Action(const char* name) { return Find<QAction>(*memo, name); }

    RecordingBoxes boxes;
    TempDir dir;
    QWidget owner;
    TFormMemo* memo = nullptr; // the owner's child
    QPlainTextEdit* text = nullptr;
};

// Point lists and channel lists line up in columns, whichever fonts the system has.
TEST_F(MemoTest, TheTextIsInAFixedPitchFont) {
    EXPECT_TRUE(text->font().fixedPitch() || text->font().styleHint() == QFont::Monospace);
}

TEST_F(MemoTest, TheTextStaysBetweenUsesAndFocusGoesToTheTextOnEveryActivation) {
    memo->SetCaption("Table 3 Points");
    memo->SetText("100\t-10\r\n200\t5\r\n");
    QWidget* focused = nullptr;
    EXPECT_TRUE(ShowAndAct([&](QWidget* modal) {
        EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
        focused = QApplication::focusWidget();
        text->moveCursor(QTextCursor::End);
        QTest::keyClicks(text, "x");
        Find<QPushButton>(*modal, "ButtonOk")->click();
    }));
    EXPECT_EQ(focused, text);
    EXPECT_EQ(memo->windowTitle(), "Table 3 Points");
    EXPECT_EQ(memo->Lines(), (Lines{"100\t-10", "200\t5", "x"})) << "typed into the last, empty line";
    EXPECT_TRUE(memo->Modified()) << "typing sets the mark";

    text->moveCursor(QTextCursor::Start);
    Find<QPushButton>(*memo, "ButtonCancel")->setFocus();
    EXPECT_FALSE(ShowAndAct([&](QWidget* modal) {
        EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
        focused = QApplication::focusWidget();
        Find<QPushButton>(*modal, "ButtonCancel")->click();
    }));
    EXPECT_EQ(focused, text) << "again on the second activation";
    EXPECT_EQ(memo->Lines(), (Lines{"100\t-10", "200\t5", "x"}));
}

TEST_F(MemoTest, EscIsCancelEnterOutsideTheTextIsOkAndInsideItANewLine) {
    memo->SetText("a");
    EXPECT_FALSE(ShowAndAct([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); }));
    EXPECT_TRUE(ShowAndAct([&](QWidget* modal) {
        text->moveCursor(QTextCursor::End);
        QTest::keyClick(text, Qt::Key_Tab);
        QTest::keyClick(text, Qt::Key_Return);
        EXPECT_TRUE(modal->isVisible()) << "Enter in the text only breaks the line";
        Find<QMenuBar>(*modal, "MainMenu1")->setFocus();
        QTest::keyClick(modal, Qt::Key_Return);
    }));
    EXPECT_EQ(memo->Lines(), (Lines{"a\t"})) << "Tab inserts a tab; the final line end opens no line";
}

TEST_F(MemoTest, CtrlOAsksTheNavigatorFirstAndACancelledNavigatorShowsNoFileDialog) {
    int asked = 0;
    memo->ProjectFolderHook = [&](std::string&) {
        ++asked;
        return false;
    };
    ShowActive();
    {
        FileDialogAnswer answer("");
        QTest::keyClick(memo, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_S, Qt::ControlModifier);
        QApplication::processEvents();
        EXPECT_EQ(answer.shown, "") << "no file dialog";
    }
    EXPECT_EQ(asked, 2);
}

TEST_F(MemoTest, TheNavigatorsFolderIsWhereTheFileDialogStartsAndWithoutCtrlItIsNotAsked) {
    const std::filesystem::path project = dir.Path() / "P4711";
    std::filesystem::create_directories(project);
    int asked = 0;
    memo->ProjectFolderHook = [&](std::string& folder) {
        ++asked;
        folder = project.string();
        return true;
    };
    memo->CtrlHeld = [] { return true; };
    {
        FileDialogAnswer answer("");
        memo->Saveas1Click();
        EXPECT_EQ(answer.shown, "SaveDialog1");
        EXPECT_EQ(answer.directory, project.string());
    }
    memo->CtrlHeld = [] { return false; };
    {
        FileDialogAnswer answer("");
        Action("Open1")->trigger(); // from the menu, without Ctrl
        EXPECT_EQ(answer.shown, "OpenDialog1");
    }
    EXPECT_EQ(asked, 1);
}

TEST_F(MemoTest, FilesRoundTripWithCrLfAndTheOtherDialogProposesThePath) {
    const std::filesystem::path in = dir.Path() / "in.txt";
    WriteAll(in, "100 -10\r\n200\t5\n\n300 7\rlast \xe9");
    memo->SetText("old");
    memo->SetModified(false);
    {
        FileDialogAnswer answer(in.string());
        memo->Open1Click();
        ASSERT_EQ(answer.shown, "OpenDialog1");
    }
    EXPECT_EQ(memo->Lines(), (Lines{"100 -10", "200\t5", "", "300 7", "last \xe9"}));
    EXPECT_TRUE(memo->Modified()) << "Open replaces the caller's text";
    EXPECT_EQ(Find<QFileDialog>(*memo, "SaveDialog1")->selectedFiles().value(0), PathToQt(in.string()));

    const std::filesystem::path out = dir.Path() / "out.txt";
    {
        FileDialogAnswer answer(out.string());
        memo->Saveas1Click();
        ASSERT_EQ(answer.shown, "SaveDialog1");
    }
    EXPECT_EQ(ReadAll(out), "100 -10\r\n200\t5\r\n\r\n300 7\r\nlast \xe9\r\n");
    EXPECT_EQ(Find<QFileDialog>(*memo, "OpenDialog1")->selectedFiles().value(0), PathToQt(out.string()));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MemoTest, AFileThatCannotBeReadOrWrittenIsReportedWithItsReasonAndTheTextStays) {
    const std::filesystem::path gone = dir.Path() / "gone.txt";
    WriteAll(gone, "never read");
    memo->SetText("kept");
    memo->SetModified(false);
    {
        // Chosen, then removed before it is read.
        FileDialogAnswer answer(gone.string(), [&] { std::filesystem::remove(gone); });
        Action("Open1")->trigger();
    }
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Cannot open file \"" + gone.string() + "\". No such file or directory");
    EXPECT_EQ(memo->Text(), "kept");
    EXPECT_FALSE(memo->Modified());

    const std::filesystem::path nowhere = dir.Path() / "no-such-folder" / "out.txt";
    {
        FileDialogAnswer answer(nowhere.string());
        Action("Saveas1")->trigger();
    }
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].text,
              "Cannot create file \"" + nowhere.string() + "\". No such file or directory");
    EXPECT_EQ(memo->Text(), "kept");
}

TEST_F(MemoTest, CopyAllPasteOverAndClearReplaceTheWholeTextAndSetTheMark) {
    memo->SetText("one\ntwo");
    memo->SetModified(false);
    Action("Copyall1")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "one\ntwo");
    EXPECT_FALSE(memo->Modified()) << "copying changes nothing";

    QApplication::clipboard()->setText("p1\r\np2\rp3");
    Action("Pasteover1")->trigger();
    EXPECT_EQ(memo->Lines(), (Lines{"p1", "p2", "p3"}));
    EXPECT_TRUE(memo->Modified());

    memo->SetModified(false);
    QApplication::clipboard()->clear();
    Action("Pasteover1")->trigger();
    EXPECT_EQ(memo->Text(), "") << "an empty clipboard empties the text";
    EXPECT_TRUE(memo->Modified());

    memo->SetText("x");
    memo->SetModified(false);
    Action("Clear1")->trigger();
    EXPECT_TRUE(memo->Lines().empty());
    EXPECT_TRUE(memo->Modified());
    EXPECT_TRUE(boxes.boxes.empty());
}
} // namespace
