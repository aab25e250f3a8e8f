// Text files on the disk, as each system's side reads and replaces them.
#include "text/TextFile.h"
#include "TempDir.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

// A file written, replaced by a shorter one and read back: lines as written, CR LF on the disk,
// nothing left of the longer text, no temporary file beside it; a folder that is not there fails
// with the system's reason, and a folder is no text file.
TEST(TextFile, IsReplacedWholeAndReadBackAndFailuresSayWhy) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = (dir.Path() / "lines.txt").string();
    int code = 0;
    ASSERT_TRUE(WriteTextLines(path, {"first", "second line", "third"}, code)) << TextFileErrorText(code);
    ASSERT_TRUE(WriteTextLines(path, {"A\xB5", "B"}, code)) << TextFileErrorText(code);
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    EXPECT_EQ(bytes.str(), "A\xB5\r\nB\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(path, lines, code)) << TextFileErrorText(code);
    EXPECT_EQ(lines, (std::vector<std::string>{"A\xB5", "B"}));
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
        1);

    const std::string missing = (dir.Path() / "no-such-folder" / "lines.txt").string();
    EXPECT_FALSE(WriteTextLines(missing, {"x"}, code));
    EXPECT_FALSE(TextFileErrorText(code).empty());
    EXPECT_FALSE(ReadTextLines(missing, lines, code));
    EXPECT_FALSE(TextFileErrorText(code).empty());
    EXPECT_FALSE(ReadTextLines(dir.Path().string(), lines, code));
}

// The unit's own refusals read as sentences of their own; the system's codes as the system says them.
TEST(TextFile, ErrorTextsTellTheUnitsOwnCodes) {
    EXPECT_NE(TextFileErrorText(TextFileTooLarge).find("4 MB"), std::string::npos);
    EXPECT_EQ(TextFileErrorText(TextFileNotRegular), "It is not a regular file.");
    EXPECT_EQ(TextFileErrorText(ENOENT), GetSystemErrorText(ENOENT));
}

TEST(TextFileTest, Latin1BecomesUtf8ByteForByte) {
    EXPECT_EQ(Latin1ToUtf8(std::string("a\x7f\x80\xff", 4)), std::string("a\x7f\xC2\x80\xC3\xBF"));
    EXPECT_EQ(Latin1ToUtf8(""), "");
}
