// TRecvThread over loopback sockets and a pseudo-terminal: every mode, the peer texts, the
// destination rules of Send, and the object's end (Close from anywhere, the loop ending first).
#include "AmpsimProcess.h"
#include "RecvThreadSupport.h"
#include "TestSupport.h"
#include "connection/Sockets.h"
#include "connection/TraceIo.h"
#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {
constexpr auto EndBudget = std::chrono::milliseconds(5000);

class RecvThreadTest : public testing::Test {
protected:
    void SetUp() override { SetTraceStream(nullptr); }
    void TearDown() override {
        if (thread) thread->Close();
        EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget));
        SetTraceStream(stdout);
    }

    // A UDP receiver on 127.0.0.1 with a port of the system's choice.
    int OpenUdp() {
        thread = TRecvThread::Create(ui);
        recorder.Attach(*thread);
        thread->Open("udp:127.0.0.1:0");
        thread->Resume();
        return thread->LocalPort();
    }
    bool Run(const std::function<bool()>& done) { return RunUntil(ui, done); }
    void CloseThread() { std::exchange(thread, nullptr)->Close(); }

    Handover ui;
    RecvRecorder recorder;
    TRecvThread* thread = nullptr;
};
} // namespace

TEST_F(RecvThreadTest, AUdpDatagramArrivesWithItsSenderWholeAndTerminated) {
    int port = OpenUdp();
    ASSERT_GT(port, 0);
    UdpSocket peer("127.0.0.1", 0);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, "abc"));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, "")) << "an empty datagram neither ends nor reaches anything";
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, std::string(1599, 'x')));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, std::string(1700, 'y')));
    ASSERT_TRUE(Run([&] { return recorder.data.size() == 3; }));
    const std::string from = "127.0.0.1:" + std::to_string(peer.Port());
    EXPECT_EQ(recorder.data[0].peer, from);
    EXPECT_EQ(recorder.data[0].bytes, "abc");
    EXPECT_EQ(recorder.data[0].length, 3);
    EXPECT_EQ(recorder.data[1].length, 1599) << "the longest datagram is delivered whole";
    EXPECT_EQ(recorder.data[2].bytes, std::string(1599, 'y')) << "a longer one is cut";
    for (const auto& data : recorder.data)
        EXPECT_TRUE(data.terminated);
    EXPECT_TRUE(recorder.disconnected.empty());
}

TEST_F(RecvThreadTest, UdpSendGoesToTheResolvedHostAndTheLeadingPortNumber) {
    OpenUdp();
    UdpSocket peer("127.0.0.1", 0);
    const std::string port = std::to_string(peer.Port());
    std::string from;
    EXPECT_EQ(thread->Send("127.0.0.1:" + port, "one", 3), 3);
    EXPECT_EQ(peer.Receive(from), "one");
    EXPECT_EQ(from, "127.0.0.1:" + std::to_string(thread->LocalPort()));
    EXPECT_EQ(thread->Send("localhost: " + port + "junk", "two", 3), 3);
    EXPECT_EQ(peer.Receive(from), "two");
    EXPECT_EQ(thread->Send("no-such-host.invalid:" + port, "x", 1), 0);
}

TEST_F(RecvThreadTest, CloseEndsAUdpLoopWithOneOnDisconnected) {
    OpenUdp();
    UdpSocket peer("127.0.0.1", 0);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", thread->LocalPort(), "abc"));
    ASSERT_TRUE(Run([&] { return recorder.data.size() == 1; }));
    CloseThread();
    EXPECT_EQ(recorder.disconnected, (std::vector<std::string>{"127.0.0.1:" + std::to_string(peer.Port())}));
    EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget)) << "the blocked loop was released";
    EXPECT_EQ(recorder.disconnected.size(), 1u);
}

TEST_F(RecvThreadTest, AUdpReceiverWithoutAnAddressHasNoSocket) {
    thread = TRecvThread::Create(ui);
    recorder.Attach(*thread);
    thread->Open("udp::8001");
    thread->Resume();
    EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget)) << "its loop ends at once";
    EXPECT_EQ(thread->Send(":8001", "0 1 A", 5), 0);
    CloseThread();
    EXPECT_TRUE(recorder.disconnected.empty());
    EXPECT_TRUE(recorder.data.empty());
}

TEST_F(RecvThreadTest, CloseFromInsideOnDataStopsEveryLaterNotification) {
    int port = OpenUdp();
    thread->SetOnData([&](const std::string&, const char* bytes, int length) {
        recorder.data.push_back({"", std::string(bytes, static_cast<size_t>(length)), length, true});
        CloseThread();
    });
    UdpSocket peer("127.0.0.1", 0);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, "first"));
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, "second"));
    ASSERT_TRUE(Run([&] { return !recorder.data.empty(); }));
    EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget));
    EXPECT_EQ(recorder.data.size(), 1u);
    EXPECT_EQ(recorder.disconnected.size(), 1u) << "from Close, once";
}

TEST_F(RecvThreadTest, CloseWhileADeliveryWaitsDropsIt) {
    std::mutex lock;
    std::condition_variable queuedCv;
    bool queued = false;
    ui.SetWakeup([&] {
        std::lock_guard guard(lock);
        queued = true;
        queuedCv.notify_all();
    });
    int port = OpenUdp();
    UdpSocket peer("127.0.0.1", 0);
    ASSERT_TRUE(peer.SendTo("127.0.0.1", port, "late"));
    {
        // The hand-over is queued; the UI thread does not run it yet.
        std::unique_lock guard(lock);
        queuedCv.wait(guard, [&] { return queued; });
    }
    CloseThread();
    EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget)) << "runs the waiting step and lets the loop end";
    EXPECT_TRUE(recorder.data.empty()) << "the owner let go before the step ran";
    ui.SetWakeup({});
}

TEST_F(RecvThreadTest, AServerTakesThreeClientsAndTurnsAFourthAwayAtOnce) {
    thread = TRecvThread::Create(ui);
    recorder.Attach(*thread);
    thread->Open("tcpserver:127.0.0.1:0");
    thread->Resume();
    int port = thread->LocalPort();
    ASSERT_GT(port, 0);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(Run([&] { return recorder.connected.size() == clients.size(); }));
    }
    TestClient fourth(port);
    ASSERT_TRUE(fourth.Connected()) << "accepted";
    EXPECT_EQ(fourth.ReadToEnd(), "") << "and closed at once";
    EXPECT_EQ(recorder.connected.size(), 3u);

    ASSERT_TRUE(clients[1]->Send("hi"));
    ASSERT_TRUE(Run([&] { return recorder.data.size() == 1; }));
    EXPECT_EQ(recorder.data[0].peer, recorder.connected[1]);
    EXPECT_EQ(recorder.data[0].bytes, "hi");
    EXPECT_EQ(thread->Send(recorder.connected[2], "to three\n", 9), 9);
    EXPECT_EQ(clients[2]->ReadLine(), "to three\n");
    EXPECT_EQ(thread->Send("127.0.0.1:1", "nobody", 6), 0);

    clients[0].reset();
    ASSERT_TRUE(Run([&] { return recorder.disconnected.size() == 1; }));
    EXPECT_EQ(recorder.disconnected[0], recorder.connected[0]);
    TestClient next(port);
    ASSERT_TRUE(Run([&] { return recorder.connected.size() == 4; })) << "the freed slot takes a new client";
    CloseThread();
    EXPECT_EQ(recorder.disconnected.size(), 1u) << "a server reports no end of its own on Close";
}

TEST_F(RecvThreadTest, ATcpClientTalksToTheSimulatedAmplifier) {
    AmpsimProcess ampsim;
    ASSERT_TRUE(ampsim.Ready()) << ampsim.Error();
    thread = TRecvThread::Create(ui);
    recorder.Attach(*thread);
    thread->Open("tcpclient:127.0.0.1:" + std::to_string(ampsim.TcpPort()));
    thread->Resume();
    ASSERT_TRUE(Run([&] { return recorder.connected.size() == 1; }));
    EXPECT_EQ(recorder.connected[0], "127.0.0.1:" + std::to_string(ampsim.TcpPort()));
    EXPECT_EQ(thread->Send("", "*IDN?\n", 6), 6);
    std::string received;
    ASSERT_TRUE(Run([&] {
        received.clear();
        for (const auto& data : recorder.data)
            received += data.bytes;
        return received.find('\n') != std::string::npos;
    }));
    EXPECT_EQ(received, "Veltrask,AmpSim,AS000001,1.0\r\n");
    EXPECT_EQ(thread->Send("", "DROP\n", 5), 5);
    ASSERT_TRUE(Run([&] { return recorder.disconnected.size() == 1; })) << "the peer ended the loop";
    CloseThread(); // the object waited for the owner's Close; ASan sees no use after free
    EXPECT_EQ(recorder.disconnected.size(), 1u);
}

TEST_F(RecvThreadTest, ATcpClientThatCannotConnectReportsTheEnd) {
    int freePort = 0;
    {
        UdpSocket probe("127.0.0.1", 0); // a port nobody listens on with TCP
        freePort = probe.Port();
    }
    thread = TRecvThread::Create(ui);
    recorder.Attach(*thread);
    thread->Open("tcp:127.0.0.1:" + std::to_string(freePort));
    thread->Resume();
    ASSERT_TRUE(Run([&] { return recorder.disconnected.size() == 1; }));
    EXPECT_TRUE(recorder.connected.empty());
}

TEST_F(RecvThreadTest, ASerialPortDeliversItsBytesAndTakesWrites) {
    PtyPair pty;
    thread = TRecvThread::Create(ui);
    recorder.Attach(*thread);
    thread->Open("serial:" + pty.SlavePath() + ":baud=19200 parity=E data=8 stop=1");
    EXPECT_EQ(recorder.connected, (std::vector<std::string>{pty.SlavePath()})) << "from Open itself";
    thread->Resume();
    ASSERT_TRUE(pty.Write("xyz"));
    ASSERT_TRUE(Run([&] { return !recorder.data.empty(); }));
    EXPECT_EQ(recorder.data[0].peer, pty.SlavePath());
    EXPECT_EQ(recorder.data[0].bytes.substr(0, 1), "x");
    EXPECT_EQ(thread->Send("", "ok\n", 3), 3);
    EXPECT_EQ(pty.ReadLine(), "ok\n");
    CloseThread();
    EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, EndBudget));
    EXPECT_TRUE(recorder.disconnected.empty());
}

struct OpenCase {
    const char* connection;
    TRecvThread::Mode mode;
    bool throws;
};
class RecvThreadOpen : public testing::TestWithParam<OpenCase> {};

TEST_P(RecvThreadOpen, KindsAndAliasesPickTheMode) {
    Handover ui;
    TRecvThread* thread = TRecvThread::Create(ui);
    if (GetParam().throws) {
        EXPECT_THROW(thread->Open(GetParam().connection), EConvertError);
    } else {
        thread->Open(GetParam().connection);
        EXPECT_EQ(thread->GetMode(), GetParam().mode);
    }
    thread->Close(); // never resumed: Close alone frees it
}

INSTANTIATE_TEST_SUITE_P(Cases, RecvThreadOpen,
                         testing::Values(OpenCase{"tcp:127.0.0.1:1", TRecvThread::Mode::TcpClient, false},
                                         OpenCase{"tcpclient:127.0.0.1:1", TRecvThread::Mode::TcpClient,
                                                  false},
                                         OpenCase{"server:127.0.0.1:0", TRecvThread::Mode::TcpServer, false},
                                         OpenCase{"tcpserver::0", TRecvThread::Mode::TcpServer, false},
                                         OpenCase{"udp:127.0.0.1:0", TRecvThread::Mode::Udp, false},
                                         OpenCase{"udpclient:127.0.0.1:0", TRecvThread::Mode::Udp, false},
                                         OpenCase{"com:no-such-port", TRecvThread::Mode::Serial, false},
                                         OpenCase{"UDP:127.0.0.1:0", TRecvThread::Mode::Serial, false},
                                         OpenCase{"udp:127.0.0.1:abc", TRecvThread::Mode::Udp, true},
                                         OpenCase{"tcp:127.0.0.1:", TRecvThread::Mode::TcpClient, true},
                                         OpenCase{"server::8x", TRecvThread::Mode::TcpServer, true}));
