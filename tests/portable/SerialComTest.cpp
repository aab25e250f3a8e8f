// The serial transport on Windows: overlapped I/O on a COM port, which the test's runner maps to a
// pseudo-terminal whose far side answers every line with the line and " OK" (with-com-pty.py).
#include "TestSupport.h"
#include "TioRecorder.h"
#include "connection/TraceIo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {
class SerialCom : public testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("CORVANE_TEST_COM");
        if (!name) GTEST_SKIP() << "runs through with-com-pty.py, which provides the port";
        com = name;
        SetTraceStream(nullptr);
        recorder.Attach(*io);
    }
    void TearDown() override { SetTraceStream(stdout); }

    std::string com;
    Handover ui;
    TioRecorder recorder;
    std::unique_ptr<TIO> io = std::make_unique<TIO>(ui);
};
} // namespace

TEST_F(SerialCom, LinesGoBothWaysThroughTheConfiguredPort) {
    ASSERT_TRUE(io->Open("com:" + com + ":baud=19200 parity=n data=8 stop=1"));
    ASSERT_TRUE(io->Send("STATUS?\r\n"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.rx.size() == 1; }));
    EXPECT_EQ(recorder.rx[0], "STATUS? OK\r");
}

// (A second open of the port is refused on Windows by the share mode; Wine does not enforce share
// modes on devices, so that is not checked here.)
TEST_F(SerialCom, CloseReleasesTheWaitingReader) {
    ASSERT_TRUE(io->Open("com:" + com));
    io->Close();
    EXPECT_TRUE(RunUntil(
        ui, [&] { return recorder.disconnected == 1; }, 2000));
}
