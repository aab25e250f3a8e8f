// TIO as a listening TCP port that serves one client, and the TCP transports' edge results.
#include "TestSupport.h"
#include "TioRecorder.h"
#include "connection/Sockets.h"
#include "connection/TcpConnection.h"
#include "connection/TraceIo.h"
#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {
class TioServer : public testing::Test {
protected:
    void SetUp() override {
        SetTraceStream(nullptr);
        recorder.Attach(*io);
    }
    void TearDown() override { SetTraceStream(stdout); }

    int ListenLocally() {
        EXPECT_TRUE(io->Open("tcpsrv:127.0.0.1:0")) << "listening counts as opened";
        EXPECT_EQ(recorder.connected, 1);
        auto* server = dynamic_cast<TTcpServerConnection*>(io->Transport());
        return server ? server->LocalPort() : 0;
    }

    Handover ui;
    TioRecorder recorder;
    std::unique_ptr<TIO> io = std::make_unique<TIO>(ui);
};
} // namespace

TEST_F(TioServer, ServesOneClientAndTurnsASecondOneAway) {
    int port = ListenLocally();
    ASSERT_GT(port, 0);
    EXPECT_TRUE(io->IsOpen()) << "listening counts as open";
    EXPECT_FALSE(io->Send("to nobody\n")) << "no client: nothing is sent";
    EXPECT_EQ(io->SendFailure(), "no client is connected");
    EXPECT_TRUE(recorder.tx.empty());
    TestClient first(port);
    ASSERT_TRUE(first.Connected());
    ASSERT_TRUE(first.Send("hello\r\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 1; }));
    EXPECT_EQ(recorder.rx[0], "hello\r");
    EXPECT_TRUE(io->IsOpen());

    TestClient second(port);
    ASSERT_TRUE(second.Connected());
    EXPECT_EQ(second.ReadToEnd(), "ERROR_CONNECTION_BUSY\r\n") << "exactly 23 bytes, then closed";

    ASSERT_TRUE(io->Send("reply\n"));
    EXPECT_EQ(first.ReadLine(), "reply\n") << "the first client is not disturbed";
    ASSERT_TRUE(first.Send("more\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 2; }));
    EXPECT_EQ(recorder.disconnected, 0);
}

TEST_F(TioServer, AfterAClientLeavesTheNextOneIsServedAndBothAreTold) {
    int port = ListenLocally();
    {
        TestClient client(port);
        ASSERT_TRUE(client.Send("x\nhalf"));
        ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 1; }));
    }
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.status.size() == 2; }));
    EXPECT_EQ(recorder.rx, (std::vector<std::string>{"x", "half (incomplete)"}));
    EXPECT_EQ(recorder.status[0].rfind("Client 127.0.0.1:", 0), 0u) << recorder.status[0];
    EXPECT_NE(recorder.status[0].find(" connected."), std::string::npos);
    EXPECT_NE(recorder.status[1].find(" left."), std::string::npos);
    EXPECT_TRUE(io->IsOpen());
    EXPECT_EQ(recorder.disconnected, 0);

    TestClient next(port);
    ASSERT_TRUE(next.Send("again\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 3; }));
    ASSERT_TRUE(io->Send("served\n"));
    EXPECT_EQ(next.ReadLine(), "served\n");
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioServer, DestroyWhileWaitingForTheFirstClientReturnsAtOnce) {
    ASSERT_GT(ListenLocally(), 0);
    auto start = std::chrono::steady_clock::now();
    io.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioServer, APortTextThatIsNoIntegerFailsTheOpenWithTheConversionText) {
    EXPECT_FALSE(io->Open("tcpsrv::25x0"));
    EXPECT_EQ(io->EndReason(), "Port '25x0' is not a valid integer value");
    EXPECT_EQ(recorder.connected, 0);
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioServer, ABadLocalAddressOrABusyPortFails) {
    EXPECT_FALSE(io->Open("tcpsrv:localhost:0")) << "the local address must be dotted";
    TTcpServerConnection first;
    ASSERT_FALSE(first.IsOpen());
    TTcpServerConnection taken;
    // Listening works without a client; a second object on the same port is refused.
    ASSERT_TRUE(first.Open("127.0.0.1:0"));
    EXPECT_FALSE(first.Open("127.0.0.1:0")) << "already listening";
    EXPECT_FALSE(taken.Open("127.0.0.1:" + std::to_string(first.LocalPort())));
    EXPECT_FALSE(TTcpServerConnection().Open(":70000"));
}

TEST(TcpClientConnection, ResultsOfAClosedOrNeverConnectedObject) {
    SetTraceStream(nullptr);
    TTcpClientConnection client;
    char buffer[16];
    EXPECT_EQ(client.Read(buffer, sizeof buffer, -1), -1);
    EXPECT_EQ(client.Write("x", 1), -1);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_FALSE(client.Open(":2500")) << "no host";
    TTcpServerConnection server;
    ASSERT_TRUE(server.Open("127.0.0.1:0"));
    ASSERT_TRUE(client.Open("127.0.0.1:" + std::to_string(server.LocalPort())));
    EXPECT_FALSE(client.Open("127.0.0.1:1")) << "already open";
    // The server accepts inside Read; with a time-out and no data its Read ends with -1.
    EXPECT_EQ(server.Read(buffer, sizeof buffer, 50), -1);
    EXPECT_TRUE(server.IsOpen());
    EXPECT_EQ(client.Read(buffer, sizeof buffer, 20), -1) << "time-out";
    server.Close();
    EXPECT_EQ(client.Read(buffer, sizeof buffer, 2000), -1) << "peer closed";
    EXPECT_FALSE(client.IsOpen());
    SetTraceStream(stdout);
}

TEST(Sockets, StartupCountAndUdpBinding) {
    int before = SocketUsers();
    {
        TTcpClientConnection a;
        TTcpServerConnection b;
        EXPECT_EQ(SocketUsers(), before + 2);
    }
    EXPECT_EQ(SocketUsers(), before);
    EXPECT_EQ(UdpOpen(0, ""), NoSocket) << "an empty address is rejected";
    EXPECT_EQ(UdpOpen(0, "not.an.address"), NoSocket);
    int udp = UdpOpen(0, "127.0.0.1");
    EXPECT_NE(udp, NoSocket);
    CloseSocket(udp);
    uint32_t address = 0;
    EXPECT_TRUE(LookupHost("127.0.0.1", address));
    EXPECT_TRUE(LookupHost("localhost", address));
    EXPECT_FALSE(LookupHost("", address));
}
