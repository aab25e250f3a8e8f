// The ampsim program over loopback TCP, started through AmpsimProcess.
#include <chrono>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "AmpsimProcess.h"
#include "LineChannel.h"
#include "Options.h"
#include "connection/Vxi11Client.h"

namespace {

using Clock = std::chrono::steady_clock;

class AmpsimTcp : public testing::Test {
protected:
    void start(std::vector<std::string> args = {}) {
        sim_ = std::make_unique<AmpsimProcess>(std::move(args));
        ASSERT_TRUE(sim_->Ready()) << sim_->Error();
        ASSERT_GT(sim_->TcpPort(), 0);
    }
    LineChannel connect() {
        LineChannel channel = LineChannel::tcp(sim_->TcpPort());
        EXPECT_TRUE(channel.valid());
        return channel;
    }
    // The simulator still answers a fresh client.
    void expectAlive() {
        LineChannel probe = connect();
        ASSERT_TRUE(probe.send("*IDN?\n"));
        EXPECT_EQ(probe.readLine(), "Veltrask,AmpSim,AS000001,1.0\r");
    }

    std::unique_ptr<AmpsimProcess> sim_;
};

} // namespace

TEST_F(AmpsimTcp, AnswersLinesWithCrLfInOrder) {
    start();
    LineChannel client = connect();
    ASSERT_TRUE(client.send("NOREPLY\nSTATUS?\n\nMULTI? 3\nSVC QB 5 SVC CONV DN 00 13?\nbogus\r\n"));
    std::optional<std::string> status = client.readLine();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->starts_with("STATUS OK ")) << *status;
    EXPECT_TRUE(status->ends_with("\r"));
    EXPECT_EQ(client.readLine(), "MULTI 1/3\r");
    EXPECT_EQ(client.readLine(), "MULTI 2/3\r");
    EXPECT_EQ(client.readLine(), "MULTI 3/3\r");
    EXPECT_EQ(client.readLine(), "CONV 00 13 0000 0000 U\r");
    EXPECT_EQ(client.readLine(), "ERROR_UNKNOWN_COMMAND\r");
}

TEST_F(AmpsimTcp, FloodArrivesCompleteAndInOrderThenTheNextCommand) {
    start();
    LineChannel client = connect();
    ASSERT_TRUE(client.send("FLOOD 100000\nECHO after\n"));
    for (int i = 1; i <= 100000; ++i) {
        std::optional<std::string> line = client.readLine();
        ASSERT_EQ(line, "FLOOD " + std::to_string(i) + "\r");
    }
    EXPECT_EQ(client.readLine(), "after\r");
}

// A client that reads nothing while a long reply is pending must not hold up another one.
TEST_F(AmpsimTcp, ServesTwoClientsAtOnce) {
    start();
    LineChannel greedy = connect();
    LineChannel other = connect();
    ASSERT_TRUE(greedy.send("FLOOD 1000000\n"));
    ASSERT_TRUE(greedy.readLine());
    ASSERT_TRUE(other.send("ECHO other\n"));
    EXPECT_EQ(other.readLine(), "other\r");
    greedy.close(); // vanishes in the middle of its flood
    expectAlive();
}

TEST_F(AmpsimTcp, DropCutsTheConnectionMidLine) {
    start();
    LineChannel dropped = connect();
    ASSERT_TRUE(dropped.send("ECHO x\nDROP\nECHO never\n"));
    EXPECT_EQ(dropped.readToEnd(), "x\r\nPARTIAL");
    expectAlive();
}

TEST_F(AmpsimTcp, BusyEveryAndCloseAfterCount) {
    start({"--tcp", "127.0.0.1:0", "--busy-every", "2", "--close-after", "3"});
    LineChannel counted = connect();
    ASSERT_TRUE(counted.send("ECHO 1\nECHO 2\nECHO 3\nECHO 4\n"));
    EXPECT_EQ(counted.readToEnd(), "1\r\nERROR_AMP_BUSY\r\n3\r\nPARTI");
}

TEST_F(AmpsimTcp, SurvivesGarbageOverlongLinesAndVanishingClients) {
    start();
    {
        LineChannel halfLine = connect();
        ASSERT_TRUE(halfLine.send("STAT"));
    }
    LineChannel client = connect();
    std::string garbage("\x01\xff\x00\x7f\r\x00\x80\n", 8);
    ASSERT_TRUE(client.send(garbage));
    EXPECT_EQ(client.readLine(), "ERROR_UNKNOWN_COMMAND\r");
    ASSERT_TRUE(client.send(std::string(1024 * 1024, 'A')));
    ASSERT_TRUE(client.send("\nECHO ok\n"));
    EXPECT_EQ(client.readLine(), "ERROR_LINE_TOO_LONG\r");
    EXPECT_EQ(client.readLine(), "ok\r");
    expectAlive();
}

// Delayed replies wait on a timer, not in a sleep: two clients' delays run side by side.
TEST_F(AmpsimTcp, DelayHoldsEachReplyWithoutBlockingOthers) {
    constexpr int kDelayMs = 400;
    start({"--tcp", "127.0.0.1:0", "--delay", std::to_string(kDelayMs)});
    LineChannel first = connect();
    LineChannel second = connect();
    Clock::time_point sent = Clock::now();
    ASSERT_TRUE(first.send("ECHO 1\n"));
    ASSERT_TRUE(second.send("ECHO 2\n"));
    EXPECT_EQ(first.readLine(), "1\r");
    EXPECT_EQ(second.readLine(), "2\r");
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    EXPECT_GE(took, kDelayMs);
    EXPECT_LT(took, 2 * kDelayMs);
}

TEST_F(AmpsimTcp, ExitsCleanlyOnSigtermAndOnStdinEof) {
    start();
    sim_->Terminate();
    int status = sim_->WaitExit(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    start();
    sim_->CloseStdin();
    status = sim_->WaitExit(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(AmpsimTcp, ConversionFaultOptionsReachTheModel) {
    start({"--tcp", "127.0.0.1:0", "--conv-silent-point", "1", "--conv-malformed-point=0"});
    LineChannel client = connect();
    ASSERT_TRUE(client.send("SVC CONV DN 00 01?\nSVC CONV DN 00 00?\nSVC CONV DN 00 02?\n"));
    EXPECT_EQ(client.readLine(), "CONV 00 00 GARBLED\r") << "nothing for point 1";
    EXPECT_EQ(client.readLine(), "CONV 00 02 0000 0000 U\r");
}

TEST(Ampsim, RefusesAPointIndexOutsideATable) {
    AmpsimProcess sim({"--tcp", "127.0.0.1:0", "--conv-silent-point", "20"});
    EXPECT_FALSE(sim.Ready());
    int status = sim.WaitExit(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}

TEST(Ampsim, RefusesUnknownOptionsBeforeReady) {
    AmpsimProcess sim({"--tcp", "127.0.0.1:0", "--no-such-option"});
    EXPECT_FALSE(sim.Ready());
    int status = sim.WaitExit(5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}

// The power meter behind the same transports: a line link and a message link both reach it.
TEST_F(AmpsimTcp, MeterAnswersOnTcpAndVxi11) {
    start({"--meter", "--tcp", "127.0.0.1:0", "--vxi11", "127.0.0.1:0"});
    LineChannel client = connect();
    ASSERT_TRUE(client.send("*IDN?\nMEAS:POW?\n"));
    EXPECT_EQ(client.readLine(), "Veltrask,PowerSim,AS000001,1.0\r");
    std::optional<std::string> power = client.readLine();
    ASSERT_TRUE(power);
    EXPECT_NEAR(std::stod(*power), 45, 1) << *power;

    Vxi11Client vxi11;
    ASSERT_TRUE(vxi11.Open({"127.0.0.1", sim_->PortOf("vxi11"), "inst0"})) << vxi11.Failure();
    std::string reply;
    ASSERT_TRUE(vxi11.Write("*IDN?\n", 5000) && vxi11.Read(reply, 5000)) << vxi11.Failure();
    EXPECT_EQ(reply, "Veltrask,PowerSim,AS000001,1.0\n");
    vxi11.Close();
}

TEST(Ampsim, RefusesTheAmplifiersOwnOptionsWithMeter) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--discovery", "10.77.0.1"},
                                          std::vector<std::string>{"--conv-double-point", "3"}}) {
        std::vector<char*> argv{const_cast<char*>("ampsim"), const_cast<char*>("--meter")};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        std::string error;
        EXPECT_FALSE(ampsim::ParseOptions(static_cast<int>(argv.size()), argv.data(), error));
        EXPECT_EQ(error.rfind("--meter: " + args[0] + " is the amplifier's", 0), 0u) << error;
    }
}
