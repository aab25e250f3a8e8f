// One search of every kind at once, as the operator runs it: an ampsim on the second host
// (10.77.0.2) answers the hello and the VXI-11 broadcast and serves a raw socket on port 5025, which
// python3-zeroconf announces there by mDNS (tests/support/mdns-env, with an avahi-daemon of the
// test's own). Each kind's row, taken with OK into the connection dialog, opens a connection that
// answers *IDN?. Runs only inside netns-run --two-hosts under mdns-env.
#include "AmpsimProcess.h"
#include "DialogTestHelpers.h"
#include "SecondHost.h"
#include "TempDir.h"
#include "connection/Fopencom.h"
#include "finder/Fampfinder.h"
#include "finder/MdnsSearch.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {
constexpr int WaitMs = 15000;
constexpr int FoundByColumn = 3;

// What a one-line script's *IDN? gets back over connection, through the runner.
std::string IdnOver(const std::string& connection) {
    TempDir dir;
    dir.Write("idn.txt", "*IDN?\n");
    const std::string command = std::string(CORVANE_BIN_DIR "/corvane-batch ") +
                                (dir.Path() / "idn.txt").string() + " --connect " + connection +
                                " --reply-timeout 3000 --max-seconds 10 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        ::pclose(pipe);
    }
    return output;
}

class FinderAllKinds : public testing::Test {
protected:
    void SetUp() override {
        OnSecondHost there;
        ASSERT_TRUE(there.Entered()) << "run through netns-run --two-hosts";
        instrument = std::make_unique<AmpsimProcess>(
            std::vector<std::string>{"--discovery", "10.77.0.2", "--vxi11", "10.77.0.2:111",
                                     "--portmapper-udp", "10.77.0.2", "--tcp", "10.77.0.2:5025"});
        ASSERT_TRUE(instrument->Ready()) << instrument->Error();
    }

    QTreeWidget* List() { return Find<QTreeWidget>(finder, "ListView1"); }
    QTreeWidgetItem* RowFoundBy(const QString& how) {
        const auto rows = List()->findItems(how, Qt::MatchExactly, FoundByColumn);
        return rows.isEmpty() ? nullptr : rows.first();
    }
    // OK on the row found by how, in the finder opened from the connection dialog; the dialog's
    // connection afterwards. The dialog starts on port 5025, which a hello row keeps.
    std::string ConnectionOfRow(const QString& how) {
        TFormOpenCom openCom;
        openCom.ListPorts = [] { return std::vector<SerialPortInfo>{}; };
        finder.AttachToOpenCom(openCom);
        std::string connection = "tcp:127.0.0.1:5025";
        ModalAnswer answer([&](QWidget*) {
            ModalAnswer inFinder([&](QWidget*) {
                QTreeWidgetItem* row = nullptr;
                EXPECT_TRUE(QTest::qWaitFor([&] { return (row = RowFoundBy(how)) != nullptr; }, WaitMs))
                    << how.toStdString();
                if (row) List()->setCurrentItem(row);
                QTest::mouseClick(Find<QPushButton>(finder, "ButtonOk"), Qt::LeftButton);
            });
            QTest::mouseClick(Find<QPushButton>(openCom, "ButtonSelectAmp"), Qt::LeftButton);
            QTest::mouseClick(Find<QPushButton>(openCom, "ButtonOk"), Qt::LeftButton);
        });
        EXPECT_TRUE(openCom.EditConnection(connection));
        return connection;
    }

    std::unique_ptr<AmpsimProcess> instrument;
    TemporarySettings settings;
    TFormAmpFinder finder;
};
} // namespace

TEST_F(FinderAllKinds, OneSearchListsHelloVxi11AndMdnsRowsAndEachOpensItsConnection) {
    auto mdns = MakeMdnsSearch();
    ASSERT_NE(mdns, nullptr) << "built without Avahi's client library";
    finder.AddSearch(TFormAmpFinder::SearchKind::Mdns, std::move(mdns));
    Find<QCheckBox>(finder, "CheckVxi11")->setChecked(true);
    Find<QCheckBox>(finder, "CheckMdns")->setChecked(true);
    finder.ChooseLocalAddress = [](std::string& address) {
        address = "10.77.0.1";
        return true;
    };

    const std::string hello = ConnectionOfRow("hello");
    EXPECT_EQ(hello, "tcp:10.77.0.2:5025");
    const std::string vxi11 = ConnectionOfRow("VXI-11");
    EXPECT_EQ(vxi11, "vxi11:10.77.0.2:inst0");
    const std::string scpiRaw = ConnectionOfRow("mDNS _scpi-raw._tcp");
    EXPECT_EQ(scpiRaw, "tcp:10.77.0.2:5025");
    for (const std::string& connection : {hello, vxi11, scpiRaw})
        EXPECT_NE(IdnOver(connection).find("Veltrask,AmpSim"), std::string::npos) << connection;
}
