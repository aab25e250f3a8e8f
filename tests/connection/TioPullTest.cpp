// TIO in pull mode: the reader thread only opens; the test's thread (the UI thread) reads the link
// itself through Pull and Query. Nothing is handed over once the link is open.
#include "AmpsimProcess.h"
#include "TestSupport.h"
#include "TioRecorder.h"
#include "connection/TraceIo.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <thread>

namespace {
using Lines = std::vector<std::string>;
using Pulled = TIO::PullResult;

class TioPull : public testing::Test {
protected:
    void SetUp() override {
        SetTraceStream(nullptr);
        recorder.Attach(*io);
        io->SetPullMode(true);
    }
    void TearDown() override { SetTraceStream(stdout); }

    Handover ui;
    TioRecorder recorder;
    std::unique_ptr<TIO> io = std::make_unique<TIO>(ui);
};
} // namespace

// One line per Pull, in order, only when pulled; then the peer's half line and its end, each once.
TEST_F(TioPull, LinesComeOneAPullThenThePeersHalfLineThenTheEnd) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    ASSERT_TRUE(io->Open("tcp:127.0.0.1:" + std::to_string(amp.TcpPort())));
    EXPECT_TRUE(io->Pulling());
    ASSERT_TRUE(io->Send("MULTI? 3\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ui.RunPending(), 0) << "nothing is handed over";
    EXPECT_TRUE(recorder.rx.empty());
    for (const char* expected : {"MULTI 1/3\r", "MULTI 2/3\r", "MULTI 3/3\r"}) {
        ASSERT_EQ(io->Pull(5000), Pulled::Line);
        EXPECT_EQ(recorder.rx.back(), expected);
    }
    EXPECT_EQ(io->Pull(20), Pulled::Nothing);
    ASSERT_TRUE(io->Send("DROP\n"));
    ASSERT_EQ(io->Pull(5000), Pulled::Line);
    EXPECT_EQ(recorder.rx.back(), "PARTIAL (incomplete)");
    EXPECT_EQ(recorder.disconnected, 0);
    EXPECT_EQ(io->Pull(5000), Pulled::Ended);
    EXPECT_FALSE(io->Pulling());
    EXPECT_EQ(io->Pull(5000), Pulled::Ended);
    io.reset();
    EXPECT_EQ(recorder.disconnected, 1);
    EXPECT_EQ(recorder.rx.size(), 4u);
}

// A line read late (the window busy) keeps the time it came, as the system stamped it; a caller
// that watches the link is told what to watch.
TEST_F(TioPull, ALineReadLateKeepsItsArrivalTime) {
    io = std::make_unique<TIO>(ui);
    io->SetPullMode(true, TIO::PullWait::OnDescriptors);
    io->StartCharEnabled = false;
    io->EndChar = '\n';
    std::string stamp;
    io->SetOnRxLine([&stamp](const std::string&, TIO* from) { stamp = from->LineStamp(); });
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    ASSERT_TRUE(io->Open("tcp:127.0.0.1:" + std::to_string(amp.TcpPort())));
    const std::vector<int> fds = io->PullDescriptors();
    ASSERT_EQ(fds.size(), 1u);
    ASSERT_TRUE(io->Send("ECHO late\n"));
    pollfd readable{fds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 5000), 1);
    const std::string cameBy = GetTimeStamp();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the window, busy elsewhere
    ASSERT_EQ(io->Pull(0), Pulled::Line);
    EXPECT_LE(stamp, cameBy);
}

// A query reads the link itself; the lines after its reply follow it before it returns.
TEST_F(TioPull, AQueryReadsTheLinkItself) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    ASSERT_TRUE(io->Open("tcp:127.0.0.1:" + std::to_string(amp.TcpPort())));
    std::string reply;
    ASSERT_TRUE(io->Query("MULTI? 2\n", reply, 5000,
                          [](const std::string& line) { return line.ends_with("2/2\r"); }));
    EXPECT_EQ(reply, "MULTI 2/2\r");
    EXPECT_EQ(recorder.rx, (Lines{"MULTI 1/2\r", "MULTI 2/2\r"}));
    EXPECT_FALSE(io->Query("NOREPLY\n", reply, 50));
    EXPECT_EQ(reply, TIO::TimeoutReply);
}

// Over a serial port: this side's close cuts the half line; lines not pulled yet, the half line
// and the end are told when the TIO goes, in order, once.
TEST_F(TioPull, WhatWasNotPulledIsToldAtTheEnd) {
    PtyPair pty;
    ASSERT_TRUE(io->Open("com:" + pty.SlavePath()));
    ASSERT_TRUE(pty.Write("one\ntwo\nhalf"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // all of it in the port
    ASSERT_EQ(io->Pull(5000), Pulled::Line);
    EXPECT_EQ(recorder.rx, Lines{"one"});
    io->Close();
    io.reset();
    EXPECT_EQ(recorder.rx, (Lines{"one", "two", std::string("half") + TIO::ClosedMidLineNote}));
    EXPECT_EQ(recorder.disconnected, 1);
}
