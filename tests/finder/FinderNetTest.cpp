// The finder against simulated amplifiers inside a private network namespace: it binds 10.77.0.1,
// the amplifiers answer on 10.77.0.2. Runs only inside netns-run.
#include "AmpsimProcess.h"
#include "DialogTestHelpers.h"
#include "RecvThreadSupport.h"
#include "finder/Fampfinder.h"

#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {
constexpr int WaitMs = 10000;

class FinderOnTheLan : public testing::Test {
protected:
    void SetUp() override {
        finder.ChooseLocalAddress = [](std::string& address) {
            address = "10.77.0.1";
            return true;
        };
    }
    void TearDown() override { finder.hide(); }

    std::unique_ptr<AmpsimProcess> Amplifier(int number, int count = 1, const char* more = nullptr) {
        std::vector<std::string> args{"--discovery",          "10.77.0.2", "--first-amp",
                                      std::to_string(number), "--amps",    std::to_string(count)};
        if (more) args.emplace_back(more);
        auto ampsim = std::make_unique<AmpsimProcess>(args);
        EXPECT_TRUE(ampsim->Ready()) << ampsim->Error();
        return ampsim;
    }
    void Open() {
        finder.show();
        finder.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finder.LocalAddress() == "10.77.0.1"; }, WaitMs));
    }
    std::vector<std::string> Column(int column) {
        auto* list = Find<QTreeWidget>(finder, "ListView1");
        std::vector<std::string> texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts.push_back(list->topLevelItem(i)->text(column).toStdString());
        return texts;
    }
    // The newest row is selected at the next turn of the event loop.
    std::string SelectedMac() {
        QApplication::processEvents();
        auto selected = Find<QTreeWidget>(finder, "ListView1")->selectedItems();
        return selected.size() == 1 ? selected.first()->text(0).toStdString() : "";
    }
    // Sends text as an amplifier on 10.77.0.2 would and waits until the finder has taken it.
    void Datagram(const std::string& text) {
        size_t seen = finder.DatagramsSeen();
        ASSERT_TRUE(peer.SendTo("10.77.0.1", 8001, text));
        ASSERT_TRUE(QTest::qWaitFor([&] { return finder.DatagramsSeen() > seen; }, WaitMs));
    }

    UdpSocket peer{"10.77.0.2", 0};
    TemporarySettings settings;
    TFormAmpFinder finder;
};
} // namespace

TEST_F(FinderOnTheLan, ListsTheAmplifiersAndDropsOneThatFallsSilent) {
    auto first = Amplifier(1);
    auto second = Amplifier(2);
    auto third = Amplifier(3);
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.RowCount() == 3; }, WaitMs));
    std::vector<std::string> macs = Column(0);
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(macs, (std::vector<std::string>{"0050C2000001", "0050C2000002", "0050C2000003"}));
    std::vector<std::string> ips = Column(1);
    std::sort(ips.begin(), ips.end());
    EXPECT_EQ(ips, (std::vector<std::string>{"10.77.0.2", "10.77.0.3", "10.77.0.4"}));

    second.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.RowCount() == 2; }, WaitMs));
    macs = Column(0);
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(macs, (std::vector<std::string>{"0050C2000001", "0050C2000003"}));
    // The two that answer stay through several more rounds.
    size_t seen = finder.DatagramsSeen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.DatagramsSeen() >= seen + 12; }, WaitMs));
    EXPECT_EQ(finder.RowCount(), 2u);
}

// Broadcast answers reach only sockets bound to all addresses; the finder keeps those that came in
// on its interface.
TEST_F(FinderOnTheLan, HearsAnswersByBroadcastAsWellAsToItself) {
    auto toSender = Amplifier(1);
    auto byBroadcast = Amplifier(2, 1, "--broadcast-reply");
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.RowCount() == 2; }, WaitMs));
    size_t seen = finder.DatagramsSeen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.DatagramsSeen() >= seen + 6; }, WaitMs));
    std::vector<std::string> macs = Column(0);
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(macs, (std::vector<std::string>{"0050C2000001", "0050C2000002"}))
        << "and its own hello, which it hears too, is no amplifier";
}

TEST_F(FinderOnTheLan, RefreshesByMacSelectsTheNewestAndReadsWholeDatagrams) {
    Open();
    Datagram("0050C2AAAAAA 1 10.77.0.20 m n First");
    Datagram("0050C2BBBBBB 1 10.77.0.21 m n Second");
    EXPECT_EQ(SelectedMac(), "0050C2BBBBBB");
    Datagram("0050C2AAAAAA 1 10.77.0.30 m n First");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"0050C2AAAAAA", "0050C2BBBBBB"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"10.77.0.30", "10.77.0.21"}));

    Datagram("0050C2CCCCCC 1 10.77.0.22 m n");             // five tokens
    Datagram("0 1 A");                                     // a hello
    Datagram("0050C2DDDDDD 1 10.77.0.23 m n Seven extra"); // seven tokens
    EXPECT_EQ(finder.RowCount(), 3u);
    EXPECT_EQ(SelectedMac(), "0050C2DDDDDD");

    // Its name is the last of 1599 bytes: a receiver that cut the datagram would see five tokens.
    std::string head = "0050C2EEEEEE 1 10.77.0.24 m n ";
    Datagram(head + std::string(1599 - head.size() - 4, ' ') + "Long");
    EXPECT_EQ(finder.RowCount(), 4u);
    EXPECT_EQ(Column(2).back(), "Long");
}
