// Conversion tables without windows: the point list, the wire formats, and transfers through a
// real TIO against the simulated amplifier over loopback.
#include "console/ConvTable.h"
#include "AmpsimProcess.h"
#include "connection/Connection.h"
#include "connection/TraceIo.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {
using Texts = std::vector<std::string>;

struct PointLineCase {
    std::string line;
    bool isPoint;
    ConvPoint point;
};

void PrintTo(const PointLineCase& c, std::ostream* out) {
    *out << '"' << c.line << '"';
}

class ConvPointLineTest : public testing::TestWithParam<PointLineCase> {};

TEST_P(ConvPointLineTest, ReadsAnUnsignedXAndASignedY) {
    const PointLineCase& c = GetParam();
    ConvPoint point{7, 7};
    EXPECT_EQ(ParseConvPointLine(c.line, point), c.isPoint);
    if (c.isPoint) {
        EXPECT_EQ(point, c.point);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ConvPointLineTest,
    testing::Values(PointLineCase{"100 -10", true, {100, -10}},
                    PointLineCase{" \t70000\t\t-1 \r", true, {70000, -1}},
                    PointLineCase{"0 0 trailing words", true, {0, 0}}, PointLineCase{"12-5", true, {12, -5}},
                    PointLineCase{"+3 +4", true, {3, 4}}, PointLineCase{"", false, {}},
                    PointLineCase{"adc dbm100", false, {}}, PointLineCase{"100", false, {}},
                    PointLineCase{"100 x", false, {}},
                    PointLineCase{"# point 5: unreadable reply \"ERROR_AMP_BUSY\"", false, {}}));

TEST(ConvPointList, SkipsEveryOtherLineAndTagsTheTableByItsSigns) {
    const Texts lines = {"Table 3", "", "100 5", "   ", "# note", "200 6"};
    EXPECT_EQ(ParseConvPointList(lines), (std::vector<ConvPoint>{{100, 5}, {200, 6}}));
    EXPECT_EQ(SignTag(ParseConvPointList(lines)), 'U');
    EXPECT_EQ(SignTag({{1, 0}, {2, 3}, {3, -1}}), 'S');
    EXPECT_EQ(SignTag({}), 'U');
}

struct WireCase {
    std::string produced;
    std::string expected;
};

void PrintTo(const WireCase& c, std::ostream* out) {
    *out << '"' << c.expected << '"';
}

class ConvWireTest : public testing::TestWithParam<WireCase> {};

TEST_P(ConvWireTest, IsByteForByte) {
    EXPECT_EQ(GetParam().produced, GetParam().expected);
}

const std::string Up = ConvCommandPrefix("", true);
const std::string Dn = ConvCommandPrefix("", false);

INSTANTIATE_TEST_SUITE_P(
    Requests, ConvWireTest,
    testing::Values(
        WireCase{ConvUploadRequest(Up, 3, 0, {100, -10}, 'S'), "SVC CONV UP 03 00 0064 fff6 S?\n"},
        WireCase{ConvUploadRequest(Up, 0, 19, {70000, -1}, 'S'), "SVC CONV UP 00 13 11170 ffff S?\n"},
        WireCase{ConvUploadRequest(Up, 255, 1, {4095, 65535}, 'U'), "SVC CONV UP ff 01 0fff ffff U?\n"},
        WireCase{ConvUploadRequest(ConvCommandPrefix("2", true), 16, 2, {1, 2}, 'U'),
                 "SVC QB 2 SVC CONV UP 10 02 0001 0002 U?\n"},
        WireCase{ConvDownloadRequest(Dn, 0, 0), "SVC CONV DN 00 00?\n"},
        WireCase{ConvDownloadRequest(ConvCommandPrefix("2", false), 0, 0), "SVC QB 2 SVC CONV DN 00 00?\n"},
        WireCase{ConvDownloadRequest(ConvCommandPrefix("0x1f", false), 300, 19),
                 "SVC QB 0x1f SVC CONV DN 12c 13?\n"},
        WireCase{ConvListCaption(3), "Table 3 Points"}));

INSTANTIATE_TEST_SUITE_P(
    ListLines, ConvWireTest,
    testing::Values(WireCase{ConvListLine(3, 0, "CONV 03 00 0064 fff6 S\r"), "100\t-10\r\n"},
                    WireCase{ConvListLine(3, 0, "CONV 03 00 0064 fff6 U"), "100\t65526\r\n"},
                    WireCase{ConvListLine(3, 0, "CONV 03 00 0064 FFF6 ?"), "100\t65526\r\n"},
                    WireCase{ConvListLine(0, 19, "X 00 13 ffff 8000 S"), "65535\t-32768\r\n"},
                    WireCase{ConvListLine(0, 5, "ERROR_AMP_BUSY\r"),
                             "# point 5: unreadable reply \"ERROR_AMP_BUSY\"\r\n"},
                    WireCase{ConvListLine(0, 5, "CONV 00 05 0064"),
                             "# point 5: unreadable reply \"CONV 00 05 0064\"\r\n"},
                    WireCase{ConvListLine(0, 5, ""), "# point 5: unreadable reply \"\"\r\n"},
                    WireCase{ConvListLine(0, 5, "CONV 00 04 0064 0001 U"),
                             "# point 5: reply for another point \"CONV 00 04 0064 0001 U\"\r\n"},
                    WireCase{ConvListLine(1, 5, "CONV 00 05 0064 0001 U"),
                             "# point 5: reply for another point \"CONV 00 05 0064 0001 U\"\r\n"}));

// A TIO framed as the console frames it, connected to ampsim; everything the transfer does is
// recorded in order: requests as the TIO echoes them, replies as it hands them over, log entries.
class ConvTransferTest : public testing::Test {
protected:
    void SetUp() override { SetTraceStream(nullptr); }
    void TearDown() override {
        io.reset();
        SetTraceStream(stdout);
    }

    void Connect(std::vector<std::string> args = {}) {
        amp = std::make_unique<AmpsimProcess>(std::move(args));
        ASSERT_TRUE(amp->Ready()) << amp->Error();
        io = std::make_unique<TIO>(ui);
        io->EndChar = '\n';
        io->StartCharEnabled = false;
        io->SetOnTxEcho([this](const std::string& text) { events.push_back("Tx: " + text); });
        io->SetOnRxLine([this](const std::string& line, TIO*) { events.push_back("Rx: " + TrimText(line)); });
        ASSERT_TRUE(io->Open("tcp:127.0.0.1:" + std::to_string(amp->TcpPort())));
    }
    ConvTransferHost Host() {
        ConvTransferHost host;
        host.Query = [this](const std::string& request, std::string& reply) {
            return io->Query(request, reply, ConvReplyTimeoutMs);
        };
        host.QueryPaired = [this](const std::string& request, std::string& reply,
                                  const ConvReplyFilter& accept) {
            return io->Query(request, reply, ConvReplyTimeoutMs, accept);
        };
        host.Log = [this](const std::string& text) { events.push_back("Log: " + text); };
        host.PointDone = [this] { ++pointsDone; };
        return host;
    }
    Texts Sent() const { return Starting("Tx: "); }
    Texts Logged() const { return Starting("Log: "); }
    Texts Starting(const std::string& kind) const {
        Texts out;
        for (const std::string& event : events) {
            if (event.rfind(kind, 0) == 0) out.push_back(event.substr(kind.size()));
        }
        return out;
    }
    ConvResult Upload(const Texts& lines, unsigned table = 0, const std::string& address = "") {
        return UploadConvTable(Host(), ConvCommandPrefix(address, true), table, lines);
    }
    ConvResult Download(std::string& list, unsigned table = 0, const std::string& address = "") {
        return DownloadConvTable(Host(), ConvCommandPrefix(address, false), table, list);
    }
    // The list of a download, one entry per line.
    Texts DownloadLines(unsigned table = 0, const std::string& address = "") {
        std::string list;
        EXPECT_EQ(Download(list, table, address), ConvResult::Done);
        Texts lines;
        for (size_t start = 0, end; (end = list.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(list.substr(start, end - start));
        return lines;
    }

    Handover ui;
    std::unique_ptr<AmpsimProcess> amp;
    std::unique_ptr<TIO> io;
    Texts events;
    int pointsDone = 0;
};

Texts Padded(Texts lines) {
    lines.resize(ConvTablePoints, "0\t0");
    return lines;
}

TEST_F(ConvTransferTest, UploadThenDownloadGivesBackTheSameTableSignedAndUnsigned) {
    Connect();
    ASSERT_EQ(Upload({"adc dbm100", "100 -10", "", "2000 0", "4095 2500"}, 3), ConvResult::Done);
    ASSERT_EQ(Upload({"0 0", "1000 40000", "65535 65535"}, 4, "2"), ConvResult::Done);
    EXPECT_EQ(pointsDone, 6);
    EXPECT_EQ(Logged(), (Texts{ConvSignedLog, ConvUploadEndLog, ConvUploadEndLog}));

    events.clear();
    EXPECT_EQ(DownloadLines(3), Padded({"100\t-10", "2000\t0", "4095\t2500"}));
    EXPECT_EQ(Sent().front(), "SVC CONV DN 03 00?\n");
    EXPECT_EQ(Sent().back(), "SVC CONV DN 03 13?\n");
    EXPECT_EQ(Sent().size(), ConvTablePoints);
    EXPECT_EQ(DownloadLines(4, "2"), Padded({"0\t0", "1000\t40000", "65535\t65535"}));
    EXPECT_EQ(Sent().back(), "SVC QB 2 SVC CONV DN 04 13?\n");
    // Each point shows as its request and its reply, and the list is one log entry.
    EXPECT_EQ(events[0], "Tx: SVC CONV DN 03 00?\n");
    EXPECT_EQ(events[1], "Rx: CONV 03 00 0064 fff6 S");
    const Texts logged = Logged();
    ASSERT_EQ(logged.size(), 6u);
    EXPECT_EQ(logged[0], ConvDownloadEndLog);
    std::string list = "100\t-10\r\n2000\t0\r\n4095\t2500\r\n";
    for (size_t i = 3; i < ConvTablePoints; ++i)
        list += "0\t0\r\n";
    EXPECT_EQ(logged[1], "Point List:\r\n" + list);
    EXPECT_EQ(logged[2], ConvListEndLog);
}
TEST_F(ConvTransferTest, AnotherBoardAndAnotherTableKeepTheirOwnPoints) {
    Connect();
    ASSERT_EQ(Upload({"1 1", "2 2"}, 0, "2"), ConvResult::Done);
    ASSERT_EQ(Upload({"9 -9"}, 0, "3"), ConvResult::Done);
    ASSERT_EQ(Upload({"5 5"}, 1, "2"), ConvResult::Done);
    EXPECT_EQ(DownloadLines(0, "2"), Padded({"1\t1", "2\t2"}));
    EXPECT_EQ(DownloadLines(0, "3"), Padded({"9\t-9"}));
    EXPECT_EQ(DownloadLines(1, "2"), Padded({"5\t5"}));
    EXPECT_EQ(DownloadLines(0), Padded({})) << "the main board was not touched";
}

TEST_F(ConvTransferTest, TwentyPointsUseIndexesUpTo13HexAndTwentyOneSendNothing) {
    Connect();
    Texts lines = {"heading"};
    Texts expected;
    for (unsigned i = 0; i < ConvTablePoints; ++i) {
        lines.push_back(std::to_string(i * 100) + " " + std::to_string(i));
        lines.push_back(""); // blank lines between points use no index
        char request[64];
        std::snprintf(request, sizeof request, "SVC CONV UP 07 %02x %04x %04x U?\n", i, i * 100, i);
        expected.push_back(request);
    }
    ASSERT_EQ(Upload(lines, 7), ConvResult::Done);
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Logged(), Texts{ConvUploadEndLog});

    events.clear();
    lines.push_back("2000 -20");
    EXPECT_EQ(Upload(lines, 7), ConvResult::TooLong);
    EXPECT_EQ(events, Texts{std::string("Log: ") + ConvTooLongLog}) << "nothing sent";
}

TEST_F(ConvTransferTest, AListWithoutPointsEndsAtOnce) {
    Connect();
    EXPECT_EQ(Upload({"", "adc dbm100", "# point 3: unreadable reply \"ERROR_AMP_BUSY\""}), ConvResult::Done);
    EXPECT_EQ(events, Texts{std::string("Log: ") + ConvUploadEndLog});
}

TEST_F(ConvTransferTest, ANegativeYOnTheLastLineTagsEveryPointBeforeTheFirstRequest) {
    Connect();
    ASSERT_EQ(Upload({"100 1", "200 2", "300 -1"}, 1), ConvResult::Done);
    EXPECT_EQ(events,
              (Texts{std::string("Log: ") + ConvSignedLog, "Tx: SVC CONV UP 01 00 0064 0001 S?\n", "Rx: OK",
                     "Tx: SVC CONV UP 01 01 00c8 0002 S?\n", "Rx: OK", "Tx: SVC CONV UP 01 02 012c ffff S?\n",
                     "Rx: OK", std::string("Log: ") + ConvUploadEndLog}));
    EXPECT_EQ(DownloadLines(1), Padded({"100\t1", "200\t2", "300\t-1"}));
}

TEST_F(ConvTransferTest, TheTagOfEachStoredPointDecidesHowItsYIsListed) {
    Connect();
    std::string reply;
    ASSERT_TRUE(io->Query("SVC CONV UP 00 00 0064 fff6 S?\n", reply, ConvReplyTimeoutMs));
    ASSERT_TRUE(io->Query("SVC CONV UP 00 01 0064 fff6 U?\n", reply, ConvReplyTimeoutMs));
    EXPECT_EQ(DownloadLines(0), Padded({"100\t-10", "100\t65526"}));
}
// The board keeps what it took before the silence; the operator gets no end line.
TEST_F(ConvTransferTest, AReplyTimeOutStopsAnUploadAfterThePointsAlreadySent) {
    Connect({"--conv-silent-point", "2"});
    EXPECT_EQ(Upload({"100 1", "200 2", "300 3", "400 4"}, 5), ConvResult::ReplyTimeout);
    EXPECT_EQ(Sent(), (Texts{"SVC CONV UP 05 00 0064 0001 U?\n", "SVC CONV UP 05 01 00c8 0002 U?\n",
                             "SVC CONV UP 05 02 012c 0003 U?\n"}));
    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(pointsDone, 2);
    std::string reply;
    ASSERT_TRUE(io->Query("SVC CONV DN 05 01?\n", reply, ConvReplyTimeoutMs));
    EXPECT_EQ(TrimText(reply), "CONV 05 01 00c8 0002 U");
}

// The reply comes just after the wait: no list, but the points read so far stay in the log.
TEST_F(ConvTransferTest, ALateReplyStopsADownloadAndLogsThePointsReadSoFar) {
    Connect({"--conv-late-point", "2"});
    ASSERT_EQ(Upload({"100 1", "200 2", "300 3"}, 0, "2"), ConvResult::Done);
    events.clear();
    std::string list = "stale";
    EXPECT_EQ(Download(list, 0, "2"), ConvResult::ReplyTimeout);
    EXPECT_EQ(list, "");
    EXPECT_EQ(Sent().size(), 3u);
    EXPECT_EQ(Sent().back(), "SVC QB 2 SVC CONV DN 00 02?\n");
    EXPECT_EQ(Logged(), (Texts{"Point List (incomplete, no reply for point 2):\r\n100\t1\r\n200\t2\r\n"}));
}

// The board answers point 4 twice, the second 50 ms later while point 5 is asked: every point
// still gets its own reply, and the repeat is shown, not lost.
TEST_F(ConvTransferTest, AReplyForAnotherPointIsShownAndPassedOver) {
    Connect({"--conv-double-point", "4"});
    Texts points;
    for (unsigned i = 0; i < ConvTablePoints; ++i)
        points.push_back(std::to_string(i * 100) + "\t" + std::to_string(i));
    ASSERT_EQ(Upload(points), ConvResult::Done);
    events.clear();
    EXPECT_EQ(DownloadLines(), points);
    const Texts rx = Starting("Rx: ");
    EXPECT_EQ(std::count(rx.begin(), rx.end(), "CONV 00 04 0190 0004 U"), 2);
    EXPECT_EQ(rx.size(), ConvTablePoints + 1);
}

TEST_F(ConvTransferTest, AMalformedReplyIsListedAsUnreadableAndTheUploadSkipsIt) {
    Connect({"--conv-malformed-point", "3"});
    ASSERT_EQ(Upload({"0 -1", "1 -2", "2 -3", "3 -4", "4 -5"}), ConvResult::Done)
        << "replies are not examined";
    const Texts lines = DownloadLines();
    ASSERT_EQ(lines.size(), ConvTablePoints);
    EXPECT_EQ(lines[2], "2\t-3");
    EXPECT_EQ(lines[3], "# point 3: unreadable reply \"CONV 00 03 GARBLED\"");
    EXPECT_EQ(lines[4], "4\t-5");
    EXPECT_EQ(ParseConvPointList(lines).size(), ConvTablePoints - 1);
}
} // namespace
