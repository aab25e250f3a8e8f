// The log's line store: splitting entries into lines, 8-bit text, chunk boundaries, colours, the
// plain-text output.
#include "log/LogLines.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {
std::vector<std::string> AllTexts(const LogLines& lines) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        texts.emplace_back(lines.Text(i));
    }
    return texts;
}

std::string Written(const LogLines& lines) {
    std::ostringstream out;
    lines.WriteText(out);
    return out.str();
}

struct SplitCase {
    std::string text;
    std::vector<std::string> lines;
};

class LogLinesSplit : public testing::TestWithParam<SplitCase> {};
} // namespace

TEST_P(LogLinesSplit, AnEntryBecomesLinesOfItsColour) {
    LogLines lines;
    lines.Append("before", LogColours::Red);
    std::size_t added = lines.Append(GetParam().text, LogColours::Blue);
    lines.Append("after", LogColours::Red);

    std::vector<std::string> expected{"before"};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    expected.push_back("after");
    EXPECT_EQ(AllTexts(lines), expected);
    EXPECT_EQ(added, GetParam().lines.size());
    for (std::size_t i = 1; i <= added; ++i) {
        EXPECT_EQ(lines.Colour(i), LogColours::Blue) << i;
    }
    EXPECT_EQ(lines.Colour(0), LogColours::Red);
    EXPECT_EQ(lines.Colour(added + 1), LogColours::Red);
}

INSTANTIATE_TEST_SUITE_P(
    LineEnds, LogLinesSplit,
    testing::Values(SplitCase{"", {""}}, SplitCase{"one", {"one"}},
                    SplitCase{"Point List:\r\n1 2\r\n3 4", {"Point List:", "1 2", "3 4"}},
                    SplitCase{"a\nb\rc", {"a", "b\rc"}}, SplitCase{"a\r\n", {"a"}}, SplitCase{"a\n", {"a"}},
                    SplitCase{"a\r", {"a\r"}}, SplitCase{"\r\n", {""}}, SplitCase{"a\n\nb", {"a", "", "b"}},
                    SplitCase{"a\n\rb", {"a", "\rb"}}, SplitCase{"a\r\r\nb", {"a\r", "b"}},
                    SplitCase{"a\r\n\r\n", {"a", ""}}));

TEST(LogLines, EightBitBytesSurviveStoreAndOutput) {
    std::string bytes;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            bytes.push_back(static_cast<char>(c));
        }
    }
    LogLines lines;
    lines.Append(bytes, LogColours::Maroon);
    ASSERT_EQ(lines.Count(), 1u);
    EXPECT_EQ(lines.Text(0), bytes);
    EXPECT_EQ(Written(lines), bytes + "\r\n");
}

TEST(LogLines, WriteTextEndsEveryLineWithCrLf) {
    LogLines lines;
    EXPECT_EQ(Written(lines), "");
    lines.Append("[14:03:07.045] Tx: STATUS?", LogColours::Teal);
    lines.Append("", LogColours::Blue);
    lines.Append("Point List:\n1 2", LogColours::Blue);
    EXPECT_EQ(Written(lines), "[14:03:07.045] Tx: STATUS?\r\n\r\nPoint List:\r\n1 2\r\n");
    EXPECT_EQ(lines.JoinText(0, 3, "\n"), "[14:03:07.045] Tx: STATUS?\n\nPoint List:\n1 2");
    EXPECT_EQ(lines.JoinText(2, 2, "\n"), "Point List:");
}

// Lines never cross a chunk: one that does not fit starts the next chunk, one longer than a
// chunk gets a chunk of its own, and every line keeps its exact bytes either way.
TEST(LogLines, LinesAcrossManyChunksKeepTheirText) {
    LogLines lines;
    std::vector<std::string> expected;
    auto add = [&](std::string text) {
        lines.Append(text, static_cast<uint32_t>(expected.size() % 3));
        expected.push_back(std::move(text));
    };
    for (int i = 0; i < 40000; ++i) {
        add("line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), 'x'));
    }
    add(std::string(3 << 20, 'L'));
    add("");
    for (int i = 0; i < 20000; ++i) {
        add(std::to_string(i));
    }
    // Bytes that do not pack, kept as they are.
    uint32_t noise = 1;
    for (int i = 0; i < 3000; ++i) {
        std::string text(100, ' ');
        for (char& c : text) {
            c = static_cast<char>((noise = noise * 1664525 + 1013904223) >> 24);
            if (c == '\r' || c == '\n') c = ' ';
        }
        add(text);
    }

    ASSERT_EQ(lines.Count(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(lines.Text(i), expected[i]) << i;
        ASSERT_EQ(lines.Colour(i), i % 3) << i;
    }
    // From one packed chunk to another and back.
    for (std::size_t i : {std::size_t{5}, std::size_t{30000}, std::size_t{5}, expected.size() - 1})
        ASSERT_EQ(lines.Text(i), expected[i]) << i;
    EXPECT_EQ(lines.LongestWidth(), std::size_t{3} << 20);
}

// A log holds a handful of colours, but any number must come back right.
TEST(LogLines, EveryDistinctColourComesBack) {
    LogLines lines;
    for (uint32_t c = 0; c < 1000; ++c) {
        lines.Append("x", c * 0x010203 + (c % 2 ? LogColours::SystemReference : 0));
    }
    for (uint32_t c = 0; c < 1000; ++c) {
        ASSERT_EQ(lines.Colour(c), c * 0x010203 + (c % 2 ? LogColours::SystemReference : 0)) << c;
    }
}

TEST(LogLines, WidthCountsTabsToTheNextStop) {
    EXPECT_EQ(LogLines::Width(""), 0u);
    EXPECT_EQ(LogLines::Width("abc"), 3u);
    EXPECT_EQ(LogLines::Width("\t"), 8u);
    EXPECT_EQ(LogLines::Width("abcdefg\tx"), 9u);
    EXPECT_EQ(LogLines::Width("abcdefgh\tx"), 17u);

    LogLines lines;
    lines.Append("12345\n1234567890\n1", 0);
    EXPECT_EQ(lines.LongestWidth(), 10u);
}

TEST(LogLines, ClearEmptiesAndTheStoreStaysUsable) {
    LogLines lines;
    lines.Append(std::string(2 << 20, 'a'), LogColours::Red);
    lines.Append("b\nc", LogColours::Blue);
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0u);
    EXPECT_EQ(lines.LongestWidth(), 0u);
    EXPECT_EQ(Written(lines), "");

    lines.Append("d", LogColours::Teal);
    ASSERT_EQ(lines.Count(), 1u);
    EXPECT_EQ(lines.Text(0), "d");
    EXPECT_EQ(lines.Colour(0), LogColours::Teal);
    EXPECT_EQ(lines.LongestWidth(), 1u);
}
