// The navigator window, headless, over a temporary share tree, found by its controls' names.
#include "DialogTestHelpers.h"
#include "RecordingBoxes.h"
#include "ShareTree.h"
#include "projects/Fgotoprojdlg.h"
#include "projects/ProjectSearch.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <future>
#include <gtest/gtest.h>

namespace {
class Navigator : public testing::Test {
protected:
    void SetUp() override {
        share.Folders({"Produktion/2013/139501 Alpha", "Produktion/2013/139502_beta",
                       "Produktion/1913/139599 Old", "Firmware/Work/1395 fw",
                       "Firmware/Archiv2013/139501Alpha", "Produktion/2014/140417 DRUX"});
        share.File("Produktion/2013/139503 notes.txt");
    }

    QLineEdit* Edit() { return Find<QLineEdit>(form, "EditAmpSN"); }
    QListWidget* List() { return Find<QListWidget>(form, "ListBox1"); }
    QAction* Item(const char* name) { return Find<QMenu>(form, "PopupMenu1")->findChild<QAction*>(name); }

    // Types text and waits until the list shows its result.
    std::vector<std::string> Search(const QString& text) {
        Edit()->setText(text);
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.SearchSettled(); }));
        return Entries();
    }
    std::vector<std::string> Entries() {
        std::vector<std::string> entries;
        for (int i = 0; i < List()->count(); ++i)
            entries.push_back(List()->item(i)->text().toStdString());
        return entries;
    }
    // Opens a command line on the selected entry through a terminal that records its arguments.
    std::vector<std::string> CommandLineArguments() {
        TempDir bin;
        const auto record = bin.Path() / "args";
        bin.Write("terminal",
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record.string() +
                      ".tmp'\nmv '" + record.string() + ".tmp' '" + record.string() + "'\n",
                  true);
        ScopedEnv terminal("TERMINAL", (bin.Path() / "terminal").string());
        ScopedEnv shell("SHELL", "/bin/bash");
        Item("MenuItemOpenCmdLine")->trigger();
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(record); }, 10000));
        std::ifstream in(record);
        std::vector<std::string> arguments;
        for (std::string line; std::getline(in, line);)
            arguments.push_back(line);
        return arguments;
    }
    void Press(Qt::MouseButton button, int row) {
        QPoint at = row < List()->count() ? List()->visualItemRect(List()->item(row)).center()
                                          : QPoint(10, List()->viewport()->height() - 2);
        QTest::mousePress(List()->viewport(), button, {}, at);
        QTest::mouseRelease(List()->viewport(), button, {}, at);
    }

    ShareTree share;
    TFormGotoProj form;
};

TEST_F(Navigator, WithoutAShareRootItSaysSoAndSearchesNothing) {
    form.show();
    EXPECT_TRUE(Find<QLabel>(form, "LabelShareRoot")->isVisible());
    EXPECT_TRUE(Find<QPushButton>(form, "ButtonChooseShareRoot")->isVisible());
    EXPECT_TRUE(Search("1395").empty());
    form.SetShareRoot(share.Root());
    EXPECT_FALSE(Find<QLabel>(form, "LabelShareRoot")->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.SearchSettled(); }));
    EXPECT_EQ(Entries().size(), 5u);
}

TEST_F(Navigator, ListsTheSearchInOrderWithTheFirstSelected) {
    form.SetShareRoot(share.Root());
    const std::string r = share.Root();
    EXPECT_EQ(Search("1395"), (std::vector<std::string>{
                                  r + "Produktion/2013/139501 Alpha/", r + "Produktion/2013/139502_beta/",
                                  r + "Produktion/1913/139599 Old/", r + "Firmware/Work/1395 fw/",
                                  r + "Firmware/Archiv2013/139501Alpha/"}));
    EXPECT_EQ(form.SelectedFolder(), r + "Produktion/2013/139501 Alpha/");
    EXPECT_EQ(List()->visualItemRect(List()->item(1)).height(), 20);
    EXPECT_EQ(Search("14*drux"), (std::vector<std::string>{r + "Produktion/2014/140417 DRUX/"}));
    EXPECT_EQ(form.IconCacheKeys(), (std::vector<std::string>{""})) << "one icon for all folders";
    EXPECT_TRUE(Search("nothing-like-it").empty());
    EXPECT_EQ(form.SelectedFolder(), "");
}

TEST_F(Navigator, QuickTypingEndsWithTheNewestTextsList) {
    form.SetShareRoot(share.Root());
    for (const char* text : {"1", "13", "139", "1395", "13950", "139502", "13950", "1395", "14", "140"})
        Edit()->setText(text);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.SearchSettled(); }));
    EXPECT_EQ(Entries(), SearchProjectFolders(share.Root(), "140"));
}

TEST_F(Navigator, PasteClearAndActivationTakeTheClipboardsNumber) {
    form.SetShareRoot(share.Root());
    QGuiApplication::clipboard()->setText("see P:\\Produktion\\2013\\139502_beta\\report.doc");
    QTest::mouseClick(Find<QPushButton>(form, "ButtonExtractAmpSnFromClipbrd"), Qt::LeftButton);
    EXPECT_EQ(Edit()->text(), "139502");
    QTest::mouseClick(Find<QPushButton>(form, "ButtonClear"), Qt::LeftButton);
    EXPECT_EQ(Edit()->text(), "");
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.SearchSettled(); }));
    EXPECT_EQ(Entries(), (std::vector<std::string>{share.Root() + "Firmware/Work/1395 fw/"}));

    QGuiApplication::clipboard()->setText("140417DRUX");
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&form, &activate);
    EXPECT_EQ(Edit()->text(), "140417DRUX") << "six digits and letters without a separator are taken whole";
    QGuiApplication::clipboard()->setText("139501");
    QApplication::sendEvent(&form, &activate);
    EXPECT_EQ(Edit()->text(), "140417DRUX") << "a search text is kept on activation";
}

TEST_F(Navigator, MousePressSelectsAndTheMenuOpensOnlyOnAnEntry) {
    form.SetShareRoot(share.Root());
    form.show();
    ASSERT_EQ(Search("1395").size(), 5u);
    QMenu* menu = Find<QMenu>(form, "PopupMenu1");

    Press(Qt::RightButton, 1);
    EXPECT_EQ(form.SelectedFolder(), share.Root() + "Produktion/2013/139502_beta/");
    Q_EMIT List()->customContextMenuRequested(List()->visualItemRect(List()->item(1)).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }));
    EXPECT_EQ(Item("MenuItemCopyAmpSN")->text(), "Copy Project &Number (139502)");
    menu->hide();

    Press(Qt::RightButton, 99); // below the last entry
    EXPECT_EQ(form.SelectedFolder(), "");
    Q_EMIT List()->customContextMenuRequested(QPoint(10, List()->viewport()->height() - 2));
    EXPECT_FALSE(menu->isVisible());

    Press(Qt::LeftButton, 4);
    menu->popup(QPoint(0, 0));
    EXPECT_EQ(Item("MenuItemCopyAmpSN")->text(), "Copy Project &Number ()") << "digits glued to letters";
    menu->hide();
}

TEST_F(Navigator, CopyItemsPutThePathOrNumberOnTheClipboard) {
    form.SetShareRoot(share.Root());
    ASSERT_FALSE(Search("139501 alpha").empty());
    const std::string path = share.Root() + "Produktion/2013/139501 Alpha/";
    Item("MenuItemCopyText")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), path);
    Item("MenuItemCopyTextQ")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "\"" + path + "\"");
    Item("MenuItemCopyAmpSN")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "139501");

    Press(Qt::LeftButton, 99);
    QGuiApplication::clipboard()->setText("unchanged");
    Item("MenuItemCopyText")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "unchanged") << "no entry, no action";
}

TEST_F(Navigator, CommandLineOpensTheOperatorsShellInTheFolderWithoutAShell) {
    share.Folders({"Firmware/Work/1395 $(touch x) 'q"});
    form.SetShareRoot(share.Root());
    ASSERT_EQ(Search("1395 $").size(), 1u);
    EXPECT_EQ(CommandLineArguments(),
              (std::vector<std::string>{"-e", "env", "-C", share.Root() + "Firmware/Work/1395 $(touch x) 'q/",
                                        "/bin/bash"}));
}

// A name that is not UTF-8 reaches the launch as the file system's bytes; the clipboard, which
// carries text, cannot take it exactly, and the operator is told.
TEST_F(Navigator, KeepsTheBytesOfAFolderNameThatIsNotUtf8) {
    share.Folders({"Produktion/2014/140005 bad\xff\xfeutf8"});
    const std::string path = share.Root() + "Produktion/2014/140005 bad\xff\xfeutf8/";
    form.SetShareRoot(share.Root());
    ASSERT_EQ(Search("140005").size(), 1u);
    EXPECT_EQ(form.SelectedFolder(), path);
    const std::vector<std::string> arguments = CommandLineArguments();
    ASSERT_EQ(arguments.size(), 5u);
    EXPECT_EQ(arguments[3], path);

    RecordingBoxes boxes;
    ModalBoxes* previous = TFormGotoProj::UseBoxes(&boxes);
    Item("MenuItemCopyText")->trigger();
    TFormGotoProj::UseBoxes(previous);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "information");
    EXPECT_NE(boxes.boxes[0].text.find("not UTF-8"), std::string::npos);
}

// With the opener, every terminal and the file manager missing, each item says why.
TEST_F(Navigator, LaunchFailuresAreShownWithTheirReason) {
    TempDir emptyBin;
    ScopedEnv path("PATH", emptyBin.Path().string());
    ScopedEnv terminal("TERMINAL", std::nullopt);
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (emptyBin.Path() / "no-bus").string());
    form.SetShareRoot(share.Root());
    ASSERT_FALSE(Search("1395").empty());
    RecordingBoxes boxes;
    ModalBoxes* previous = TFormGotoProj::UseBoxes(&boxes);
    for (const char* item : {"MenuItemOpenExplorer", "MenuItemOpenCmdLine", "MenuItemShowFileProps"})
        Item(item)->trigger();
    TFormGotoProj::UseBoxes(previous);
    ASSERT_EQ(boxes.boxes.size(), 3u);
    for (const auto& box : boxes.boxes) {
        EXPECT_EQ(box.kind, "error");
        EXPECT_NE(box.text.find("Cannot"), std::string::npos) << box.text;
    }
}

// OK while the search of a slow share runs: it waits for the search and takes its first folder.
TEST_F(Navigator, OkWaitsForTheRunningSearchAndTakesItsFirstFolder) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    form.SetFolderSearch(
        [released](const std::string& root, const std::string& text, const SearchCancelled& stop) {
            released.wait_for(std::chrono::seconds(20));
            return SearchProjectFolders(root, text, stop);
        });
    form.SetShareRoot(share.Root());
    form.show();
    Edit()->setText("1395");
    auto* ok = Find<QPushButton>(form, "ButtonOk");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(ok->isEnabled()) << "it shows that it searches";
    release.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }));
    EXPECT_EQ(form.result(), TFormGotoProj::mrOk);
    EXPECT_EQ(form.SelectedFolder(), share.Root() + "Produktion/2013/139501 Alpha/");
}

TEST_F(Navigator, OkCancelEscapeAndDoubleClickGiveTheirResults) {
    form.SetShareRoot(share.Root());
    ASSERT_FALSE(Search("1395").empty());
    auto answer = [&](auto act) {
        ModalAnswer answering([&](QWidget*) { act(); });
        return form.ShowModal();
    };
    EXPECT_EQ(answer([&] { QTest::mouseClick(Find<QPushButton>(form, "ButtonOk"), Qt::LeftButton); }), 1);
    EXPECT_EQ(form.SelectedFolder(), share.Root() + "Produktion/2013/139501 Alpha/");
    EXPECT_EQ(answer([&] { QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton); }), 2);
    EXPECT_EQ(answer([&] { QTest::keyClick(&form, Qt::Key_Escape); }), 2);
    EXPECT_EQ(answer([&] {
                  Press(Qt::LeftButton, 99);
                  QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {},
                                     QPoint(10, List()->viewport()->height() - 2));
              }),
              1);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.SelectedFolder(), "");
}
} // namespace
