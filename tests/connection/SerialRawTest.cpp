// The serial transport over a pseudo-terminal left at the kernel's cooked defaults (echo, line
// editing, signals, XON/XOFF, CR/LF mapping): the transport itself must make the port raw, so
// that every byte passes untouched both ways and flow control is on only when a mode asks for it.
// The test plays the instrument on the master side.
#include "TestSupport.h"
#include "connection/FdIo.h"
#include "connection/SerialConnection.h"
#include "connection/TraceIo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
// Bytes that a cooked terminal would eat or change: interrupt, XON, XOFF, suspend, erase, a byte
// with the top bit set, and a lone CR (mapped to LF on input, a NL would gain a CR on output).
const std::string AwkwardBytes("\x03\x11\x13\x1a\x7f\xff\r", 7);

class SerialRaw : public testing::Test {
protected:
    void SetUp() override {
        SetTraceStream(nullptr);
        ASSERT_FALSE(pty.SlavePath().empty());
    }
    void TearDown() override { SetTraceStream(stdout); }

    termios PortSettings() const {
        termios now{};
        EXPECT_EQ(tcgetattr(pty.Master(), &now), 0);
        return now;
    }

    // Reads from the port until count bytes came; a port that gets no more bytes is closed after
    // a few seconds, which releases the blocked read, so a lost byte fails the test, not hangs it.
    std::string ReadFromPort(TSerialConnection& port, size_t count) {
        std::mutex lock;
        std::condition_variable finished;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock guard(lock);
            if (!finished.wait_for(guard, std::chrono::seconds(5), [&] { return done; })) port.Close();
        });
        std::string got;
        char buffer[256];
        while (got.size() < count) {
            int n = port.Read(buffer, sizeof buffer, -1);
            if (n < 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        {
            std::lock_guard guard(lock);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
        return got;
    }

    PtyPair pty{PtyPair::Start::Cooked};
};
} // namespace

TEST_F(SerialRaw, EveryByteCrossesUntouchedBothWaysOnACookedPort) {
    ASSERT_TRUE(PortSettings().c_lflag & ICANON) << "the pair starts cooked";
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath() + ":baud=19200 data=8"));
    // From the instrument: nothing swallowed, mapped or held back for a line end.
    ASSERT_TRUE(pty.Write(AwkwardBytes));
    EXPECT_EQ(ReadFromPort(port, AwkwardBytes.size()), AwkwardBytes);
    // To the instrument: the XOFF just received must not stall the output, nothing is echoed
    // back ahead of it and nothing is added.
    ASSERT_TRUE(port.IsOpen());
    ASSERT_EQ(port.Write(AwkwardBytes.data(), static_cast<int>(AwkwardBytes.size())),
              static_cast<int>(AwkwardBytes.size()));
    EXPECT_EQ(pty.ReadBytes(AwkwardBytes.size()), AwkwardBytes);
    ASSERT_TRUE(port.Write("\n", 1));
    EXPECT_EQ(pty.ReadBytes(1), "\n") << "a LF goes out without a CR";
}

TEST_F(SerialRaw, OpeningLeavesNoLineProcessingAndNoFlowControl) {
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    termios t = PortSettings();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ISIG | IEXTEN | ECHO | ECHONL), 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST_F(SerialRaw, SoftwareFlowControlOnlyWhenTheModeAsksForIt) {
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath() + ":baud=9600 xon=on"));
    EXPECT_EQ(PortSettings().c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(PortSettings().c_lflag & ICANON, 0u) << "raw all the same";
    ASSERT_TRUE(port.Configure("xon=off"));
    EXPECT_EQ(PortSettings().c_iflag & (IXON | IXOFF), 0u);
    port.Close();
    ASSERT_TRUE(port.Open(pty.SlavePath() + ":baud=9600"));
    EXPECT_EQ(PortSettings().c_iflag & (IXON | IXOFF), 0u) << "a mode without xon= turns it off";
}

// A slow instrument: takes a little now and then, so the write as a whole lasts well beyond the
// write time-out while it never waits long for room. It must complete.
TEST_F(SerialRaw, ALongWriteToASlowReaderCompletesWhileItMakesProgress) {
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    std::string block(1 << 20, 'x');
    const auto slowFor = std::chrono::milliseconds(WriteTimeoutMs * 3 / 2);
    size_t received = 0;
    std::thread instrument([&] {
        auto start = std::chrono::steady_clock::now();
        while (received < block.size()) {
            bool slow = std::chrono::steady_clock::now() - start < slowFor;
            // Pacing the peer, not waiting for a result: 512 bytes every 100 ms at first.
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::string got = pty.ReadBytes(slow ? 512 : block.size() - received, 3000);
            if (got.empty()) break;
            received += got.size();
        }
    });
    int written = port.Write(block.data(), static_cast<int>(block.size()));
    instrument.join();
    EXPECT_EQ(written, static_cast<int>(block.size()));
    EXPECT_EQ(received, block.size());
    EXPECT_TRUE(port.IsOpen());
}
