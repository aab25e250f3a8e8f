// The finder window headless, fed datagram texts directly and with a tick the test controls. Its
// sockets are given an address no interface holds, so nothing is sent or received here; the
// network side runs in FinderNetTest inside a private namespace.
#include "DialogTestHelpers.h"
#include "RecordingBoxes.h"
#include "connection/Fopencom.h"
#include "finder/Fampfinder.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
// TEST-NET-1: no interface of a test machine holds it, so binding it fails and the receiver stays
// silent.
constexpr char NowhereAddress[] = "192.0.2.1";

class FinderWindow : public testing::Test {
protected:
    void SetUp() override {
        finder.Now = [this] { return now; };
        finder.ChooseLocalAddress = [this](std::string& address) {
            ++asked;
            address = NowhereAddress;
            return chooserAnswer;
        };
        finder.RunTerminalProgram = [this](const std::vector<std::string>& argv) {
            launched.push_back(argv);
            return launchResult;
        };
        finder.OpenUrl = [this](const std::string& url) { opened.push_back(url); };
    }

    QTreeWidget* List() { return Find<QTreeWidget>(finder, "ListView1"); }
    QAction* Action(const char* name) { return Find<QAction>(finder, name); }
    std::vector<std::string> Column(int column) {
        std::vector<std::string> texts;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            texts.push_back(List()->topLevelItem(i)->text(column).toStdString());
        return texts;
    }
    // The newest row is selected at the next turn of the event loop.
    std::string SelectedMac() {
        QApplication::processEvents();
        auto selected = List()->selectedItems();
        return selected.size() == 1 ? selected.first()->text(0).toStdString() : "";
    }
    void Reply(const std::string& mac, const std::string& ip, const std::string& name = "amp") {
        finder.OnDiscoveryDatagram(mac + " 1 " + ip + " 255.255.255.0 1.0 " + name);
    }
    // Shows the finder modally; once it runs, act runs on it.
    int ShowModal(std::function<void()> act) {
        ModalAnswer answer([act](QWidget*) { act(); });
        return finder.ShowFinderModal();
    }
    void Select(const std::string& mac) {
        QApplication::processEvents();
        auto found = List()->findItems(QString::fromStdString(mac), Qt::MatchExactly, 0);
        ASSERT_EQ(found.size(), 1);
        List()->setCurrentItem(found.first());
    }

    uint32_t now = 1000;
    int asked = 0;
    bool chooserAnswer = true;
    std::vector<std::vector<std::string>> launched;
    std::vector<std::string> opened;
    ShellResult launchResult;
    TemporarySettings settings;
    TFormAmpFinder finder;
};
} // namespace

TEST_F(FinderWindow, ListsRefreshesAndSelectsTheNewestAmplifier) {
    Reply("0050C2000001", "10.77.0.2", "AmpA");
    Reply("0050C2000002", "10.77.0.3", "AmpB");
    Select("0050C2000001");
    Reply("0050C2000003", "10.77.0.4", "AmpC");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"0050C2000001", "0050C2000002", "0050C2000003"}));
    EXPECT_EQ(SelectedMac(), "0050C2000003") << "a new amplifier takes the selection";

    Reply("0050C2000002", "10.77.0.99", "AmpB2");
    EXPECT_EQ(Column(1), (std::vector<std::string>{"10.77.0.2", "10.77.0.99", "10.77.0.4"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"AmpA", "AmpB2", "AmpC"}));
    EXPECT_EQ(SelectedMac(), "0050C2000003") << "a refresh leaves the selection";
    Select("0050C2000002");
    EXPECT_TRUE(finder.CopySelection());
    EXPECT_EQ(finder.SelectedAmp().Ip, "10.77.0.99") << "the address handed on is the one shown";

    for (const char* text : {"0050C2000009 1 10.0.0.9 a b", "0 1 A", ""})
        finder.OnDiscoveryDatagram(text);
    EXPECT_EQ(finder.RowCount(), 3u);
    EXPECT_EQ(List()->topLevelItemCount(), 3);
}

TEST_F(FinderWindow, SilentRowsVanishTogetherAndTheOthersStay) {
    Reply("A", "10.0.0.1");
    Reply("B", "10.0.0.2");
    Reply("C", "10.0.0.3");
    now += 1500;
    Reply("B", "10.0.0.2");
    now += 501;
    finder.RemoveStaleEntries(2000);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"B"}));
    now += 2001;
    finder.RemoveStaleEntries(2000);
    EXPECT_EQ(List()->topLevelItemCount(), 0);
    EXPECT_FALSE(finder.CopySelection()) << "no row, no copy";
}

TEST_F(FinderWindow, ShowFinderModalReturnsOkOrCancelAndCopiesTheSelection) {
    Reply("A", "10.0.0.1");
    EXPECT_EQ(ShowModal([this] { QTest::mouseClick(Find<QPushButton>(finder, "ButtonOk"), Qt::LeftButton); }),
              1);
    EXPECT_EQ(finder.SelectedAmp().Ip, "10.0.0.1");
    Reply("B", "10.0.0.2");
    EXPECT_EQ(
        ShowModal([this] { QTest::mouseClick(Find<QPushButton>(finder, "ButtonCancel"), Qt::LeftButton); }),
        2);
    EXPECT_EQ(finder.SelectedAmp().Ip, "10.0.0.2") << "copied whatever the result";
    List()->clearSelection();
    EXPECT_EQ(
        ShowModal([this] { QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, QPoint(5, 150)); }), 1)
        << "a double click off the rows is OK too";
    EXPECT_EQ(finder.SelectedAmp().Ip, "10.0.0.2") << "no row selected: the previous result";
}

TEST_F(FinderWindow, AsksForTheLocalAddressOncePerRunAndStopsOnClose) {
    auto close = [this] { QTest::mouseClick(Find<QPushButton>(finder, "ButtonCancel"), Qt::LeftButton); };
    chooserAnswer = false;
    ShowModal([&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return asked > 0; }));
        close();
    });
    EXPECT_EQ(asked, 1) << "a cancelled chooser is not offered again in the same opening";
    EXPECT_EQ(finder.LocalAddress(), "");
    chooserAnswer = true;
    ShowModal([&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return asked > 1; }));
        close();
    });
    EXPECT_EQ(finder.LocalAddress(), NowhereAddress);
    ShowModal(close);
    EXPECT_EQ(asked, 2) << "once chosen, kept for the run";
}

TEST_F(FinderWindow, TheMenuStartsProgramsWithTheAddressAsAnArgument) {
    RecordingBoxes boxes;
    Action("MenuItemPing")->trigger();
    EXPECT_TRUE(launched.empty()) << "no row selected: nothing happens";
    Reply("A", "10.0.0.5");
    Action("MenuItemPing")->trigger();
    Action("MenuItemWeb")->trigger();
    boxes.inputs = {"23"};
    Action("MenuItemTelnet")->trigger();
    boxes.inputs = {""};
    Action("MenuItemTelnet")->trigger();
    boxes.answers = {false};
    Action("MenuItemTelnet")->trigger();
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{
                            {"ping", "10.0.0.5"}, {"telnet", "10.0.0.5", "23"}, {"telnet", "10.0.0.5"}}));
    EXPECT_EQ(opened, (std::vector<std::string>{"http://10.0.0.5"}));
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].title, "Enter optional Telnet Port");
    EXPECT_EQ(boxes.boxes[0].text, "Telnet Port");
    EXPECT_EQ(boxes.offered[0], "2500");

    launched.clear();
    boxes.boxes.clear();
    launchResult.error = ENOENT;
    launchResult.message = "Cannot start \"x-terminal-emulator\": No such file or directory";
    Action("MenuItemPing")->trigger();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].text, launchResult.message);
}

TEST_F(FinderWindow, AHostileAddressNeverReachesALauncher) {
    RecordingBoxes boxes;
    boxes.inputs = {"2500", "2500", "2500"};
    finder.OnDiscoveryDatagram("H1 1 1.2.3.4;rm -rf ~ x y");
    finder.OnDiscoveryDatagram("H2 1 $(reboot) x y name");
    finder.OnDiscoveryDatagram("H3 1 " + std::string(60, '7') + " name");
    ASSERT_EQ(finder.RowCount(), 3u);
    for (const char* mac : {"H1", "H2", "H3"}) {
        Select(mac);
        for (const char* item : {"MenuItemPing", "MenuItemWeb", "MenuItemTelnet"})
            Action(item)->trigger();
    }
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(boxes.boxes.size(), 9u);
    for (const auto& box : boxes.boxes)
        EXPECT_EQ(box.kind, "error") << box.text;
}

TEST_F(FinderWindow, SearchInTheConnectionDialogPutsTheChosenAddressIntoTheHostBox) {
    TFormOpenCom openCom;
    openCom.ListPorts = [] { return std::vector<SerialPortInfo>{}; };
    finder.AttachToOpenCom(openCom);
    Reply("A", "10.0.0.7");
    std::string connection = "com:ttyUSB0:baud=19200";
    ModalAnswer answer([&](QWidget*) {
        ModalAnswer inFinder([&](QWidget* modal) {
            EXPECT_EQ(modal, &finder);
            Select("A");
            QTest::mouseClick(Find<QPushButton>(finder, "ButtonOk"), Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>(openCom, "ButtonSelectAmp"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(openCom, "ButtonOk"), Qt::LeftButton);
    });
    ASSERT_TRUE(openCom.EditConnection(connection));
    EXPECT_EQ(connection, "tcp:10.0.0.7:2500") << "TCP checked, host from the finder, port kept";
}

namespace {
// Finds one VXI-11 instrument as soon as it starts, as the broadcast would.
class OneVxi11Instrument final : public InstrumentSearch {
public:
    bool Start(const std::string&, InstrumentSink& sink) override {
        sink.Found({"Veltrask,AmpSim,AS000001,1.0", "10.0.0.8", "VXI-11", "TCPIP::10.0.0.8::inst0::INSTR",
                    "vxi11:10.0.0.8"});
        return true;
    }
    void Stop() override {}
};
} // namespace

TEST_F(FinderWindow, OkOnAVxi11RowOpensTheConnectionDialogWithThatConnection) {
    TFormOpenCom openCom;
    openCom.ListPorts = [] { return std::vector<SerialPortInfo>{}; };
    finder.AttachToOpenCom(openCom);
    finder.AddSearch(TFormAmpFinder::SearchKind::Vxi11, std::make_unique<OneVxi11Instrument>());
    Find<QCheckBox>(finder, "CheckVxi11")->setChecked(true); // off by default: only the hello
    Reply("A", "10.0.0.7");
    std::string connection = "com:ttyUSB0:baud=19200";
    ModalAnswer answer([&](QWidget*) {
        ModalAnswer inFinder([&](QWidget*) {
            finder.StartListener(NowhereAddress);
            ASSERT_TRUE(QTest::qWaitFor([&] { return finder.InstrumentRowCount() == 1; }));
            const auto rows = List()->findItems("10.0.0.8", Qt::MatchExactly, 1);
            ASSERT_EQ(rows.size(), 1);
            List()->setCurrentItem(rows.first());
            QTest::mouseClick(Find<QPushButton>(finder, "ButtonOk"), Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>(openCom, "ButtonSelectAmp"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(openCom, "ButtonOk"), Qt::LeftButton);
    });
    ASSERT_TRUE(openCom.EditConnection(connection));
    EXPECT_EQ(connection, "vxi11:10.0.0.8:inst0");
}

// A typed address is kept for later openings until the operator removes it from the list's menu.
TEST_F(FinderWindow, ARemovedTypedAddressIsForgotten) {
    Find<QLineEdit>(finder, "EditAddress")->setText("192.0.2.7");
    QTest::mouseClick(Find<QPushButton>(finder, "ButtonAdd"), Qt::LeftButton);
    const auto rows = List()->findItems("192.0.2.7", Qt::MatchExactly, 1);
    ASSERT_EQ(rows.size(), 1);
    List()->setCurrentItem(rows.first());
    Action("MenuItemRemove")->trigger();
    EXPECT_TRUE(List()->findItems("192.0.2.7", Qt::MatchExactly, 1).isEmpty());
    TFormAmpFinder reopened;
    EXPECT_TRUE(
        Find<QTreeWidget>(reopened, "ListView1")->findItems("192.0.2.7", Qt::MatchExactly, 1).isEmpty());
}
