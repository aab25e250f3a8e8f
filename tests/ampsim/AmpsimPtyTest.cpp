// The ampsim program over its pseudo-terminal, started through AmpsimProcess.
#include <gtest/gtest.h>

#include "AmpsimProcess.h"
#include "LineChannel.h"

namespace {

class AmpsimPty : public testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<AmpsimProcess>(std::vector<std::string>{"--pty"});
        ASSERT_TRUE(sim_->ready()) << sim_->error();
        ASSERT_TRUE(sim_->ptyPath().starts_with("/dev/pts/")) << sim_->ptyPath();
        EXPECT_EQ(sim_->tcpPort(), 0);
    }
    std::unique_ptr<AmpsimProcess> sim_;
};

} // namespace

// The client leaves the terminal settings alone: the simulator's raw mode is what keeps the
// line discipline from echoing replies back as commands or turning CR LF into something else.
TEST_F(AmpsimPty, AnswersInRawModeWithCrLf) {
    LineChannel client = LineChannel::pty(sim_->ptyPath());
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(client.send("STATUS?\nECHO a\rb\nMULTI? 2\n"));
    std::optional<std::string> status = client.readLine();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->starts_with("STATUS OK ") && status->ends_with("\r")) << *status;
    EXPECT_EQ(client.readLine(), "a\rb\r");
    EXPECT_EQ(client.readLine(), "MULTI 1/2\r");
    EXPECT_EQ(client.readLine(), "MULTI 2/2\r");
}

// A pty cannot be closed without losing its path: DROP sends its partial line and the simulator
// starts a fresh conversation on the same terminal, with the commands that followed.
TEST_F(AmpsimPty, DropLeavesThePtyServing) {
    LineChannel client = LineChannel::pty(sim_->ptyPath());
    ASSERT_TRUE(client.send("DROP\nECHO next\n"));
    EXPECT_EQ(client.readLine(), "PARTIALnext\r");
}

// A client that closes the slave in the middle of a long reply and a later one that opens it
// again: the later one is answered. Whether it first sees the rest of the old flood depends on
// whether the simulator noticed the close before the reopen, so stale lines are skipped.
TEST_F(AmpsimPty, KeepsServingWhenTheSlaveIsClosedAndReopened) {
    {
        LineChannel first = LineChannel::pty(sim_->ptyPath());
        ASSERT_TRUE(first.send("FLOOD 100000\n"));
        ASSERT_EQ(first.readLine(), "FLOOD 1\r");
    }
    LineChannel second = LineChannel::pty(sim_->ptyPath());
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(second.send("ECHO again\n"));
    std::optional<std::string> line;
    while ((line = second.readLine()) && line != "again\r") {
    }
    EXPECT_EQ(line, "again\r");
}
