// The GETPORT datagram of the VXI-11 broadcast: the reply reader against replies built by hand, and
// a round trip through the simulator's own portmapper code.
#include "finder/PortmapDatagram.h"
#include "UdpPortmapper.h"
#include "connection/OncRpc.h"

#include <gtest/gtest.h>

namespace {
constexpr uint32_t Xid = 0x1234abcd;

// An accepted reply: header, null verifier, accept_stat, then the results given.
std::string Reply(uint32_t xid, uint32_t acceptStat, std::initializer_list<uint32_t> results,
                  uint32_t replyStat = 0) {
    oncrpc::XdrWriter out;
    for (uint32_t word : {xid, 1u, replyStat, 0u, 0u, acceptStat})
        out.PutUint32(word);
    for (uint32_t word : results)
        out.PutUint32(word);
    return out.Bytes();
}

struct ReplyCase {
    const char* what;
    std::string datagram;
    std::optional<uint16_t> port;
};

class GetPortReply : public testing::TestWithParam<ReplyCase> {};
} // namespace

TEST_P(GetPortReply, IsReadWithinItsBytes) {
    const ReplyCase& c = GetParam();
    // A copy of exactly the datagram's size, so a read past its end shows under the sanitizers.
    const std::unique_ptr<char[]> bytes(new char[c.datagram.size()]);
    std::copy(c.datagram.begin(), c.datagram.end(), bytes.get());
    EXPECT_EQ(ReadGetPortReply({bytes.get(), c.datagram.size()}, Xid), c.port) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, GetPortReply,
    testing::Values(ReplyCase{"a port", Reply(Xid, 0, {1024}), 1024},
                    ReplyCase{"the highest port", Reply(Xid, 0, {65535}), 65535},
                    ReplyCase{"not registered", Reply(Xid, 0, {0}), std::nullopt},
                    ReplyCase{"beyond a port", Reply(Xid, 0, {65536}), std::nullopt},
                    ReplyCase{"another call's", Reply(Xid + 1, 0, {1024}), std::nullopt},
                    ReplyCase{"PROG_UNAVAIL", Reply(Xid, 1, {}), std::nullopt},
                    ReplyCase{"denied", Reply(Xid, 0, {}, 1), std::nullopt},
                    ReplyCase{"cut in the port", Reply(Xid, 0, {1024}).substr(0, 26), std::nullopt},
                    ReplyCase{"cut in the header", Reply(Xid, 0, {1024}).substr(0, 10), std::nullopt},
                    ReplyCase{"empty", "", std::nullopt}));

TEST(GetPortRoundTrip, TheSimulatorsUdpPortmapperNamesTheCorePortAndAGarbledAnswerNamesNone) {
    const std::string call = GetPortDatagram(Xid);
    EXPECT_EQ(ReadGetPortReply(ampsim::AnswerPortmapCall(call, 40123, false), Xid), 40123);
    EXPECT_EQ(ReadGetPortReply(ampsim::AnswerPortmapCall(call, 40123, true), Xid), std::nullopt);
    EXPECT_EQ(ampsim::AnswerPortmapCall(call.substr(0, 20), 40123, false), "") << "no call: no answer";
}
