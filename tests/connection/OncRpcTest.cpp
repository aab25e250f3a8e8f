// The XDR and ONC RPC codec against messages written out from RFC 4506 and RFC 5531.
#include "connection/OncRpc.h"
#include "LoopbackPeer.h"

#include <gtest/gtest.h>

using namespace oncrpc;

TEST(Xdr, ItemsArePaddedToFourBytesAndReadBack) {
    XdrWriter out;
    out.PutString("abcde");
    out.PutInt32(-2);
    EXPECT_EQ(ToHex(out.Bytes()), "000000056162636465000000fffffffe");
    XdrReader in(out.Bytes());
    std::string text;
    int32_t number = 0;
    EXPECT_TRUE(in.GetOpaque(text) && in.GetInt32(number));
    EXPECT_EQ(text, "abcde");
    EXPECT_EQ(number, -2);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(Xdr, AnOpaqueThatRunsPastItsInputIsRefusedUnread) {
    for (const char* hex : {"80000000 00000000", "fffffffd 61626364", "00000005 61626364 65"}) {
        const std::string input = Hex(hex); // the reader holds a view of it
        XdrReader in(input);
        std::string bytes;
        EXPECT_FALSE(in.GetOpaque(bytes)) << hex;
        EXPECT_NE(in.Failure().find("runs past"), std::string::npos) << in.Failure();
        EXPECT_TRUE(bytes.empty());
    }
}

TEST(RpcCall, HeaderIsLaidOutAsTheRfcSays) {
    EXPECT_EQ(ToHex(EncodeCall({0x11223344, 100000, 2, 3}, Hex("01020304"))),
              "11223344"
              "00000000"
              "00000002"
              "000186a0"
              "00000002"
              "00000003" // CALL, RPC 2, program
              "00000000"
              "00000000"
              "00000000"
              "00000000"
              "01020304"); // AUTH_NONE twice
}

namespace {
struct ReplyRow {
    const char* hex;      //!< A reply to xid 1.
    const char* expected; //!< The failure, or the results' hex when it is accepted.
};
class RpcReply : public testing::TestWithParam<ReplyRow> {};
} // namespace

TEST_P(RpcReply, IsReadOrRefusedWithItsReason) {
    ReplyCheck check;
    const std::string reply = Hex(GetParam().hex); // results is a view into it
    if (DecodeReply(reply, 1, check))
        EXPECT_EQ(ToHex(check.results), GetParam().expected);
    else
        EXPECT_EQ(check.failure, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RpcReply,
    testing::Values(
        ReplyRow{"00000001 00000001 00000000 00000000 00000000 00000000 0000002a", "0000002a"},
        ReplyRow{"00000001 00000001 00000000 00000000 00000000 00000002 00000002 00000003",
                 "RPC reply: the call was not carried out: PROG_MISMATCH (2), versions offered 2..3"},
        ReplyRow{"00000001 00000001 00000000 00000000 00000000 00000003",
                 "RPC reply: the call was not carried out: PROC_UNAVAIL (3)"},
        ReplyRow{"00000001 00000001 00000001 00000000 00000002 00000002",
                 "RPC reply: the call was rejected: RPC_MISMATCH, versions 2..2"},
        ReplyRow{"00000001 00000001 00000002", "RPC reply: the reply has an unknown reply_stat 2"},
        ReplyRow{"00000001 00000000 00000000", "RPC reply: the message is no reply (msg_type 0)"},
        ReplyRow{"00000002 00000001 00000000", "RPC reply: a reply to another call (xid 2)"},
        ReplyRow{"00000001 00000001 00000000 00000000 00000191",
                 "RPC reply: an opaque item of 401 bytes exceeds its limit of 400"},
        ReplyRow{"00000001 000000",
                 "RPC reply: the message is cut short: 4 bytes wanted at offset 4, 3 left"}));

TEST(RecordReader, FragmentsMakeOneRecordHoweverTheStreamIsCut) {
    const std::string stream = Hex("00000003 616263  80000002 6465  80000001 66  0000");
    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        RecordReader reader;
        std::vector<std::string> records;
        std::string record;
        for (size_t at = 0; at < stream.size(); at += piece) {
            reader.Append(stream.substr(at, piece));
            while (reader.Next(record) == RecordReader::Status::Record)
                records.push_back(record);
        }
        EXPECT_EQ(records, (std::vector<std::string>{"abcde", "f"})) << "pieces of " << piece;
        EXPECT_TRUE(reader.MidRecord()) << "two bytes of a header are left";
    }
}

TEST(RecordReader, ARecordBeyondTheLimitIsMalformedBeforeItsBytesCome) {
    for (const char* hex : {"ffffffff", "7fffffff", "00000006 616263646566 80000003"}) {
        RecordReader reader(8);
        std::string record;
        reader.Append(Hex(hex));
        EXPECT_EQ(reader.Next(record), RecordReader::Status::Malformed) << hex;
        EXPECT_NE(reader.Failure().find("a record of more than 8 bytes"), std::string::npos)
            << reader.Failure();
    }
}
