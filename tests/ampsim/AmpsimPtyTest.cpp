// The ampsim program over its pseudo-terminal, started through AmpsimProcess.
#include <gtest/gtest.h>

#include "AmpsimProcess.h"
#include "LineChannel.h"

namespace {

class AmpsimPty : public testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<AmpsimProcess>(std::vector<std::string>{"--pty"});
        ASSERT_TRUE(sim_->Ready()) << sim_->Error();
        ASSERT_TRUE(sim_->PtyPath().starts_with("/dev/pts/")) << sim_->PtyPath();
        EXPECT_EQ(sim_->TcpPort(), 0);
    }
    std::unique_ptr<AmpsimProcess> sim_;
};

// "FLOOD <n>" and the CR of its line end, as FLOOD sends each line.
bool isFloodLine(const std::string& line) {
    constexpr std::string_view kPrefix = "FLOOD ";
    if (!line.starts_with(kPrefix) || !line.ends_with("\r") || line.size() < kPrefix.size() + 2) return false;
    std::string_view digits(line.data() + kPrefix.size(), line.size() - kPrefix.size() - 1);
    return digits.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

// The client leaves the terminal settings alone: the simulator's raw mode is what keeps the
// line discipline from echoing replies back as commands or turning CR LF into something else.
TEST_F(AmpsimPty, AnswersInRawModeWithCrLf) {
    LineChannel client = LineChannel::pty(sim_->PtyPath());
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
    LineChannel client = LineChannel::pty(sim_->PtyPath());
    ASSERT_TRUE(client.send("DROP\nECHO next\n"));
    EXPECT_EQ(client.readLine(), "PARTIALnext\r");
}

// A pty has no connection boundaries: what the first client left unread in the terminal reaches
// the next one, so the next client skips the old flood's lines until its own answer. Those lines
// must be whole (the first may be the rest of one the first client half read): a line cut short
// when the first client left would swallow the start of the next client's answer.
//
// How the second client follows the first: at once, so the simulator may or may not take the close
// for the end of the conversation before the reopen; or only once it has. The simulator serves all
// endpoints from one poll loop that sees the state of every descriptor at once, so the turn that
// reads a TCP command sent after the close also sees the pty hang up, and its answer is the sign.
enum class Reopen { AtOnce, AfterTheCloseIsNoticed };

class AmpsimPtyReopen : public testing::TestWithParam<Reopen> {};

INSTANTIATE_TEST_SUITE_P(Orders, AmpsimPtyReopen,
                         testing::Values(Reopen::AtOnce, Reopen::AfterTheCloseIsNoticed),
                         [](const testing::TestParamInfo<Reopen>& row) {
                             return row.param == Reopen::AtOnce ? "AtOnce" : "AfterTheCloseIsNoticed";
                         });

TEST_P(AmpsimPtyReopen, KeepsServingWhenTheSlaveIsClosedAndReopened) {
    AmpsimProcess sim({"--pty", "--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(sim.Ready()) << sim.Error();
    {
        LineChannel first = LineChannel::pty(sim.PtyPath());
        ASSERT_TRUE(first.send("FLOOD 100000\n"));
        ASSERT_EQ(first.readLine(), "FLOOD 1\r");
    }
    if (GetParam() == Reopen::AfterTheCloseIsNoticed) {
        LineChannel barrier = LineChannel::tcp(sim.TcpPort());
        ASSERT_TRUE(barrier.send("ECHO noticed\n"));
        ASSERT_EQ(barrier.readLine(), "noticed\r");
    }
    LineChannel second = LineChannel::pty(sim.PtyPath());
    ASSERT_TRUE(second.valid());
    ASSERT_TRUE(second.send("ECHO again\n"));
    std::optional<std::string> line = second.readLine();
    for (bool firstLine = true; line && line != "again\r"; firstLine = false) {
        if (!firstLine) {
            ASSERT_TRUE(isFloodLine(*line)) << "a stale line that is not whole: " << *line;
        }
        line = second.readLine();
    }
    EXPECT_EQ(line, "again\r");
}
