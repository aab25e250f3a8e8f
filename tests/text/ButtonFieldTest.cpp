// The command-button field, headless: files through the real dialogs, clicks through the real
// "Enter Parameter Value" dialog, settings in a folder of the test's own.
#include "ModalAnswers.h"
#include "RecordingBoxes.h"
#include "platform/QtPlatform.h"
#include "platform/System.h"
#include "text/BookmarkTabs.h"
#include "text/Fbuttonfield.h"

#include <QApplication>
#include <QSettings>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Sent = std::vector<std::pair<std::string, bool>>;

class ButtonFieldTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        field = std::make_unique<TFrameButtonField>();
        field->SettingsKeyPath = "\\Software\\Veltrask\\Corvane";
        field->SettingsValueName = "BookmarkFile";
        field->OnButtonCommand = [this](const std::string& text, bool toBatch) {
            sent.emplace_back(text, toBatch);
        };
        field->resize(640, 300);
        field->show();
    }

    std::string Path(const std::string& name) const { return PathFromQt(dir.filePath(PathToQt(name))); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    QVariant Stored() const {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
            .value("BookmarkFile");
    }
    // A file that exists but cannot be read (the superuser reads every file the mode forbids).
    std::string Unreadable() {
        if (::geteuid() == 0) return "/proc/self/mem";
        std::string path = Write("locked.txt", "[Locked]\r\nX\r\n");
        ::chmod(path.c_str(), 0);
        return path;
    }

    TBookmarkButton* Button(unsigned number) const {
        return field->findChild<TBookmarkButton*>(QString("ButtonBookmark%1").arg(number));
    }
    std::vector<std::string> Tabs() const {
        std::vector<std::string> tabs;
        for (int i = 0; i < field->PageControlBookmarks->count(); ++i)
            tabs.push_back(FromQt(field->PageControlBookmarks->tabText(i)));
        return tabs;
    }
    size_t ButtonCount() const { return field->findChildren<TBookmarkButton*>().size(); }

    void WhenModal(std::function<void(QWidget*)> act) { ::WhenModal(field.get(), std::move(act)); }
    void AnswerFileDialog(const std::string& path) { ::AnswerFileDialog(field.get(), path, &fileDialog); }
    void AnswerPrompt(std::optional<std::string> answer) { ::AnswerPrompt(field.get(), answer, &asked); }
    void Click(unsigned number, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        TBookmarkButton* button = Button(number);
        ASSERT_NE(button, nullptr) << number;
        field->PageControlBookmarks->setCurrentWidget(button->parentWidget());
        QTest::mouseClick(button, Qt::LeftButton, modifiers);
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    std::unique_ptr<TFrameButtonField> field;
    Sent sent;
    std::vector<PromptSeen> asked;
    FileDialogSeen fileDialog;
};

TEST_F(ButtonFieldTest, BuildsTabsAndButtonsFromTheFile) {
    std::string path = Write("b.txt", "[Main]\r\nA\nB\r\rC\r\n[Two & more]\r\n  SET FREQ <?f:100>  \r\n");
    field->LoadFile(path);
    EXPECT_EQ(Tabs(), (std::vector<std::string>{"Main", "Two && more"}));
    struct Expected {
        const char* caption;
        QRect geometry;
    };
    Expected expected[] = {{"A", {3, 3, 120, 28}},
                           {"B", {3, 37, 120, 28}},
                           {"C", {129, 3, 120, 28}},
                           {"SET FREQ ...", {3, 3, 120, 28}}};
    for (unsigned i = 0; i < 4; ++i) {
        ASSERT_NE(Button(i), nullptr) << i;
        EXPECT_EQ(FromQt(Button(i)->text()), expected[i].caption);
        EXPECT_EQ(Button(i)->geometry(), expected[i].geometry) << i;
    }
    EXPECT_EQ(Button(3)->toolTip(), "SET FREQ <?f:100>");
    EXPECT_EQ(Button(3)->parentWidget(), field->PageControlBookmarks->widget(1));
    EXPECT_EQ(Button(0)->parentWidget(), field->PageControlBookmarks->widget(0));
    EXPECT_TRUE(Button(0)->isVisible());
    EXPECT_EQ(field->LabelButtonFileName->text(), PathToQt(path));
    EXPECT_EQ(field->ButtonEditBookmarks->toolTip(), PathToQt(path));
    EXPECT_EQ(field->Lines, (std::vector<std::string>{"[Main]", "A", "B", "", "C", "[Two & more]",
                                                      "  SET FREQ <?f:100>  "}));
}

TEST_F(ButtonFieldTest, AReloadContinuesTheNumbersFreesTheOldButtonsAndKeepsTheShownTab) {
    std::string path = Write("b.txt", "[One]\r\nA\r\n[Two]\r\nB\r\n[Three]\r\nC\r\n");
    field->LoadFile(path);
    field->PageControlBookmarks->setCurrentIndex(1);
    field->ReloadFile();
    EXPECT_EQ(Button(0), nullptr);
    EXPECT_EQ(ButtonCount(), 3u);
    ASSERT_NE(Button(4), nullptr);
    EXPECT_EQ(FromQt(Button(4)->text()), "B");
    EXPECT_EQ(field->PageControlBookmarks->currentIndex(), 1);
    EXPECT_TRUE(Button(4)->isVisible());

    Write("b.txt", "[New]\r\nN\r\n[Two]\r\nB\r\n");
    field->ReloadFile();
    EXPECT_EQ(FromQt(field->PageControlBookmarks->tabText(field->PageControlBookmarks->currentIndex())),
              "Two");
    Write("b.txt", "[Other]\r\nO\r\n[Last]\r\nL\r\n");
    field->ReloadFile();
    EXPECT_EQ(field->PageControlBookmarks->currentIndex(), 0);
    EXPECT_EQ(ButtonCount(), 2u);
    EXPECT_NE(Button(8), nullptr);
}

TEST_F(ButtonFieldTest, AClickAsksForParametersAndHandsOverTheResolvedCommand) {
    field->LoadFile(Write("b.txt", "  SET FREQ <?f:100>  \r\nSTATUS?\r\n"));
    Click(1);
    EXPECT_EQ(sent, (Sent{{"STATUS?", false}}));
    EXPECT_TRUE(asked.empty());

    AnswerPrompt("250");
    Click(0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, "Enter Parameter Value");
    EXPECT_EQ(asked[0].name, "f");
    EXPECT_EQ(asked[0].value, "100");
    EXPECT_EQ(asked[0].selected, "100");
    EXPECT_EQ(asked[0].maxLength, 255);
    EXPECT_EQ(sent.back(), std::make_pair(std::string("SET FREQ 250"), false));

    AnswerPrompt(std::nullopt);
    Click(0);
    EXPECT_EQ(sent.size(), 2u);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].value, "250");

    // The answer outlives the buttons it was given to.
    field->ReloadFile();
    AnswerPrompt("7");
    Click(2);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2].value, "250");
    EXPECT_EQ(sent.back(), std::make_pair(std::string("SET FREQ 7"), false));
    EXPECT_EQ(field->ParamMemory.at("f"), "7");
}

TEST_F(ButtonFieldTest, CtrlClickHandsOverTheRawCommandWithoutAsking) {
    field->LoadFile(Write("b.txt", "SET FREQ <?f:100>\r\n"));
    bool prompted = false;
    WhenModal([&](QWidget* modal) {
        prompted = true;
        modal->close();
    });
    Click(0, Qt::ControlModifier);
    EXPECT_FALSE(prompted);
    EXPECT_EQ(sent, (Sent{{"SET FREQ <?f:100>", true}}));
}

TEST_F(ButtonFieldTest, AnUnterminatedParameterIsReportedAndNothingIsSent) {
    field->LoadFile(Write("b.txt", "X <?y\r\n"));
    EXPECT_EQ(FromQt(Button(0)->text()), "X <?y");
    Click(0);
    EXPECT_TRUE(sent.empty());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Unterminated <?...> Sequence!");
}

TEST_F(ButtonFieldTest, LoadingAMissingFileChangesNothingButStillAsksAboutAutoLoad) {
    std::string path = Write("b.txt", "[Main]\r\nA\r\n");
    field->LoadFile(path);
    field->LoadFile(Path("missing.txt"));
    EXPECT_EQ(field->FileName, path);
    EXPECT_EQ(ButtonCount(), 1u);

    boxes.answers = {true};
    AnswerFileDialog(Path("missing.txt"));
    field->ButtonLoadBookmarksClick();
    EXPECT_EQ(fileDialog.title, "Open Command Button Bookmarks");
    EXPECT_EQ(fileDialog.offered, path);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "confirm");
    EXPECT_EQ(boxes.boxes[0].text, "Automatically load this file on every program start?");
    // What is stored is the field's file, which a missing choice did not replace.
    EXPECT_EQ(Stored().toString(), PathToQt(path));
}

TEST_F(ButtonFieldTest, AnUnreadableFileIsReportedAndTheOldButtonsStay) {
    std::string path = Write("b.txt", "[Main]\r\nA\r\n");
    field->LoadFile(path);
    std::string locked = Unreadable();
    boxes.answers = {false};
    AnswerFileDialog(locked);
    field->ButtonLoadBookmarksClick();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Could not open File:\r\n" + locked + "\r\n" +
                                       GetSystemErrorText(::geteuid() == 0 ? EIO : EACCES));
    EXPECT_EQ(boxes.boxes[1].kind, "confirm");
    EXPECT_EQ(field->FileName, locked);
    EXPECT_EQ(field->Lines, (std::vector<std::string>{"[Main]", "A"}));
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Main"});
    EXPECT_EQ(field->LabelButtonFileName->text(), PathToQt(path));
    EXPECT_FALSE(Stored().isValid());
}

TEST_F(ButtonFieldTest, AChosenFileIsLoadedAndStoredForTheNextStartOnYes) {
    std::string path = Write("b.txt", "[Main]\r\nA\r\n");
    boxes.answers = {true};
    AnswerFileDialog(path);
    field->ButtonLoadBookmarksClick();
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Main"});
    EXPECT_EQ(Stored().toString(), PathToQt(path));
    EXPECT_EQ(field->ReadStoredFileName(), path);

    AnswerFileDialog("");
    field->ButtonLoadBookmarksClick();
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

struct EditCase {
    const char* what;
    bool ok;
    std::string edited;
    std::vector<bool> answers;
    bool asked;
    bool written;
};

void PrintTo(const EditCase& c, std::ostream* out) {
    *out << c.what;
}

class ButtonFieldEditTest : public ButtonFieldTest, public testing::WithParamInterface<EditCase> {};

TEST_P(ButtonFieldEditTest, RebuildsAndAsksBeforeSaving) {
    const EditCase& c = GetParam();
    const std::string original = "[Main]\nA\n";
    std::string path = Write("b.txt", original);
    field->LoadFile(path);
    std::string shownText, shownCaption;
    field->EditText = [&](std::string& text, const std::string& caption) {
        shownText = text;
        shownCaption = caption;
        if (c.ok) text = c.edited;
        return c.ok;
    };
    boxes.answers.assign(c.answers.begin(), c.answers.end());
    field->ButtonEditBookmarks->click();
    EXPECT_EQ(shownText, "[Main]\r\nA\r\n");
    EXPECT_EQ(shownCaption, path);
    if (c.asked) {
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, "Save changes in \r\n" + path + "?");
    } else {
        EXPECT_TRUE(boxes.boxes.empty());
    }
    std::vector<std::string> lines =
        c.ok ? SplitTextLines(c.edited) : std::vector<std::string>{"[Main]", "A"};
    EXPECT_EQ(field->Lines, lines);
    EXPECT_EQ(Tabs().front(), c.ok ? "Edited" : "Main");
    EXPECT_EQ(Read(path), c.written ? JoinTextLines(lines) : original);
}

INSTANTIATE_TEST_SUITE_P(Edits, ButtonFieldEditTest,
                         testing::Values(EditCase{"saved on Yes", true, "[Edited]\nB\nC", {true}, true, true},
                                         EditCase{
                                             "kept unsaved on No", true, "[Edited]\nB", {false}, true, false},
                                         EditCase{"cancelled", false, "", {}, false, false}));

TEST_F(ButtonFieldTest, UnchangedTextIsNotOfferedForSaving) {
    std::string path = Write("b.txt", "[Main]\rA\r");
    field->LoadFile(path);
    field->EditText = [](std::string& text, const std::string&) {
        text = "[Main]\nA";
        return true;
    };
    field->ButtonEditBookmarks->click();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Read(path), "[Main]\rA\r");
}

TEST_F(ButtonFieldTest, SaveWritesCrLfUnderTheChosenNameAndLeavesTheStoredPath) {
    std::string path = Write("b.txt", "[Main]\nA\n");
    field->LoadFile(path);
    AnswerFileDialog(Path("copy.txt"));
    field->ButtonSaveBookmarks->click();
    EXPECT_EQ(fileDialog.title, "Save Command Button Bookmarks");
    EXPECT_EQ(fileDialog.offered, path);
    EXPECT_EQ(Read(Path("copy.txt")), "[Main]\r\nA\r\n");
    EXPECT_EQ(field->FileName, Path("copy.txt"));
    EXPECT_EQ(field->LabelButtonFileName->text(), PathToQt(Path("copy.txt")));
    EXPECT_FALSE(Stored().isValid());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ButtonFieldTest, AFailedWriteIsReportedWithTheSystemsReason) {
    std::string path = Write("b.txt", "[Main]\nA\n");
    field->LoadFile(path);
    AnswerFileDialog("/dev/full");
    field->ButtonSaveBookmarks->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, "Cannot write file \"/dev/full\". " + GetSystemErrorText(ENOSPC));
    EXPECT_EQ(field->FileName, path) << "the field still names the file its buttons came from";
    EXPECT_EQ(field->LabelButtonFileName->text(), PathToQt(path));

    // The same from the editor.
    field->FileName = "/dev/full";
    field->EditText = [](std::string& text, const std::string&) {
        text += "B\r\n";
        return true;
    };
    boxes.answers = {true};
    field->ButtonEditBookmarks->click();
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[2].text, "Cannot write file \"/dev/full\". " + GetSystemErrorText(ENOSPC));
    EXPECT_EQ(ButtonCount(), 2u);
}

TEST_F(ButtonFieldTest, StartUpPrefersTheProgramsFileThenTheStoredOneThenAsks) {
    std::string own = Path("Bookmarks.txt");
    std::string stored = Write("stored.txt", "[Stored]\r\nS\r\n");
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("BookmarkFile", PathToQt(stored));

    // Neither exists: the load dialog opens on the program's folder with Bookmarks.txt.
    ::unlink(stored.c_str());
    AnswerFileDialog("");
    field->LoadStartFile(own, "");
    EXPECT_EQ(fileDialog.offered, own);
    EXPECT_EQ(field->FileName, own);
    EXPECT_TRUE(Tabs().empty());

    Write("stored.txt", "[Stored]\r\nS\r\n");
    field->LoadStartFile(own, "");
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Stored"});
    EXPECT_EQ(field->FileName, stored);

    Write("Bookmarks.txt", "[Own]\r\nO\r\n");
    field->LoadStartFile(own, "");
    EXPECT_EQ(Tabs(), std::vector<std::string>{"Own"});
    EXPECT_EQ(field->FileName, own);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ButtonFieldTest, TheStoredPathIsCreatedEmptyWhenMissing) {
    EXPECT_EQ(field->ReadStoredFileName(), "");
    EXPECT_TRUE(Stored().isValid());
}
} // namespace

// The bookmark tabs measure a tab as Qt's tab widget does, also after a font change; removing the
// current tab selects the one on its right; a row too wide for its room scrolls to the chosen tab.
TEST(BookmarkTabs, MeasureAsQtsTabWidgetAndKeepTheChosenTabInView) {
    TBookmarkTabs kept;
    QTabWidget plain; // what the field had before
    const std::vector<QString> captions{"Status", "Conversion &tables", "W"};
    for (const QString& caption : captions) {
        kept.addTab(new QWidget, caption);
        plain.addTab(new QWidget, caption);
    }
    auto sameWidths = [&] {
        for (int i = 0; i < plain.count(); ++i)
            EXPECT_EQ(kept.TabBar()->TabRect(i).width(), plain.tabBar()->tabRect(i).width()) << i;
    };
    sameWidths();
    QFont larger = kept.font();
    larger.setPointSize(larger.pointSize() * 3);
    kept.TabBar()->setFont(larger);
    plain.tabBar()->setFont(larger);
    sameWidths();

    kept.setCurrentIndex(1);
    kept.removeTab(1);
    EXPECT_EQ(kept.currentIndex(), 1);
    EXPECT_EQ(kept.tabText(1), "W");

    for (int i = 0; i < 50; ++i)
        kept.addTab(new QWidget, QString("Tab %1").arg(i));
    kept.resize(300, 200);
    kept.show();
    kept.setCurrentIndex(40);
    QCoreApplication::processEvents();
    const QRect chosen = kept.TabBar()->TabRect(40);
    EXPECT_GE(chosen.left(), 0);
    EXPECT_LE(chosen.right(), kept.TabBar()->width());
    EXPECT_EQ(kept.widget(40), kept.findChild<QStackedWidget*>()->currentWidget());
}
