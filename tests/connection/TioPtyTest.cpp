// TIO and the serial transport over pseudo-terminals: the test plays the instrument on the
// master side, or the simulated amplifier serves its own pseudo-terminal.
#include "AmpsimProcess.h"
#include "TestSupport.h"
#include "TioRecorder.h"
#include "connection/SerialConnection.h"
#include "connection/TraceIo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <termios.h>

namespace {
class TioPty : public testing::Test {
protected:
    void SetUp() override {
        SetTraceStream(nullptr);
        ASSERT_FALSE(pty.SlavePath().empty());
        recorder.Attach(*io);
    }
    void TearDown() override { SetTraceStream(stdout); }

    Handover ui;
    PtyPair pty;
    TioRecorder recorder;
    std::unique_ptr<TIO> io = std::make_unique<TIO>(ui);
};

std::string ReadAll(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    return text;
}
} // namespace

TEST_F(TioPty, LinesBothWaysWithTheRawTraceOfBoth) {
    std::FILE* trace = std::tmpfile();
    SetTraceStream(trace);
    TraceIo(TraceDirection::Receive, "", 0); // whatever ran before, the next send starts a Tx run
    ASSERT_TRUE(io->Open("com:" + pty.SlavePath()));
    ASSERT_TRUE(io->Send("STATUS?\n"));
    EXPECT_EQ(pty.ReadLine(), "STATUS?\n");
    ASSERT_TRUE(pty.Write("OK 1\r\nOK 2\r\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 2; }));
    EXPECT_EQ(recorder.rx, (std::vector<std::string>{"OK 1\r", "OK 2\r"}));
    io.reset();
    SetTraceStream(nullptr);
    std::string text = ReadAll(trace);
    std::fclose(trace);
    const std::string head = "\r\nRx: \r\nTx: STATUS?\\x0a\r\nRx: ";
    ASSERT_EQ(text.rfind(head, 0), 0u) << text;
    // The received bytes may come in several reads, but under one direction header.
    std::string bytes = text.substr(head.size());
    EXPECT_EQ(bytes, "OK 1\\x0d\\x0aOK 2\\x0d\\x0a");
}

TEST_F(TioPty, TheFarEndHangingUpEndsTheConnection) {
    ASSERT_TRUE(io->Open("com:" + pty.SlavePath()));
    pty.CloseMaster();
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.disconnected == 1; }));
    EXPECT_FALSE(io->IsOpen());
}

TEST_F(TioPty, CloseReleasesABlockedReadAtOnce) {
    ASSERT_TRUE(io->Open("com:" + pty.SlavePath()));
    auto start = std::chrono::steady_clock::now();
    io->Close();
    ASSERT_TRUE(RunUntil(
        ui, [&] { return recorder.disconnected == 1; }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(TioPty, MissingOrNonSerialDevicesFailToOpen) {
    for (const char* connection : {"com:corvane-no-such-port", "com:/dev/null", "com:/nonexistent/tty"}) {
        TioRecorder seen; // outlives the TIO, whose destruction still tells it of the end
        TIO other(ui);
        seen.Attach(other);
        EXPECT_FALSE(other.Open(connection)) << connection;
        EXPECT_TRUE(RunUntil(ui, [&] { return seen.disconnected == 1; }));
        EXPECT_EQ(seen.connected, 0);
    }
}

TEST_F(TioPty, APortIsOpenedExclusively) {
    ASSERT_TRUE(io->Open("com:" + pty.SlavePath()));
    TSerialConnection second;
    EXPECT_FALSE(second.Open(pty.SlavePath()));
    io.reset();
    EXPECT_TRUE(second.Open(pty.SlavePath())) << "free again once the first is gone";
}

TEST_F(TioPty, AModeThePortRefusesLeavesItOpenWithItsPreviousSettings) {
    // A pseudo-terminal takes a baud rate but refuses parity and has no modem lines.
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath() + ":baud=19200 parity=E data=8 stop=1 rts=off dtr=on"));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Configure("baud=19200"));
    EXPECT_TRUE(port.Configure(""));
    EXPECT_FALSE(port.Configure("baud=9600 parity=E"));
    EXPECT_FALSE(port.Configure("baud=9600 rts=off"));
    EXPECT_FALSE(port.Configure("baud=12345"));
    EXPECT_FALSE(port.Configure("not a mode"));
    termios now{};
    ASSERT_EQ(tcgetattr(pty.Master(), &now), 0);
    EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B19200)) << "the refused modes changed nothing";
    EXPECT_TRUE(port.IsOpen());
    // Raw mode: bytes pass untouched in both directions.
    ASSERT_EQ(port.Write("a\r\n\x03\x7f", 5), 5);
    char got[8] = {};
    ASSERT_EQ(read(pty.Master(), got, sizeof got), 5);
    EXPECT_EQ(std::string(got, 5), "a\r\n\x03\x7f");
}

TEST_F(TioPty, AWriteThePeerNeverTakesFailsInsteadOfBlockingForEver) {
    // The master never reads: the terminal's buffer fills and the write can make no progress,
    // as with a hardware handshake held. The UI thread must get its answer, not hang.
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    std::string block(1 << 20, 'x');
    EXPECT_EQ(port.Write(block.data(), static_cast<int>(block.size())), 0);
    EXPECT_FALSE(port.IsOpen()) << "a failed serial write closes the port";
}

TEST_F(TioPty, ReadReportsAClosedPortAndWritesAfterCloseAreRefused) {
    TSerialConnection port;
    EXPECT_EQ(port.Read(nullptr, 16, -1), -1) << "never opened";
    EXPECT_EQ(port.Write("x", 1), -1);
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    EXPECT_FALSE(port.Open(pty.SlavePath())) << "already open";
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    char buffer[16];
    EXPECT_EQ(port.Read(buffer, sizeof buffer, -1), -1);
}

TEST(AmpsimPty, AnswersStatusOverItsPseudoTerminal) {
    SetTraceStream(nullptr);
    Handover ui;
    AmpsimProcess amp({"--pty"});
    ASSERT_FALSE(amp.PtyPath().empty());
    TioRecorder recorder;
    TIO io(ui);
    recorder.Attach(io);
    ASSERT_TRUE(io.Open("com:" + amp.PtyPath() + ":baud=115200"));
    std::string reply;
    ASSERT_TRUE(io.Query("STATUS?\n", reply, 3000));
    EXPECT_EQ(reply.rfind("STATUS", 0), 0u) << reply;
    EXPECT_EQ(reply.back(), '\r');
    SetTraceStream(stdout);
}
