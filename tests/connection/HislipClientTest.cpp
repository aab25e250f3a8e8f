// The HiSLIP header parser, and the client against an instrument played byte by byte on loopback,
// the messages written out from IVI-6.1's message tables: "HS", type, control code, parameter,
// payload length, payload.
#include "connection/HislipClient.h"
#include "LoopbackPeer.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

namespace {
struct HeaderRow {
    const char* hex;
    const char* failure; //!< nullptr: the header is read.
};

class HislipHeader : public testing::TestWithParam<HeaderRow> {};
} // namespace

TEST_P(HislipHeader, IsReadOrRefusedWithItsReason) {
    hislip::Header header;
    std::string failure;
    const bool read = hislip::ParseHeader(Hex(GetParam().hex), header, failure);
    if (!GetParam().failure) {
        ASSERT_TRUE(read) << failure;
        EXPECT_EQ(header.type, hislip::DataEnd);
        EXPECT_EQ(header.control, 1);
        EXPECT_EQ(header.parameter, 0xffffff02u);
        EXPECT_EQ(header.length, hislip::MaxPayload);
    } else {
        EXPECT_FALSE(read);
        EXPECT_NE(failure.find(GetParam().failure), std::string::npos) << failure;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HislipHeader,
                         testing::Values(HeaderRow{"48530701 ffffff02 00000000 00400000", nullptr},
                                         HeaderRow{"48530701 ffffff", "cut short: 7 of 16 bytes"},
                                         HeaderRow{"48540701 ffffff02 00000000 00000003", "no \"HS\" prefix"},
                                         HeaderRow{"48530701 ffffff02 80000000 00000000",
                                                   "announces a payload of 9223372036854775808 bytes"},
                                         HeaderRow{"48530701 ffffff02 00000000 00400001",
                                                   "payload of 4194305 bytes, more than the 4194304"}));

namespace {
const char* const Initialize = "48530000 01004356 00000000 00000007 6869736c 697030"; // 1.0, "CV", "hislip0"
const char* const InitializeResponse = "48530100 01000042 00000000 00000000";         // 1.0, session 0x42
const char* const AsyncInitialize = "48531100 00000042 00000000 00000000";
const char* const AsyncInitializeResponse = "48531200 00004b53 00000000 00000000";
const char* const AsyncMaximumMessageSize = "48530f00 00000000 00000000 00000008 00000000 00400000";

// One message from connection c, header and payload.
std::string ReadMessage(LoopbackPeer& p, int c) {
    const std::string header = p.Read(c, 16);
    uint64_t length = 0;
    for (size_t i = 8; i < header.size(); ++i)
        length = length << 8 | static_cast<unsigned char>(header[i]);
    return header + (header.size() == 16 ? p.Read(c, static_cast<size_t>(length)) : "");
}

void Expect(LoopbackPeer& p, int c, const char* message) {
    const std::string got = ReadMessage(p, c);
    EXPECT_TRUE(MatchesHex(got, message)) << ToHex(got) << "\nexpected " << message;
}

class Hislip : public testing::Test {
protected:
    // Both channels made, the instrument taking messages of up to maxMessage bytes; then more.
    void Serve(const char* maxMessage, std::function<void(LoopbackPeer&, int, int)> more) {
        peer.Serve([maxMessage, more](LoopbackPeer& p) {
            const int sync = p.Accept();
            Expect(p, sync, Initialize);
            p.Send(sync, Hex(InitializeResponse));
            const int async = p.Accept();
            Expect(p, async, AsyncInitialize);
            p.Send(async, Hex(AsyncInitializeResponse));
            Expect(p, async, AsyncMaximumMessageSize);
            p.Send(async, Hex(std::string("48531000 00000000 00000000 00000008 ") + maxMessage));
            more(p, sync, async);
        });
    }
    bool Open(int timeoutMs = 5000) { return client.Open({"127.0.0.1", peer.Port(), "", timeoutMs}); }

    LoopbackPeer peer;
    HislipClient client;
};
} // namespace

TEST_F(Hislip, ConversationFollowsTheMessageTables) {
    Serve("00000000 00000014", [](LoopbackPeer& p, int sync, int async) { // 20 bytes: 4 of payload
        Expect(p, sync, "48530600 ffffff00 00000000 00000004 2a49444e");
        Expect(p, sync, "48530700 ffffff02 00000000 00000002 3f0a");
        p.Send(sync, Hex("48530700 ffffff00 00000000 00000003 6f6c64" // a reply to an earlier ID is skipped
                         "48530600 ffffff02 00000000 00000005 41434d45 2c"
                         "48530700 ffffff02 00000000 00000003 58310a"));
        Expect(p, async, "48531501 ffffff02 00000000 00000000");   // RMT delivered, the last message's ID
        p.Send(async, Hex("48531400 00000000 00000000 00000000"    // a service request first
                          "48531650 00000000 00000000 00000000")); // status byte 0x50
        Expect(p, async, "48531300 00000000 00000000 00000000");
        p.Send(async, Hex("48531700 00000000 00000000 00000000"));
        Expect(p, sync, "48530800 00000000 00000000 00000000");
        p.Send(sync, Hex("48530700 ffffff04 00000000 00000001 30" // left from before the clear
                         "48530900 00000000 00000000 00000000"));
        Expect(p, sync, "48530700 ffffff00 00000000 00000001 58"); // IDs start again
        EXPECT_EQ(p.Read(sync, 1) + p.Read(async, 1), "") << "Close ends both channels";
    });
    std::atomic<int> serviceRequests{0};
    client.OnServiceRequest = [&] { ++serviceRequests; };
    ASSERT_TRUE(Open()) << client.Failure();
    EXPECT_TRUE(client.Write("*IDN?\n", 5000)) << client.Failure();
    std::string reply;
    EXPECT_TRUE(client.Read(reply, 5000)) << client.Failure();
    EXPECT_EQ(reply, "ACME,X1\n");
    uint8_t status = 0;
    EXPECT_TRUE(client.ReadStatusByte(status, 5000)) << client.Failure();
    EXPECT_EQ(status, 0x50);
    EXPECT_EQ(serviceRequests, 1) << "reported on the reader thread before the status came";
    EXPECT_TRUE(client.Clear(5000)) << client.Failure();
    EXPECT_TRUE(client.Write("X", 5000)) << client.Failure();
    client.Close();
    peer.Join();
}

namespace {
struct OpenFailure {
    const char* name;
    const char* reply; //!< To Initialize; nullptr: none.
    int timeoutMs;
    const char* expected;
    const char* answer; //!< The first bytes the client sends back before it hangs up.
};

class HislipOpen : public Hislip, public testing::WithParamInterface<OpenFailure> {};
} // namespace

TEST_P(HislipOpen, FailsWithItsReason) {
    const OpenFailure& row = GetParam();
    peer.Serve([&row](LoopbackPeer& p) {
        const int sync = p.Accept();
        Expect(p, sync, Initialize);
        if (row.reply) p.Send(sync, Hex(row.reply));
        if (std::string(row.name) == "HangsUpMidHeader") p.Hangup(sync);
        EXPECT_EQ(ToHex(p.Read(sync, 4)), row.answer);
    });
    EXPECT_FALSE(Open(row.timeoutMs));
    EXPECT_NE(client.Failure().find(row.expected), std::string::npos) << client.Failure();
    EXPECT_FALSE(client.IsOpen());
    peer.Join();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HislipOpen,
    testing::Values(
        OpenFailure{
            "Busy", "48530204 00000000 00000000 00000004 62757379", 5000,
            "Initialize (0) refused: FatalError 4 (server refused connection due to maximum number of "
            "clients exceeded): busy",
            ""},
        OpenFailure{"HangsUpMidHeader", "48530100 010000", 5000,
                    "Initialize (0): the instrument closed the channel in the middle of a message", ""},
        OpenFailure{"PayloadOf2To63", "48530100 01000042 80000000 00000000", 5000,
                    "announces a payload of 9223372036854775808 bytes", "48530201"}, // FatalError, bad header
        OpenFailure{"NoPrefix", "58580100 01000042 00000000 00000000", 5000, "no \"HS\" prefix", "48530201"},
        OpenFailure{"WrongReply", "48531200 00000000 00000000 00000000", 5000,
                    "InitializeResponse (1) expected, AsyncInitializeResponse (18) came", ""},
        OpenFailure{"Silent", nullptr, 200, "Initialize (0): no reply within 200 ms", ""}),
    [](const auto& row) { return std::string(row.param.name); });

namespace {
struct ReadFailure {
    const char* name;
    const char* reply;
    bool hangUp;
    const char* expected;
    bool staysOpen;
};

class HislipRead : public Hislip, public testing::WithParamInterface<ReadFailure> {};
} // namespace

TEST_P(HislipRead, FailsWithItsReason) {
    const ReadFailure& row = GetParam();
    Serve("00000000 00400000", [&row](LoopbackPeer& p, int sync, int) {
        p.Send(sync, Hex(row.reply));
        if (row.hangUp) p.Hangup(sync);
        p.Read(sync, 1);
    });
    ASSERT_TRUE(Open()) << client.Failure();
    std::string message;
    EXPECT_FALSE(client.Read(message, 5000));
    EXPECT_EQ(client.Failure(), row.expected);
    EXPECT_EQ(client.IsOpen(), row.staysOpen);
    client.Close();
    peer.Join();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HislipRead,
    testing::Values(ReadFailure{"Error", "48530301 ffffff00 00000000 00000004 77686174", false,
                                "Error 1 (unrecognized message type): what", true},
                    ReadFailure{"FatalError", "48530200 00000000 00000000 00000000", false,
                                "FatalError 0 (unidentified error)", false},
                    ReadFailure{"HangsUpMidMessage", "48530700 ffffff00 00000000 00000010 4142", true,
                                "the instrument closed the channel in the middle of a message", false}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Hislip, CloseFromAnotherThreadReleasesAWaitingStatusQuery) {
    std::promise<void> queryCame;
    Serve("00000000 00400000", [&queryCame](LoopbackPeer& p, int sync, int async) {
        Expect(p, async, "48531500 fffffefe 00000000 00000000"); // nothing sent yet, nothing delivered
        queryCame.set_value();
        p.Read(sync, 1);
    });
    ASSERT_TRUE(Open()) << client.Failure();
    std::thread closer([&] {
        queryCame.get_future().wait();
        client.Close();
    });
    uint8_t status = 0;
    EXPECT_FALSE(client.ReadStatusByte(status, 60000));
    closer.join();
    EXPECT_EQ(client.Failure(), "closed");
}

TEST_F(Hislip, ErrorsNoCallAwaitsAndALostChannelGoToTheOwner) {
    std::mutex lock;
    std::vector<std::string> reports;
    std::promise<void> lost;
    client.OnProtocolError = [&](const std::string& text) {
        std::lock_guard guard(lock);
        reports.push_back(text);
        if (reports.size() == 2) lost.set_value();
    };
    Serve("00000000 00400000", [](LoopbackPeer& p, int sync, int async) {
        p.Send(async, Hex("48530302 00000000 00000000 00000000"));
        p.Hangup(async);
        p.Read(sync, 1);
    });
    ASSERT_TRUE(Open()) << client.Failure();
    ASSERT_EQ(lost.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reports,
              (std::vector<std::string>{"Error 2 (unrecognized control code)",
                                        "asynchronous channel: the instrument closed the connection"}));
    EXPECT_FALSE(client.IsOpen());
    std::string message;
    EXPECT_FALSE(client.Read(message, 5000));
    EXPECT_EQ(client.Failure(), "the session is closed");
}
