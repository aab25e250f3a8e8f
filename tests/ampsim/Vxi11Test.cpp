// VXI-11 on ampsim's side: the portmapper and the core channel as RPC connections, fed records
// written out by hand from RFC 5531/1833 and the VXI-11 message layouts.
#include <gtest/gtest.h>

#include "AmpModel.h"
#include "ConversationDriver.h"
#include "Portmapper.h"
#include "RpcConnection.h"
#include "Vxi11Core.h"

namespace {

using namespace std::chrono_literals;
using Clock = ampsim::Clock;

constexpr unsigned kCore = 0x0607AF;
constexpr unsigned kLastFragment = 0x80000000u;
enum Proc : unsigned { kCreateLink = 10, kWrite = 11, kRead = 12, kReadStb = 13, kClear = 15, kDestroy = 23 };
constexpr unsigned kEnd = 8, kTermCharSet = 0x80;

std::string Opaque(std::string_view bytes) {
    return Be32(static_cast<unsigned>(bytes.size())) + std::string(bytes) +
           std::string((4 - bytes.size() % 4) % 4, '\0');
}

// A call with AUTH_NONE credentials and verifier, framed as one record of one fragment.
std::string Call(unsigned xid, unsigned program, unsigned version, unsigned proc, const std::string& args,
                 unsigned rpcVersion = 2) {
    std::string body = Be32(xid) + Be32(0) + Be32(rpcVersion) + Be32(program) + Be32(version) + Be32(proc) +
                       Be64(0) + Be64(0) + args;
    return Be32(kLastFragment | static_cast<unsigned>(body.size())) + body;
}

// An accepted reply with an AUTH_NONE verifier.
std::string Accepted(unsigned xid, unsigned acceptStat, const std::string& results = {}) {
    std::string body = Be32(xid) + Be32(1) + Be32(0) + Be64(0) + Be32(acceptStat) + results;
    return Be32(kLastFragment | static_cast<unsigned>(body.size())) + body;
}

std::string Generic(unsigned link) {
    return Be32(link) + Be32(0) + Be32(0) + Be32(1000);
}

class CoreChannel : public testing::Test {
protected:
    void SetUp() override { start(0ms); }
    void start(std::chrono::milliseconds delay) {
        driver_ = std::make_unique<ConversationDriver>();
        driver_->Attach(std::make_unique<ampsim::RpcConnection>(
            driver_->ServerEnd(), std::make_unique<ampsim::Vxi11Core>(model_, delay)));
        ASSERT_EQ(call(kCreateLink, Be32(7) + Be32(0) + Be32(0) + Opaque("inst0")),
                  ok(Be32(0) + Be32(1) + Be32(0) + Be32(65536)));
    }
    // The reply, its xid checked and set to 0, so that expectations need not know it.
    std::string call(unsigned proc, const std::string& args, Clock::time_point now = {}) {
        return checked(driver_->Exchange(Call(++xid_, kCore, 1, proc, args), now));
    }
    // The reply to a call that waited, when the loop turns at now.
    std::string turn(Clock::time_point now) { return checked(driver_->Turn(now)); }
    std::string checked(std::string reply) {
        if (reply.size() >= 8) {
            EXPECT_EQ(reply.substr(4, 4), Be32(xid_));
            reply.replace(4, 4, Be32(0));
        }
        return reply;
    }
    std::string write(const std::string& data, unsigned flags = kEnd) {
        return call(kWrite, Be32(1) + Be32(1000) + Be32(0) + Be32(flags) + Opaque(data));
    }
    std::string read(unsigned size, unsigned timeoutMs = 1000, unsigned flags = 0,
                     Clock::time_point now = {}) {
        return call(kRead, Be32(1) + Be32(size) + Be32(timeoutMs) + Be32(0) + Be32(flags) + Be32('\n'), now);
    }
    // A successful call's results (xid 0, as call() leaves it).
    static std::string ok(const std::string& results) { return Accepted(0, 0, results); }
    static std::string readReply(unsigned reason, std::string_view data) {
        return ok(Be32(0) + Be32(reason) + Opaque(data));
    }
    static std::string stbReply(unsigned stb) { return ok(Be32(0) + Be32(stb)); }

    ampsim::AmpModel model_;
    std::unique_ptr<ConversationDriver> driver_;
    unsigned xid_ = 0;
};

} // namespace

// GETPORT names the core channel only for DEVICE_CORE 1 over TCP; a call may come in fragments.
TEST(Vxi11Portmapper, AnswersGetPortAndTheRpcErrors) {
    ConversationDriver driver;
    driver.Attach(std::make_unique<ampsim::RpcConnection>(driver.ServerEnd(),
                                                          std::make_unique<ampsim::Portmapper>(4242)));
    const std::string getCore = Call(1, 100000, 2, 3, Be32(kCore) + Be32(1) + Be32(6) + Be32(0));
    const std::string body = getCore.substr(4);
    const std::string fragmented =
        Be32(10) + body.substr(0, 10) + Be32(kLastFragment | unsigned(body.size() - 10)) + body.substr(10);
    EXPECT_EQ(driver.Exchange(fragmented.substr(0, 17)), "") << "half a record";
    EXPECT_EQ(driver.Exchange(fragmented.substr(17)), Accepted(1, 0, Be32(4242)));
    EXPECT_EQ(driver.Exchange(Call(2, 100000, 2, 3, Be32(kCore) + Be32(1) + Be32(17) + Be32(0))),
              Accepted(2, 0, Be32(0)))
        << "over UDP";
    EXPECT_EQ(driver.Exchange(Call(3, 100000, 2, 3, Be32(100003) + Be32(2) + Be32(6) + Be32(0))),
              Accepted(3, 0, Be32(0)))
        << "NFS is not here";
    EXPECT_EQ(driver.Exchange(Call(4, 100000, 2, 0, "")), Accepted(4, 0));
    EXPECT_EQ(driver.Exchange(Call(5, 100000, 2, 4, "")), Accepted(5, 3)) << "DUMP: PROC_UNAVAIL";
    EXPECT_EQ(driver.Exchange(Call(6, kCore, 1, 10, "")), Accepted(6, 1)) << "PROG_UNAVAIL";
    EXPECT_EQ(driver.Exchange(Call(7, 100000, 3, 3, "")), Accepted(7, 2, Be32(2) + Be32(2)))
        << "PROG_MISMATCH";
    EXPECT_EQ(driver.Exchange(Call(8, 100000, 2, 0, "", 3)),
              Be32(kLastFragment | 24) + Be32(8) + Be32(1) + Be32(1) + Be32(0) + Be32(2) + Be32(2))
        << "RPC_MISMATCH";
    EXPECT_EQ(driver.Exchange(Call(9, 100000, 2, 3, Be32(kCore))), Accepted(9, 4)) << "GARBAGE_ARGS";
    EXPECT_FALSE(driver.Finished());
    driver.EndSending();
    driver.Turn({});
    EXPECT_TRUE(driver.Finished());
}

TEST(Vxi11Rpc, ARecordOverTheLimitEndsTheConnection) {
    ConversationDriver driver;
    driver.Attach(
        std::make_unique<ampsim::RpcConnection>(driver.ServerEnd(), std::make_unique<ampsim::Portmapper>(1)));
    EXPECT_EQ(driver.Exchange(Be32(0x7fffffff) + "xid"), "");
    EXPECT_TRUE(driver.Finished());
}

TEST_F(CoreChannel, JoinsWriteChunksUntilEndAndReadsTheReplyInPieces) {
    EXPECT_EQ(write("*ID", 0), ok(Be32(0) + Be32(3)));
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0)) << "no command yet";
    EXPECT_EQ(write("N?\n"), ok(Be32(0) + Be32(3)));
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0x10)) << "MAV";
    EXPECT_EQ(read(10), readReply(1, "Veltrask,A")) << "REQCNT";
    EXPECT_EQ(read(100), readReply(4, "mpSim,AS000001,1.0\n")) << "END";
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0));
    EXPECT_EQ(write("MULTI? 2"), ok(Be32(0) + Be32(8)));
    EXPECT_EQ(read(100, 1000, kTermCharSet), readReply(2, "MULTI 1/2\n")) << "CHR";
    EXPECT_EQ(read(100, 1000, kTermCharSet), readReply(6, "MULTI 2/2\n")) << "CHR and END";
}

TEST_F(CoreChannel, AReadWithNothingQueuedTimesOutAfterItsIoTimeout) {
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(write("NOREPLY"), ok(Be32(0) + Be32(7)));
    EXPECT_EQ(read(100, 500, 0, t0), "");
    EXPECT_EQ(driver_->Conversation().NextDue(), t0 + 500ms);
    EXPECT_EQ(driver_->Turn(t0 + 499ms), "");
    EXPECT_EQ(turn(t0 + 500ms), ok(Be32(15) + Be32(0) + Be32(0))) << "I/O timeout";
    EXPECT_EQ(call(kReadStb, Generic(1), t0 + 500ms), stbReply(0)) << "the next call is taken";
}

TEST_F(CoreChannel, AReadWaitsForADelayedReply) {
    start(200ms); // a new connection, whose replies come late
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(call(kWrite, Be32(1) + Be32(1000) + Be32(0) + Be32(kEnd) + Opaque("ECHO late"), t0),
              ok(Be32(0) + Be32(9)));
    EXPECT_EQ(read(100, 1000, 0, t0), "");
    EXPECT_EQ(turn(t0 + 200ms), readReply(4, "late\n"));
}

TEST_F(CoreChannel, ClearDropsTheReplyAndOpcRequestsServiceUntilPolled) {
    write("STATUS?");
    EXPECT_EQ(call(kClear, Generic(1)), ok(Be32(0)));
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0));
    write("*OPC");
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0x40)) << "RQS";
    EXPECT_EQ(call(kReadStb, Generic(1)), stbReply(0)) << "the poll ended the request";
}

TEST_F(CoreChannel, RefusesUnknownDevicesLinksAndProcedures) {
    EXPECT_EQ(call(kCreateLink, Be32(7) + Be32(0) + Be32(0) + Opaque("gpib0,5")),
              ok(Be32(3) + Be32(0) + Be32(0) + Be32(0)))
        << "device not accessible";
    EXPECT_EQ(call(kWrite, Be32(99) + Be32(0) + Be32(0) + Be32(kEnd) + Opaque("*IDN?")),
              ok(Be32(4) + Be32(0)))
        << "invalid link";
    EXPECT_EQ(call(99, ""), Accepted(0, 3)) << "PROC_UNAVAIL";
    EXPECT_EQ(call(kDestroy, Be32(1)), ok(Be32(0)));
    EXPECT_EQ(call(kDestroy, Be32(1)), ok(Be32(4)));
}
