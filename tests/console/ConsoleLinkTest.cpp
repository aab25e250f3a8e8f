// The console's link without windows: the same events in the same order over a TIO (the simulated
// amplifier on loopback) and over the GPIB binding (the simulated driver through the real loader).
#include "AmpsimProcess.h"
#include "RecordingBoxes.h"
#include "TestSupport.h"
#include "connection/Connection.h"
#include "connection/Gpib.h"
#include "console/ConsoleLinkFactory.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
// Records every event as one text, in order.
struct LinkRecorder {
    std::vector<std::string> seen;
    std::vector<std::string> stamps;

    LinkEvents Events() {
        LinkEvents events;
        events.TxEcho = [this](const std::string& text) { seen.push_back("tx " + text); };
        // Received lines come as framed or read: the console trims them.
        events.RxLine = [this](const std::string& line, const std::string& stamp) {
            seen.push_back("rx " + line);
            stamps.push_back(stamp);
        };
        events.Connected = [this] { seen.push_back("connected"); };
        events.Disconnected = [this](const std::string& reason) { seen.push_back("disconnected " + reason); };
        events.Status = [this](const std::string& text) { seen.push_back("status " + text); };
        events.ServiceRequest = [this] { seen.push_back("srq"); };
        return events;
    }
    size_t Count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& s : seen)
            n += s.rfind(prefix, 0) == 0;
        return n;
    }
};

class ConsoleLinkTest : public ::testing::Test {
protected:
    Handover ui;
    LinkRecorder recorder;
    RecordingBoxes boxes;
};

TEST_F(ConsoleLinkTest, OverTcpEchoesSendsAndDeliversReplies) {
    AmpsimProcess amp;
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    auto link = MakeConsoleLink("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()), recorder.Events(), ui);
    EXPECT_FALSE(link->IsGpib());
    ASSERT_EQ(link->Open(), OpenResult::Opened);
    ASSERT_NE(link->Tio(), nullptr);
    EXPECT_TRUE(link->SendLine("ECHO one"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.Count("rx ") == 1; }));
    EXPECT_FALSE(link->ReadReply()); // lines of a TIO arrive by themselves
    link.reset();
    EXPECT_EQ(recorder.seen,
              (std::vector<std::string>{"connected", "tx ECHO one", "rx one\r", "disconnected "}));
}

TEST_F(ConsoleLinkTest, AKindNoTransportKnowsFailsWithoutConnecting) {
    auto link = MakeConsoleLink("usb:1", recorder.Events(), ui);
    std::string reason;
    EXPECT_EQ(link->Open(&reason), OpenResult::Failed);
    EXPECT_EQ(reason, "'usb' is not a kind of connection (com, tcp, tcpsrv, gpib, vxi11, hislip)");
    EXPECT_FALSE(link->IsOpen());
    link.reset();
    EXPECT_TRUE(recorder.seen.empty()) << "a link that never opened tells of nothing";
}

TEST_F(ConsoleLinkTest, OverGpibEchoesTheSameWayAndReadsOnRequest) {
    auto link = MakeConsoleLink("gpib:0,7:Simulator", recorder.Events(), ui);
    EXPECT_TRUE(link->IsGpib());
    EXPECT_EQ(link->Tio(), nullptr);
    ASSERT_EQ(link->Open(), OpenResult::Opened) << (boxes.boxes.empty() ? "" : boxes.boxes.back().text);
    EXPECT_TRUE(link->SendLine("ECHO two"));
    EXPECT_TRUE(link->ReadReply());
    // The driver's service request arrives through the hand-over, posted from its own thread.
    EXPECT_TRUE(link->WriteLine("*OPC"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.Count("srq") == 1; }));
    link->Close();
    EXPECT_FALSE(IsGpibLibraryLoaded());
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{"connected", "tx ECHO two", "rx two\n", "tx *OPC",
                                                       "srq", "status Disconnected from GPIB adapter."}));
}

// The LAN instruments' links against the simulator: each reads on request as GPIB does, their
// exchanges run off this thread and come back in order, a reply's lines each as a line; the
// service request comes from the protocol (HiSLIP's asynchronous channel).
TEST_F(ConsoleLinkTest, OverVxi11AndHislipReadOnRequest) {
    AmpsimProcess amp({"--vxi11", "127.0.0.1:0", "--hislip", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    for (const std::string& connection :
         {"vxi11:127.0.0.1:inst0," + std::to_string(amp.PortOf("vxi11")),
          "hislip:127.0.0.1:hislip0," + std::to_string(amp.PortOf("hislip"))}) {
        recorder.seen.clear();
        auto link = MakeConsoleLink(connection, recorder.Events(), ui);
        EXPECT_TRUE(link->ReadsOnRequest());
        ASSERT_EQ(link->Open(), OpenResult::Opened) << connection;
        EXPECT_TRUE(link->SendLine("MULTI? 2"));
        EXPECT_TRUE(link->ReadReply());
        ASSERT_TRUE(RunUntil(ui, [&] { return recorder.Count("rx MULTI 2/2") == 1; })) << connection;
        EXPECT_EQ(recorder.seen,
                  (std::vector<std::string>{"connected", "tx MULTI? 2", "rx MULTI 1/2", "rx MULTI 2/2"}))
            << connection;
        link->Close();
    }
}

TEST_F(ConsoleLinkTest, AMissingGpibDriverIsShownByTheLoader) {
    auto link = MakeConsoleLink("gpib:0,7:NoSuchDriver", recorder.Events(), ui);
    EXPECT_EQ(link->Open(), OpenResult::Shown);
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_EQ(boxes.boxes.back().text.rfind("Loading GPIB-library failed.\r\n", 0), 0u);
    EXPECT_FALSE(link->IsOpen());
}

TEST_F(ConsoleLinkTest, AnEventPostedBeforeTheLinkWentIsDropped) {
    auto link = MakeConsoleLink("gpib:0,7:Simulator", recorder.Events(), ui);
    ASSERT_EQ(link->Open(), OpenResult::Opened);
    link->WriteLine("*OPC");
    link.reset(); // the driver may have posted its request already; nothing may reach a dead link
    RunUntil(
        ui, [] { return false; }, 200);
    EXPECT_EQ(recorder.Count("srq"), 0u);
}
} // namespace

// A send ends with the chosen line end and is echoed without it; received lines are framed by
// the chosen end.
TEST_F(ConsoleLinkTest, SendsAndFramesByTheChosenLineEnds) {
    PtyPair pty;
    auto link = MakeConsoleLink("com:" + pty.SlavePath(), recorder.Events(), ui);
    link->SetLineEnds({TxLineEnd::CrLf, RxLineEnd::Cr});
    ASSERT_EQ(link->Open(), OpenResult::Opened);
    pty.CloseSlave();
    ASSERT_TRUE(link->SendLine("STATUS?"));
    EXPECT_EQ(pty.ReadBytes(9), "STATUS?\r\n");
    ASSERT_TRUE(pty.Write("ONE\rTWO\r"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.Count("rx ") == 2; }));
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{"connected", "tx STATUS?", "rx ONE", "rx TWO"}));
}

// CR-ended replies frame line by line, and a prompt without a line end becomes a line of its own,
// marked, once it has waited the idle time (the simulator ending its lines with CR, then a prompt).
TEST_F(ConsoleLinkTest, APromptWithoutALineEndIsALineAfterTheIdleTime) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0", "--eol", "cr", "--prompt", "PROMPT> "});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    auto link = MakeConsoleLink("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()), recorder.Events(), ui);
    link->SetLineEnds({TxLineEnd::Cr, RxLineEnd::Cr, 100});
    ASSERT_EQ(link->Open(), OpenResult::Opened);
    ASSERT_TRUE(link->SendLine("MULTI? 2"));
    ASSERT_TRUE(RunUntil(ui, [&] { return recorder.Count("rx ") == 3; }));
    EXPECT_EQ(recorder.seen,
              (std::vector<std::string>{"connected", "tx MULTI? 2", "rx MULTI 1/2", "rx MULTI 2/2",
                                        std::string("rx PROMPT> ") + TIO::NoLineEndNote}));
}
