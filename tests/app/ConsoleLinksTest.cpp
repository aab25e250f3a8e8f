// The console end to end over every connection kind: a pseudo-terminal, a listening TCP port with
// a client, and GPIB through the simulated driver with its service request.
#include "ConsoleFixture.h"
#include "TestSupport.h"
#include "connection/Gpib.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

TEST_F(ConsoleTest, OverAPseudoTerminal) {
    AmpsimProcess amp({"--pty"});
    ASSERT_FALSE(amp.PtyPath().empty());
    StartWith("com:" + amp.PtyPath() + ":baud=115200");
    ASSERT_TRUE(console->Session().Connected());
    Type("*IDN?");
    ASSERT_TRUE(Until([&] { return LogTexts().size() >= 3; }));
    EXPECT_EQ(LogTexts()[2].rfind("Rx: Veltrask,AmpSim,", 0), 0u) << LogTexts()[2];
}

// The window reads the link on its own thread: a flood comes whole and in order, a turn at a time.
TEST_F(ConsoleTest, AFloodIsLoggedWholeAndInOrder) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    constexpr long Count = 200000;
    Type("FLOOD " + std::to_string(Count));
    const LogLines& lines = console->Log()->Lines();
    const std::string last = "Rx: FLOOD " + std::to_string(Count);
    ASSERT_TRUE(
        Until([&] { return lines.Count() > 0 && lines.Text(lines.Count() - 1).ends_with(last); }, 60000));
    long next = 1;
    for (size_t i = 0; i < lines.Count(); ++i) {
        const std::string text(lines.Text(i));
        const size_t at = text.find("] Rx: FLOOD ");
        if (at == std::string::npos) continue;
        ASSERT_EQ(std::stol(text.substr(at + 12)), next) << text;
        ++next;
    }
    EXPECT_EQ(next, Count + 1);
}

TEST_F(ConsoleTest, AsAListeningServerWithOneClient) {
    int port = FreeLoopbackPort();
    StartWith("tcpsrv:127.0.0.1:" + std::to_string(port));
    TestClient client(port);
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send("hello from the amplifier\r\n"));
    ASSERT_TRUE(Until([&] { return LogHas("Rx: hello from the amplifier"); }));
    Type("STATUS?");
    EXPECT_EQ(client.ReadLine(), "STATUS?\n");
    // The window's own thread turns the second client away: it must be free meanwhile.
    std::atomic<bool> turnedAway = false;
    std::string busy;
    std::thread second([&] {
        busy = TestClient(port).ReadToEnd();
        turnedAway = true;
    });
    EXPECT_TRUE(Until([&] { return turnedAway.load(); }));
    second.join();
    EXPECT_EQ(busy, "ERROR_CONNECTION_BUSY\r\n");
}

TEST_F(ConsoleTest, OverGpibWithTheSimulatedDriverAndItsServiceRequest) {
    ::setenv("CORVANE_GPIBSIM_DEVICES", "0:7", 1);
    ::setenv("CORVANE_GPIBSIM_SRQ_ON", "*OPC", 1);
    StartWith("gpib:0,7:Simulator");
    ASSERT_TRUE(console->Session().Connected()) << (boxes.boxes.empty() ? "" : boxes.boxes.back().text);
    EXPECT_TRUE(console->Session().IsGpib());
    EXPECT_TRUE(Find<QPushButton>("ButtonQ")->isVisible());
    Type("*IDN?"); // ends in '?': Expect Reply reads the answer at once
    ASSERT_TRUE(LogHas("Tx: *IDN?"));
    auto texts = LogTexts();
    EXPECT_EQ(texts.back().rfind("Rx: Veltrask,AmpSim,", 0), 0u) << texts.back();
    // The service request after *OPC leads to a STATUS? query and its reply in the log.
    Type("*OPC");
    ASSERT_TRUE(Until([&] { return LogHas("SRQ!"); }));
    ASSERT_TRUE(Until([&] {
        auto t = LogTexts();
        return !t.empty() && t.back().rfind("Rx: STATUS OK", 0) == 0;
    }));
    texts = LogTexts();
    auto srq = std::find(texts.begin(), texts.end(), "SRQ!");
    ASSERT_NE(srq, texts.end());
    EXPECT_EQ(*(srq + 1), "Tx: STATUS?");
    Find<QPushButton>("ButtonConnDisconn")->click();
    EXPECT_TRUE(LogHas("Disconnected from GPIB adapter."));
    EXPECT_FALSE(IsGpibLibraryLoaded());
    EXPECT_FALSE(Find<QPushButton>("ButtonQ")->isVisible());
}

TEST_F(ConsoleTest, GpibPingPongRunsWithoutNesting) {
    ::setenv("CORVANE_GPIBSIM_DEVICES", "0:7", 1);
    StartWith("gpib:0,7:Simulator");
    ASSERT_TRUE(console->Session().Connected());
    Find<QLineEdit>("EditRawIn")->setText("ECHO ping?");
    Find<QCheckBox>("CheckBoxPingPong")->click();
    ASSERT_TRUE(Until([&] {
        int rx = 0;
        for (const auto& line : LogTexts())
            rx += line == "Rx: ping?";
        return rx >= 200;
    }));
    Find<QCheckBox>("CheckBoxPingPong")->click();
    QApplication::processEvents();
    size_t after = LogTexts().size();
    QApplication::processEvents();
    EXPECT_LE(LogTexts().size(), after + 2) << "unchecked: the chain stops";
}

TEST_F(ConsoleTest, InANarrowWindowTheGpibControlsTakeARowOfTheirOwnAndTheInputLineKeepsItsWidth) {
    StartWith("gpib:0,7:Simulator");
    ASSERT_TRUE(console->Session().Connected());
    auto* input = Find<QLineEdit>("EditRawIn");
    auto* query = Find<QPushButton>("ButtonQ");
    auto sameRow = [&] {
        QApplication::processEvents();
        return query->mapTo(console.get(), QPoint(0, query->height() / 2)).y() ==
               input->mapTo(console.get(), QPoint(0, input->height() / 2)).y();
    };
    console->resize(1600, 700);
    EXPECT_TRUE(sameRow());
    console->resize(640, 700);
    EXPECT_FALSE(sameRow());
    EXPECT_GE(input->width(), 200);
    console->resize(1600, 700);
    EXPECT_TRUE(sameRow());
}

// A connection that opened is offered again in one click, and kept in the settings.
TEST_F(ConsoleTest, ARecentConnectionOpensAgainInOneClick) {
    AmpsimProcess amp;
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    StartWith(connection);
    ASSERT_TRUE(console->Session().Connected());
    EXPECT_EQ(FromQt(Stored("RecentConnections").toString()), connection);
    Find<QPushButton>("ButtonConnDisconn")->click();
    ASSERT_FALSE(console->Session().Connected());
    const QList<QAction*> recent = Find<QMenu>("miRecentConnections")->actions();
    ASSERT_EQ(recent.size(), 1);
    recent.front()->trigger();
    EXPECT_TRUE(console->Session().Connected());
    EXPECT_TRUE(boxes.boxes.empty());
}

// Each connection keeps the line ends it was opened with: the LF simulator picked from the recent
// connections after a CR instrument is spoken to in LF again, and answers.
TEST_F(ConsoleTest, ARecentConnectionOpensWithItsOwnLineEnds) {
    AmpsimProcess lfAmp;
    AmpsimProcess crAmp({"--tcp", "127.0.0.1:0", "--eol", "cr"});
    ASSERT_TRUE(lfAmp.Ready() && crAmp.Ready()) << lfAmp.Error() << crAmp.Error();
    const std::string lf = "tcp:127.0.0.1:" + std::to_string(lfAmp.TcpPort());
    StartWith(lf);
    ASSERT_TRUE(console->Session().Connected());
    console->Session().SetConnection("tcp:127.0.0.1:" + std::to_string(crAmp.TcpPort()));
    AnswerDialog(true, [](TFormOpenCom& dialog) {
        for (const char* name : {"ComboBoxTxEnd", "ComboBoxRxEnd"}) {
            auto* box = dialog.findChild<QComboBox*>(name);
            box->setCurrentIndex(1); // CR
            emit box->activated(1);
        }
    });
    ASSERT_TRUE(console->OpenConnection());
    Type("ECHO cr");
    ASSERT_TRUE(Until([&] { return LogHas("Rx: cr"); }));
    const QList<QAction*> recent = Find<QMenu>("miRecentConnections")->actions();
    ASSERT_EQ(recent.size(), 2);
    ASSERT_EQ(FromQt(recent.back()->text()), lf);
    recent.back()->trigger();
    Type("ECHO lf");
    EXPECT_TRUE(Until([&] { return LogHas("Rx: lf"); })) << testing::PrintToString(LogTexts());
}
