// TRecvThread's UDP mode on the two addresses of a private network namespace (10.77.0.1 and
// 10.77.0.2 on a veth pair): the peer text of a datagram and a broadcast sent with ":8001".
// Runs only inside netns-run.
#include "RecvThreadSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {
class RecvThreadUdp : public testing::Test {
protected:
    void SetUp() override {
        thread = TRecvThread::Create(ui);
        recorder.Attach(*thread);
        thread->Open("udp:10.77.0.1:8001");
        thread->Resume();
        ASSERT_EQ(thread->LocalPort(), 8001);
    }
    void TearDown() override {
        thread->Close();
        EXPECT_TRUE(TRecvThread::WaitForAllEnded(ui, std::chrono::seconds(5)));
    }

    Handover ui;
    RecvRecorder recorder;
    TRecvThread* thread = nullptr;
};
} // namespace

TEST_F(RecvThreadUdp, ADatagramNamesItsSender) {
    UdpSocket amplifier("10.77.0.2", 8001);
    ASSERT_TRUE(amplifier.Ok());
    ASSERT_TRUE(amplifier.SendTo("10.77.0.1", 8001, "abc"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.data.size() == 1; }));
    EXPECT_EQ(recorder.data[0].peer, "10.77.0.2:8001");
    EXPECT_EQ(recorder.data[0].bytes, "abc");
    EXPECT_EQ(recorder.data[0].length, 3);
}

TEST_F(RecvThreadUdp, ColonPortBroadcastsToThatPort) {
    UdpSocket listener("0.0.0.0", 8001); // a broadcast reaches only sockets bound to all addresses
    ASSERT_TRUE(listener.Ok());
    EXPECT_EQ(thread->Send(":8001", "0 1 A", 5), 5);
    std::string from;
    EXPECT_EQ(listener.Receive(from), "0 1 A");
    EXPECT_EQ(from, "10.77.0.1:8001");
    EXPECT_EQ(thread->Send("", "again", 5), 5) << "no destination: the broadcast address on the port of Open";
    EXPECT_EQ(listener.Receive(from), "again");
}
