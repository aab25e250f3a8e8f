// The pure pieces of the connection layer: line framing, the raw trace format, mode strings,
// connection strings and port texts.
#include "connection/ConnectionString.h"
#include "connection/LineEnds.h"
#include "connection/LineFramer.h"
#include "connection/SerialMode.h"
#include "connection/TraceIo.h"
#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::vector<std::string> Frame(LineFramer& framer, const std::string& bytes) {
    std::vector<std::string> lines;
    framer.Process(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                   [&](const std::string& line) { lines.push_back(line); });
    return lines;
}

LineFramer ConsoleFramer() {
    LineFramer framer;
    framer.EndChar = '\n';
    framer.StartCharEnabled = false;
    return framer;
}

using Lines = std::vector<std::string>;
} // namespace

TEST(LineFramer, ConsoleFramingKeepsCarriageReturnAndWaitsForLineFeed) {
    LineFramer framer = ConsoleFramer();
    EXPECT_EQ(Frame(framer, "a\r\nb\r\nc"), (Lines{"a\r", "b\r"}));
    EXPECT_EQ(framer.PendingLength(), 1u);
    EXPECT_EQ(Frame(framer, "#d\n"), (Lines{"c#d"})) << "'#' is ordinary once the start char is off";
}

// Each way a received line may end, and what stays of a line begun but not ended.
struct LineEndCase {
    RxLineEnd end;
    const char* bytes;
    std::vector<std::string> lines;
    const char* partial;
};

class LineEndFraming : public testing::TestWithParam<LineEndCase> {};

TEST_P(LineEndFraming, FramesByTheChosenLineEnd) {
    LineFramer framer;
    framer.StartCharEnabled = false;
    framer.EndChar = EndCharFor(GetParam().end);
    framer.Ends = FramerEndsFor(GetParam().end);
    const std::string bytes = GetParam().bytes;
    // Byte by byte as well as whole: a CR LF pair split across reads frames the same.
    for (size_t step : {bytes.size(), size_t{1}}) {
        LineFramer copy = framer;
        Lines lines;
        for (size_t at = 0; at < bytes.size(); at += step) {
            const Lines part = Frame(copy, bytes.substr(at, step));
            lines.insert(lines.end(), part.begin(), part.end());
        }
        EXPECT_EQ(lines, GetParam().lines) << "step " << step;
        std::string partial;
        copy.TakePartial(partial);
        EXPECT_EQ(partial, GetParam().partial) << "step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LineEndFraming,
    testing::Values(LineEndCase{RxLineEnd::Lf, "a\r\nb\nc", {"a\r", "b"}, "c"},
                    LineEndCase{RxLineEnd::Cr,
                                "CR-ONLY-REPLY 1\rCR-ONLY-REPLY 2\rPROMPT> ",
                                {"CR-ONLY-REPLY 1", "CR-ONLY-REPLY 2"},
                                "PROMPT> "},
                    LineEndCase{RxLineEnd::CrLf, "a\r\nb\rc\r\n\r\nd\r", {"a", "b\rc", ""}, "d\r"},
                    LineEndCase{RxLineEnd::Any, "a\r\nb\rc\nd\n\re", {"a", "b", "c", "d", ""}, "e"}));

TEST(LineFramer, DefaultStartAndEndCharacters) {
    LineFramer framer;
    EXPECT_EQ(Frame(framer, "xx#abc*"), (Lines{"abc"}));
    EXPECT_EQ(Frame(framer, "#ab#cd*"), (Lines{"cd"}));
    EXPECT_EQ(Frame(framer, "**"), (Lines{"", ""}));
}

TEST(LineFramer, OverlongLineKeepsItsFirstBytesSaysItWasCutAndTheNextLineIsWhole) {
    // The LF loop takes a byte at a time, the CR LF loop whole runs of bytes: both cut alike.
    for (RxLineEnd end : {RxLineEnd::Lf, RxLineEnd::CrLf}) {
        LineFramer framer = ConsoleFramer();
        framer.EndChar = EndCharFor(end);
        framer.Ends = FramerEndsFor(end);
        const std::string eol = end == RxLineEnd::Lf ? "\n" : "\r\n";
        std::string longLine(LineFramer::MaxLine + 1000, 'x');
        longLine[LineFramer::MaxLine - 1] = 'y';
        Lines lines =
            Frame(framer, longLine + eol + std::string(LineFramer::MaxLine, 'z') + eol + "next" + eol);
        ASSERT_EQ(lines.size(), 3u);
        const std::string mark = "... (cut: " + std::to_string(LineFramer::MaxLine + 1000) + " bytes)";
        EXPECT_EQ(lines[0], longLine.substr(0, LineFramer::MaxLine) + mark);
        EXPECT_EQ(lines[1], std::string(LineFramer::MaxLine, 'z')) << "a line of exactly the limit is whole";
        EXPECT_EQ(lines[2], "next");
    }
}

TEST(LineFramer, TheLineBegunButNotEndedCanBeTakenOnce) {
    LineFramer framer = ConsoleFramer();
    std::string partial;
    EXPECT_FALSE(framer.TakePartial(partial));
    Frame(framer, "done\nhalf");
    EXPECT_TRUE(framer.TakePartial(partial));
    EXPECT_EQ(partial, "half");
    EXPECT_FALSE(framer.TakePartial(partial));
}

TEST(LineFramer, AZeroByteIsKeptInItsLine) {
    LineFramer framer = ConsoleFramer();
    EXPECT_EQ(Frame(framer, std::string("ab\0cd\n", 6)), (Lines{std::string("ab\0cd", 5)}));
}

TEST(LineFramer, ChunksSplitAnywhereGiveTheSameLines) {
    const std::string stream = "STATUS OK\r\n#x*\r\n\r\nlast line\r\npartial";
    LineFramer whole = ConsoleFramer();
    Lines expected = Frame(whole, stream);
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); b += 3) {
            LineFramer framer = ConsoleFramer();
            Lines got = Frame(framer, stream.substr(0, a));
            for (auto& l : Frame(framer, stream.substr(a, b - a)))
                got.push_back(l);
            for (auto& l : Frame(framer, stream.substr(b)))
                got.push_back(l);
            ASSERT_EQ(got, expected) << "split at " << a << " and " << b;
        }
    }
}

TEST(TraceFormat, DirectionHeaderOnlyOnChangeAndNonPrintablesAsHex) {
    TraceDirection last = TraceDirection::None;
    std::string out;
    FormatTrace(last, TraceDirection::Send, "STATUS?\n", 8, out);
    FormatTrace(last, TraceDirection::Send, "A", 1, out);
    FormatTrace(last, TraceDirection::Receive, "OK\r\n\x7f\xff ~", 8, out);
    FormatTrace(last, TraceDirection::Send, "", 0, out);
    EXPECT_EQ(out, "\r\nTx: STATUS?\\x0aA\r\nRx: OK\\x0d\\x0a\\x7f\\xff ~\r\nTx: ");
}

TEST(TraceIo, WritesToTheChosenStream) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    SetTraceStream(file);
    TraceIo(TraceDirection::Send, "", 0); // whatever ran before, the next receive starts an Rx run
    TraceIo(TraceDirection::Receive, "x\t", 2);
    TraceIo(TraceDirection::Send, "y", 1);
    SetTraceStream(stdout);
    std::rewind(file);
    char buffer[64] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer, n), "\r\nTx: \r\nRx: x\\x09\r\nTx: y");
}

TEST(SerialMode, ParsesEveryKeyCaseInsensitively) {
    SerialMode mode;
    ASSERT_TRUE(ParseSerialMode("baud=19200 parity=E data=8 stop=1 rts=off dtr=on", mode));
    EXPECT_EQ(mode.Baud, 19200u);
    EXPECT_EQ(mode.Parity, 'e');
    EXPECT_EQ(mode.DataBits, 8);
    EXPECT_EQ(mode.StopBitsTimes2, 2);
    EXPECT_EQ(mode.Rts, ModemLine::Off);
    EXPECT_EQ(mode.Dtr, ModemLine::On);
    ASSERT_TRUE(ParseSerialMode("  BAUD=9600   Stop=1.5 xon=ON rts=tg dtr=hs octs=off  ", mode));
    EXPECT_EQ(mode.Baud, 9600u);
    EXPECT_EQ(mode.StopBitsTimes2, 3);
    EXPECT_EQ(mode.XonXoff, true);
    EXPECT_EQ(mode.Rts, ModemLine::Toggle);
    EXPECT_EQ(mode.Dtr, ModemLine::Handshake);
    EXPECT_FALSE(mode.Parity.has_value());
    ASSERT_TRUE(ParseSerialMode("", mode));
    EXPECT_FALSE(mode.Baud.has_value());
}

class SerialModeRejects : public testing::TestWithParam<const char*> {};
TEST_P(SerialModeRejects, BadText) {
    SerialMode mode;
    EXPECT_FALSE(ParseSerialMode(GetParam(), mode));
}
INSTANTIATE_TEST_SUITE_P(Texts, SerialModeRejects,
                         testing::Values("baud", "=9600", "baud=", "baud=fast", "baud=0", "parity=x",
                                         "data=9", "data=4", "stop=3", "rts=maybe", "dtr=tg", "speed=9600",
                                         "baud=9600 baud=19200", "9600,n,8,1", "baud=99999999999"));

TEST(ConnectionString, SplitsAtTheFirstColonOnly) {
    auto parts = SplitConnectionString("com:ttyUSB0:baud=19200 parity=E");
    EXPECT_EQ(parts.Kind, "com");
    EXPECT_EQ(parts.Params, "ttyUSB0:baud=19200 parity=E");
    parts = SplitConnectionString("tcpsrv::2500");
    EXPECT_EQ(parts.Kind, "tcpsrv");
    EXPECT_EQ(parts.Params, ":2500");
    parts = SplitConnectionString("gpib");
    EXPECT_EQ(parts.Kind, "gpib");
    EXPECT_EQ(parts.Params, "");
}

TEST(IntegerText, StrToIntAcceptsWholeIntegersOnly) {
    EXPECT_EQ(StrToInt("2500"), 2500);
    EXPECT_EQ(StrToInt(" -12"), -12);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    for (const char* bad : {"", " ", "abc", "25 00", "12x", "-", "2147483648", "99999999999999999999"}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    }
    try {
        StrToInt("abc");
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

TEST(IntegerText, LeadingIntReadsLikeTheCLibrary) {
    EXPECT_EQ(LeadingInt("2500"), 2500);
    EXPECT_EQ(LeadingInt("  42abc"), 42);
    EXPECT_EQ(LeadingInt("-5"), -5);
    EXPECT_EQ(LeadingInt(""), 0);
    EXPECT_EQ(LeadingInt("x1"), 0);
    EXPECT_EQ(LeadingInt("99999999999999999999"), INT32_MAX);
}
