// The VXI-11 client against a portmapper and a core channel played byte by byte on loopback, the
// messages written out from the VXI-11 and ONC RPC tables ('x': a field the client fills from the
// time left, io_timeout).
#include "connection/Vxi11Client.h"
#include "LoopbackPeer.h"

#include <gtest/gtest.h>

#include <future>

namespace {
// After the xid: CALL, RPC version 2, program, version, procedure, AUTH_NONE credentials and verifier.
const std::string GetPortCall =
    "00000000 00000002 000186a0 00000002 00000003 00000000 00000000 00000000 00000000"
    " 000607af 00000001 00000006 00000000"; // DEVICE_CORE 1 over TCP, port 0
std::string CoreCall(const char* procedure, const char* arguments) {
    return std::string("00000000 00000002 000607af 00000001 ") + procedure +
           " 00000000 00000000 00000000 00000000 " + arguments;
}
// After the xid: REPLY, MSG_ACCEPTED, AUTH_NONE verifier, SUCCESS.
const std::string Accepted = "00000001 00000000 00000000 00000000 00000000 ";

const std::string CreateLink = CoreCall("0000000a", "00000000 00000000 00000000 00000005 696e7374 30000000");
const std::string LinkMade = Accepted + "00000000 00000007 00000000 00000004"; // link 7, maxRecvSize 4
const std::string DestroyLink = CoreCall("00000017", "00000007");
const std::string NoError = Accepted + "00000000";
const std::string PlainRead = CoreCall("0000000c", "00000007 00100000 xxxxxxxx 00000000 00000000 00000000");

uint32_t BigEndian32(const std::string& bytes) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

std::string Record(const std::string& message) {
    return Hex(Hex32(0x80000000u | static_cast<uint32_t>(message.size()))) + message;
}

// Reads one call (one last fragment) from connection c, checks its bytes after the xid, answers
// reply (hex, after the xid; none when empty) with the call's xid, and returns that xid.
uint32_t Answer(LoopbackPeer& peer, int c, const std::string& call, const std::string& reply) {
    const std::string record = peer.Read(c, BigEndian32(peer.Read(c, 4)) & 0x7fffffff);
    if (record.size() < 4) {
        ADD_FAILURE() << "no call came; expected " << call;
        return 0;
    }
    EXPECT_TRUE(MatchesHex(record.substr(4), call)) << ToHex(record) << "\nexpected xid + " << call;
    if (!reply.empty()) peer.Send(c, Record(record.substr(0, 4) + Hex(reply)));
    return BigEndian32(record);
}

class Vxi11 : public testing::Test {
protected:
    // The portmapper answers GETPORT with reply (hex after the xid; the core channel's port when
    // empty) and waits for the client to hang up. raw: reply is sent as it is, then it hangs up.
    void ServePortmap(const std::string& reply = "", bool raw = false) {
        portmap.Serve([this, reply, raw](LoopbackPeer& p) {
            const int c = p.Accept();
            Answer(p, c, GetPortCall,
                   raw             ? std::string()
                   : reply.empty() ? Accepted + Hex32(core.Port())
                                   : reply);
            if (raw)
                p.Send(c, Hex(reply));
            else
                p.Read(c, 1);
            p.Hangup(c);
        });
    }
    // The core channel makes link 7, then plays more.
    void ServeCore(std::function<void(LoopbackPeer&, int)> more) {
        core.Serve([more](LoopbackPeer& p) {
            const int c = p.Accept();
            Answer(p, c, CreateLink, LinkMade);
            more(p, c);
        });
    }
    bool Open(int termChar = -1, int timeoutMs = 5000) {
        return client.Open({"127.0.0.1", portmap.Port(), "", timeoutMs, termChar});
    }

    LoopbackPeer portmap, core;
    Vxi11Client client;
};
} // namespace

TEST_F(Vxi11, ConversationFollowsTheCallTables) {
    ServePortmap();
    ServeCore([](LoopbackPeer& p, int c) {
        Answer(p, c, CoreCall("0000000b", "00000007 xxxxxxxx 00000000 00000000 00000004 2a49444e"),
               Accepted + "00000000 00000004");
        Answer(p, c, CoreCall("0000000b", "00000007 xxxxxxxx 00000000 00000008 00000002 3f0a0000"),
               Accepted + "00000000 00000002"); // the last chunk carries END
        const std::string read =
            CoreCall("0000000c", "00000007 00100000 xxxxxxxx 00000000 00000080 0000000a");
        const uint32_t xid = Answer(p, c, read, "");
        // A late reply to an earlier call, then the reply: 5 bytes, only the request count reached.
        p.Send(c, Record(Hex(Hex32(xid - 1) + Accepted + "00000000 00000004 00000005 7374616c 65000000")));
        p.Send(c, Record(Hex(Hex32(xid) + Accepted + "00000000 00000001 00000005 41434d45 2c000000")));
        Answer(p, c, read, Accepted + "00000000 00000004 00000003 58310a00"); // END
        Answer(p, c, CoreCall("0000000d", "00000007 00000000 00000000 xxxxxxxx"),
               Accepted + "00000000 00000050");
        Answer(p, c, CoreCall("0000000f", "00000007 00000000 00000000 xxxxxxxx"), NoError);
        Answer(p, c, DestroyLink, NoError);
    });
    ASSERT_TRUE(Open('\n')) << client.Failure();
    EXPECT_EQ(client.MaxRecvSize(), 4u);
    EXPECT_TRUE(client.Write("*IDN?\n", 5000)) << client.Failure();
    std::string reply;
    EXPECT_TRUE(client.Read(reply, 5000)) << client.Failure();
    EXPECT_EQ(reply, "ACME,X1\n");
    uint8_t status = 0;
    EXPECT_TRUE(client.ReadStatusByte(status, 5000)) << client.Failure();
    EXPECT_EQ(status, 0x50);
    EXPECT_TRUE(client.Clear(5000)) << client.Failure();
    client.Close();
    EXPECT_FALSE(client.IsOpen());
    core.Join();
}

namespace {
struct OpenFailure {
    const char* name;
    std::string portmapReply; //!< Hex after the xid; raw: bytes as they are, then a hang-up.
    bool raw;
    std::string linkReply; //!< create_link's reply, when the portmapper answers the core's port.
    int timeoutMs;
    const char* expected;
};

class Vxi11Open : public Vxi11, public testing::WithParamInterface<OpenFailure> {};
} // namespace

TEST_P(Vxi11Open, FailsWithItsReason) {
    const OpenFailure& row = GetParam();
    ServePortmap(row.portmapReply, row.raw);
    if (!row.linkReply.empty())
        core.Serve([&row](LoopbackPeer& p) {
            const int c = p.Accept();
            Answer(p, c, CreateLink, row.linkReply);
            p.Read(c, 1);
        });
    EXPECT_FALSE(Open(-1, row.timeoutMs));
    EXPECT_NE(client.Failure().find(row.expected), std::string::npos) << client.Failure();
    EXPECT_FALSE(client.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Vxi11Open,
    testing::Values(
        OpenFailure{"ProgUnavail", "00000001 00000000 00000000 00000000 00000001", false, "", 5000,
                    "portmapper GETPORT: RPC reply: the call was not carried out: PROG_UNAVAIL (1)"},
        OpenFailure{"NotRegistered", Accepted + "00000000", false, "", 5000, "knows no VXI-11 core channel"},
        OpenFailure{"AuthError", "00000001 00000001 00000001 00000005", false, "", 5000,
                    "rejected: AUTH_ERROR, AUTH_TOOWEAK (5)"},
        OpenFailure{"CutShort", "00000001 00000000 00000000", false, "", 5000,
                    "cut short: 4 bytes wanted at offset 16, 0 left"},
        OpenFailure{"FragmentOf2GB", "ffffffff", true, "", 5000, "a record of more than 4194304 bytes"},
        OpenFailure{"HangsUpMidReply", "80000020 00000000", true, "", 5000,
                    "closed the connection in the middle of a reply"},
        OpenFailure{"Silent", "", false, "", 200, "no reply within 200 ms"},
        OpenFailure{"DeviceNotAccessible", "", false, Accepted + "00000003 00000000 00000000 00000000", 5000,
                    "create_link \"inst0\": device not accessible (3)"}),
    [](const auto& row) { return std::string(row.param.name); });

namespace {
struct ReadFailure {
    const char* name;
    std::string reply; //!< Hex after the xid; raw: bytes as they are, then a hang-up; empty: none.
    bool raw;
    int timeoutMs;
    const char* expected;
    const char* partial; //!< What Read leaves in its message.
    bool staysOpen;
};

class Vxi11Read : public Vxi11, public testing::WithParamInterface<ReadFailure> {};
} // namespace

TEST_P(Vxi11Read, FailsWithItsReason) {
    const ReadFailure& row = GetParam();
    ServePortmap();
    ServeCore([&row](LoopbackPeer& p, int c) {
        Answer(p, c, PlainRead, row.raw ? "" : row.reply);
        if (!row.raw) return Answer(p, c, DestroyLink, NoError);
        p.Send(c, Hex(row.reply));
        p.Hangup(c);
        return 0u;
    });
    ASSERT_TRUE(Open()) << client.Failure();
    std::string message;
    EXPECT_FALSE(client.Read(message, row.timeoutMs));
    EXPECT_EQ(client.Failure(), row.expected);
    EXPECT_EQ(message, row.partial);
    EXPECT_EQ(client.IsOpen(), row.staysOpen);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Vxi11Read,
    testing::Values(ReadFailure{"DeviceTimeout", Accepted + "0000000f 00000000 00000003 70617200", false,
                                5000, "device_read: I/O timeout (15)", "par", true},
                    ReadFailure{"HangsUpMidReply", "80000040 00000001", true, 5000,
                                "device_read: the instrument closed the connection in the middle of a reply",
                                "", false},
                    ReadFailure{"Silent", "", false, 200, "device_read: no reply within 200 ms", "", true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(Vxi11, CloseFromAnotherThreadReleasesABlockedReadAndStillDestroysTheLink) {
    std::promise<void> readCame;
    ServePortmap();
    ServeCore([&readCame](LoopbackPeer& p, int c) {
        Answer(p, c, PlainRead, "");
        readCame.set_value();
        Answer(p, c, DestroyLink, NoError);
    });
    ASSERT_TRUE(Open()) << client.Failure();
    std::thread closer([&] {
        readCame.get_future().wait();
        client.Close();
    });
    std::string message;
    EXPECT_FALSE(client.Read(message, 60000));
    closer.join();
    EXPECT_EQ(client.Failure(), "device_read: closed");
    EXPECT_FALSE(client.IsOpen());
}
