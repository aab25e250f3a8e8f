// TIO against the simulated amplifier over loopback TCP.
#include "AmpsimProcess.h"
#include "RecordingBoxes.h"
#include "TestSupport.h"
#include "TioRecorder.h"
#include "connection/TraceIo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace {
class TioTcp : public testing::Test {
protected:
    void SetUp() override {
        SetTraceStream(nullptr);
        ASSERT_GT(amp.TcpPort(), 0);
        recorder.Attach(*io);
    }
    void TearDown() override { SetTraceStream(stdout); }

    std::string Address() const { return "tcp:127.0.0.1:" + std::to_string(amp.TcpPort()); }
    bool WaitRx(size_t count, int timeoutMs = 10000) {
        return RunUntil(
            ui, [&] { return recorder.rx.size() >= count; }, timeoutMs);
    }

    Handover ui;
    AmpsimProcess amp{{"--tcp", "127.0.0.1:0"}};
    TioRecorder recorder;
    std::unique_ptr<TIO> io = std::make_unique<TIO>(ui);
};
} // namespace

TEST_F(TioTcp, SendEchoesAndTheReplyArrivesAsALineWithItsCarriageReturn) {
    ASSERT_TRUE(io->Open(Address()));
    EXPECT_EQ(recorder.connected, 1);
    EXPECT_TRUE(io->IsOpen());
    ASSERT_TRUE(io->Send("ECHO hello #1\n"));
    EXPECT_EQ(recorder.tx, std::vector<std::string>{"ECHO hello #1\n"});
    EXPECT_EQ(io->LastSent(), "ECHO hello #1\n");
    ASSERT_TRUE(WaitRx(1));
    EXPECT_EQ(recorder.rx[0], "hello #1\r");
    EXPECT_EQ(io->LastReceived(), "hello #1\r");
}

TEST_F(TioTcp, QueryReturnsTheReplyAndHandsItToOnRxLineOnce) {
    ASSERT_TRUE(io->Open(Address()));
    std::string reply;
    ASSERT_TRUE(io->Query("*IDN?\n", reply, 2000));
    EXPECT_EQ(reply.rfind("Veltrask,AmpSim,", 0), 0u) << reply;
    EXPECT_EQ(recorder.rx, std::vector<std::string>{reply});
    EXPECT_EQ(recorder.tx, std::vector<std::string>{"*IDN?\n"}) << "echoed once";
}

TEST_F(TioTcp, QueryTimeOutGivesQuestionMarksAndLinesFlowAgainAfterwards) {
    ASSERT_TRUE(io->Open(Address()));
    std::string reply = "untouched";
    EXPECT_FALSE(io->Query("NOREPLY\n", reply, 100));
    EXPECT_EQ(reply, "???");
    EXPECT_TRUE(recorder.rx.empty());
    ASSERT_TRUE(io->Send("ECHO after\n"));
    ASSERT_TRUE(WaitRx(1));
    EXPECT_EQ(recorder.rx[0], "after\r");
}

TEST_F(TioTcp, LinesAfterAQuerysReplyFollowItInOrderNoneLateNoneLost) {
    ASSERT_TRUE(io->Open(Address()));
    std::string reply;
    ASSERT_TRUE(io->Query("MULTI? 3\n", reply, 2000));
    EXPECT_EQ(reply, "MULTI 1/3\r");
    // The later lines of the reply arrive while the query is done; each is delivered once, in
    // order, without waiting for another line to push it out.
    ASSERT_TRUE(WaitRx(3));
    EXPECT_EQ(recorder.rx, (std::vector<std::string>{"MULTI 1/3\r", "MULTI 2/3\r", "MULTI 3/3\r"}));
    ASSERT_TRUE(io->Query("ECHO next\n", reply, 2000));
    EXPECT_EQ(reply, "next\r");
    EXPECT_EQ(recorder.rx.size(), 4u);
}

TEST_F(TioTcp, AQueryStartedWhileLinesAreHandedOverDoesNotLockUp) {
    ASSERT_TRUE(io->Open(Address()));
    // The flood's lines are handed over one by one while the query starts: the query must not
    // lock up with a reader that waits for a hand-over, and must answer with a line that arrived
    // after its command (the flood may still be running, so either kind may come first).
    ASSERT_TRUE(io->Send("FLOOD 50\n"));
    std::string reply;
    ASSERT_TRUE(io->Query("ECHO mine\n", reply, 5000));
    EXPECT_TRUE(reply == "mine\r" || reply.rfind("FLOOD ", 0) == 0) << reply;
}

TEST_F(TioTcp, PeerClosingMidLineGivesOneDisconnectAndClosesTheTransport) {
    ASSERT_TRUE(io->Open(Address()));
    ASSERT_TRUE(io->Send("DROP\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.disconnected == 1; }));
    EXPECT_FALSE(io->IsOpen());
    // The unfinished line is delivered, marked, rather than lost without a trace.
    ASSERT_EQ(recorder.rx.size(), 1u);
    EXPECT_NE(recorder.rx[0].find(" (incomplete)"), std::string::npos) << recorder.rx[0];
    EXPECT_EQ(io->EndReason(), "the peer closed the connection");
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioTcp, AThrowingHandlerIsReportedAndEndsTheConnectionCleanly) {
    RecordingBoxes boxes;
    io->SetOnRxLine([](const std::string&, TIO*) { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(io->Open(Address()));
    ASSERT_TRUE(io->Send("ECHO x\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.disconnected == 1 && !boxes.boxes.empty(); }));
    EXPECT_EQ(boxes.boxes.front().text, "handler failed");
    EXPECT_FALSE(io->IsOpen());
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioTcp, DestroyingAnOpenConnectionGivesExactlyOneDisconnect) {
    ASSERT_TRUE(io->Open(Address()));
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioTcp, CloseReleasesABlockedReadAtOnce) {
    ASSERT_TRUE(io->Open(Address()));
    auto start = std::chrono::steady_clock::now();
    io->Close();
    ASSERT_TRUE(RunUntil(
        ui, [&] { return recorder.disconnected == 1; }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(io->IsOpen());
}

TEST_F(TioTcp, UnknownKindsFailWithoutNotificationAndDestroyGivesOneDisconnect) {
    for (const char* connection : {"gpib:0,7:Agilent", "udp:127.0.0.1:8001", "", "TCP:127.0.0.1:1"}) {
        TioRecorder seen; // outlives the TIO, whose destruction still tells it of the end
        TIO other(ui);
        seen.Attach(other);
        EXPECT_FALSE(other.Open(connection)) << connection;
        EXPECT_FALSE(other.IsOpen());
        EXPECT_FALSE(other.Send("x\n"));
        EXPECT_EQ(seen.connected + seen.disconnected, 0);
        ui.RunPending();
        EXPECT_EQ(seen.disconnected, 0);
        std::string reply;
        EXPECT_FALSE(other.Query("x\n", reply, 10));
    }
    TioRecorder seen;
    {
        TIO other(ui);
        seen.Attach(other);
        other.Open("serial:ttyS9");
    }
    EXPECT_EQ(seen.disconnected, 1);
}

TEST_F(TioTcp, FailedConnectEndsTheReaderWithOneDisconnect) {
    ASSERT_FALSE(io->Open("tcp:127.0.0.1")) << "no port field means port 0";
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.disconnected == 1; }));
    EXPECT_EQ(recorder.connected, 0);
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
}

TEST_F(TioTcp, NoLineIsLostOrReorderedInAFlood) {
    // CORVANE_STRESS_SCALE divides the count for the slow sanitizer builds.
    const char* scaleText = std::getenv("CORVANE_STRESS_SCALE");
    const int scale = scaleText ? std::max(1, std::atoi(scaleText)) : 1;
    const size_t count = 100000 / static_cast<size_t>(scale);
    recorder.rx.reserve(count);
    ASSERT_TRUE(io->Open(Address()));
    ASSERT_TRUE(io->Send("FLOOD " + std::to_string(count) + "\n"));
    ASSERT_TRUE(WaitRx(count, 120000)) << recorder.rx.size() << " lines arrived";
    for (size_t i = 0; i < count; ++i) {
        ASSERT_EQ(recorder.rx[i], "FLOOD " + std::to_string(i + 1) + "\r") << "line " << i;
    }
}
