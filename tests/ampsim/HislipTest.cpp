// HiSLIP on ampsim's side: both channels of a session driven with messages written out by hand
// from IVI-6.1's message tables, the bad ones included.
#include <gtest/gtest.h>

#include "AmpModel.h"
#include "ConversationDriver.h"
#include "HislipChannel.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = ampsim::Clock;

enum Type : unsigned {
    kInitialize = 0,
    kInitializeResponse = 1,
    kFatalError = 2,
    kError = 3,
    kData = 6,
    kDataEnd = 7,
    kDeviceClearComplete = 8,
    kDeviceClearAcknowledge = 9,
    kAsyncMaximumMessageSize = 15,
    kAsyncMaximumMessageSizeResponse = 16,
    kAsyncInitialize = 17,
    kAsyncDeviceClear = 19,
    kAsyncServiceRequest = 20,
    kAsyncStatusQuery = 21,
    kAsyncStatusResponse = 22,
    kAsyncDeviceClearAcknowledge = 23,
};
constexpr unsigned kFirstId = 0xffffff00u; // a client's first message id

std::string Msg(unsigned type, unsigned control, unsigned parameter, const std::string& payload = {}) {
    return "HS"s + char(type) + char(control) + Be32(parameter) + Be64(payload.size()) + payload;
}

// The type and control code that start a reply: what an Error or FatalError must carry.
std::string Head(unsigned type, unsigned control) {
    return "HS"s + char(type) + char(control);
}

class Hislip : public testing::Test {
protected:
    void SetUp() override { start(0ms); }
    // Two fresh connections to a server whose replies are due delay after their command.
    void start(std::chrono::milliseconds delay) {
        syncDriver_ = std::make_unique<ConversationDriver>();
        asyncDriver_ = std::make_unique<ConversationDriver>();
        sessions_ = std::make_unique<ampsim::HislipSessions>(model_, delay);
        sync().Attach(std::make_unique<ampsim::HislipChannel>(sync().ServerEnd(), *sessions_));
        async().Attach(std::make_unique<ampsim::HislipChannel>(async().ServerEnd(), *sessions_));
    }
    void open() {
        ASSERT_EQ(sync().Exchange(Msg(kInitialize, 0, 0x0100'5858, "hislip0")),
                  Msg(kInitializeResponse, 0, 0x0100'0001));
        ASSERT_EQ(async().Exchange(Msg(kAsyncInitialize, 0, 1)), Msg(18, 0, 0x4153));
    }

    ConversationDriver& sync() { return *syncDriver_; }
    ConversationDriver& async() { return *asyncDriver_; }

    ampsim::AmpModel model_;
    std::unique_ptr<ampsim::HislipSessions> sessions_;
    std::unique_ptr<ConversationDriver> syncDriver_, asyncDriver_;
};

} // namespace

TEST_F(Hislip, OpensASessionAndAnswersAQueryWithItsMessageId) {
    // Initialize: version 1.0, vendor "XX", sub-address hislip0 -> synchronized mode, version 1.0, session 1.
    EXPECT_EQ(sync().Exchange("HS\x00\x00\x01\x00XX\x00\x00\x00\x00\x00\x00\x00\x07hislip0"s),
              "HS\x01\x00\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00"s);
    // AsyncInitialize for session 1 -> the server's vendor id "AS".
    EXPECT_EQ(async().Exchange("HS\x11\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00"s),
              "HS\x12\x00\x00\x00\x41\x53\x00\x00\x00\x00\x00\x00\x00\x00"s);
    // DataEnd, message id 0xffffff00, "*IDN?\n" -> DataEnd with the same id and the reply.
    EXPECT_EQ(sync().Exchange("HS\x07\x00\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x06*IDN?\n"s),
              "HS\x07\x00\xff\xff\xff\x00\x00\x00\x00\x00\x00\x00\x00\x1dVeltrask,AmpSim,AS000001,1.0\n"s);
}

TEST_F(Hislip, JoinsDataMessagesAndKeepsRepliesWithinTheClientsMaximumSize) {
    open();
    EXPECT_EQ(async().Exchange(Msg(kAsyncMaximumMessageSize, 0, 0, Be64(8))),
              Msg(kAsyncMaximumMessageSizeResponse, 0, 0, Be64(1024 * 1024)));
    EXPECT_EQ(sync().Exchange(Msg(kData, 0, kFirstId, "MULTI")), "");
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId + 2, "? 2\n")),
              Msg(kData, 0, kFirstId + 2, "MULTI 1/") + Msg(kData, 0, kFirstId + 2, "2\nMULTI ") +
                  Msg(kDataEnd, 0, kFirstId + 2, "2/2\n"));
}

TEST_F(Hislip, OpcRequestsServiceUntilAStatusQuery) {
    open();
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "*OPC\n")), "");
    EXPECT_EQ(async().Turn({}), Msg(kAsyncServiceRequest, 0x40, 0));
    EXPECT_EQ(async().Exchange(Msg(kAsyncStatusQuery, 0, kFirstId)), Msg(kAsyncStatusResponse, 0x40, 0));
    EXPECT_EQ(async().Exchange(Msg(kAsyncStatusQuery, 0, kFirstId)), Msg(kAsyncStatusResponse, 0, 0));
}

// A reply still on its way (--delay) is dropped by a device clear, and so is what the client sends
// before DeviceClearComplete.
TEST_F(Hislip, DeviceClearDropsTheReplyAndTheCommandsBeforeItsEnd) {
    start(100ms);
    open();
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "*IDN?\n"), t0), "");
    EXPECT_EQ(sync().Conversation().NextDue(), t0 + 100ms);
    EXPECT_EQ(async().Exchange(Msg(kAsyncDeviceClear, 0, 0), t0), Msg(kAsyncDeviceClearAcknowledge, 0, 0));
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId + 2, "ECHO dropped\n"), t0 + 100ms), "");
    EXPECT_EQ(sync().Exchange(Msg(kDeviceClearComplete, 0, 0), t0 + 200ms),
              Msg(kDeviceClearAcknowledge, 0, 0));
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "ECHO kept\n"), t0 + 200ms), "");
    EXPECT_EQ(sync().Turn(t0 + 300ms), Msg(kDataEnd, 0, kFirstId, "kept\n"));
}

struct BadInput {
    const char* name;
    bool opened;        // both channels are open before
    std::string bytes;  // sent on the synchronous channel (on the asynchronous one for AsyncInitialize)
    bool endSending;    // the client leaves after sending
    std::string answer; // the start of the answer: type and control code
    bool closes;
};

class HislipBadInput : public Hislip, public testing::WithParamInterface<BadInput> {};

TEST_P(HislipBadInput, GetsTheStandardsAnswer) {
    const BadInput& row = GetParam();
    if (row.opened) open();
    ConversationDriver& channel = row.bytes[2] == char(kAsyncInitialize) ? async() : sync();
    if (row.endSending) {
        channel.Exchange(row.bytes);
        channel.EndSending();
    }
    const std::string answer = row.endSending ? channel.Turn({}) : channel.Exchange(row.bytes);
    EXPECT_EQ(answer.substr(0, 4), row.answer);
    EXPECT_EQ(channel.Finished(), row.closes);
    if (!row.closes) {
        EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "ECHO on\n")),
                  Msg(kDataEnd, 0, kFirstId, "on\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HislipBadInput,
    testing::Values(
        BadInput{"WrongPrologue", false, "XS\x00\x00"s + Be32(0) + Be64(0), false, Head(kFatalError, 1),
                 true},
        BadInput{"TruncatedHeader", false, "HS\x00\x00\x01\x00"s, true, Head(kFatalError, 1), true},
        BadInput{"DataFirst", false, Msg(kDataEnd, 0, kFirstId, "*IDN?\n"), false, Head(kFatalError, 3),
                 true},
        BadInput{"UnknownSession", false, Msg(kAsyncInitialize, 0, 77), false, Head(kFatalError, 3), true},
        BadInput{"HugeInitialize", false, Msg(kInitialize, 0, 0x0100'0000).substr(0, 8) + Be64(1ull << 63),
                 false, Head(kFatalError, 1), true},
        BadInput{"HugeData", true, Msg(kDataEnd, 0, 0).substr(0, 8) + Be64(1ull << 63), false,
                 Head(kFatalError, 1), true},
        BadInput{"UnknownType", true, Msg(99, 0, 0), false, Head(kError, 1), false},
        BadInput{"VendorType", true, Msg(200, 0, 0), false, Head(kError, 3), false}),
    [](const testing::TestParamInfo<BadInput>& param) { return std::string(param.param.name); });

TEST_F(Hislip, ADataMessageOverTheMaximumIsRefusedAndSkipped) {
    open();
    constexpr std::size_t kChunk = 64 * 1024, kChunks = 17; // 1 MiB and a chunk
    EXPECT_EQ(sync().Exchange(Msg(kData, 0, kFirstId).substr(0, 8) + Be64(kChunk * kChunks)).substr(0, 4),
              Head(kError, 4));
    for (std::size_t i = 0; i < kChunks; ++i)
        ASSERT_EQ(sync().Exchange(std::string(kChunk, 'x')), "");
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "ECHO on\n")), Msg(kDataEnd, 0, kFirstId, "on\n"));
}

TEST_F(Hislip, DataBeforeTheAsynchronousChannelIsFatal) {
    ASSERT_EQ(sync().Exchange(Msg(kInitialize, 0, 0x0100'0000, "hislip0")),
              Msg(kInitializeResponse, 0, 0x0100'0001));
    EXPECT_EQ(sync().Exchange(Msg(kDataEnd, 0, kFirstId, "*IDN?\n")).substr(0, 4), Head(kFatalError, 2));
    EXPECT_TRUE(sync().Finished());
}

TEST_F(Hislip, OneChannelLeavingEndsTheSession) {
    open();
    async().EndSending();
    async().Turn({});
    EXPECT_TRUE(async().Finished());
    EXPECT_TRUE(sync().Finished());
}
