// The session log's file as each system's side keeps it.
#include "log/AppendFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
std::string Content(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}
} // namespace

// Writes go to the end of what is there, also after a reopen; the last bytes can be taken back; a
// folder that is not there cannot be opened. (A file deleted while open is the session log's test:
// Wine does not report a deletion pending on an open file, as Windows does.)
TEST(AppendFile, AppendsToTheEndAndTakesBack) {
    TempDir dir;
    const auto path = dir.Path() / "session.txt";
    std::ofstream(path, std::ios::binary) << "before\r\n";
    AppendFile file;
    ASSERT_EQ(file.Open(path.string()), 0);
    size_t written = 0;
    ASSERT_EQ(file.Write("one\r\ntw", 7, written), 0);
    EXPECT_EQ(written, 7u);
    file.TakeBack(2);
    ASSERT_EQ(file.Open(path.string()), 0);
    ASSERT_EQ(file.Write("two\r\n", 5, written), 0);
    EXPECT_EQ(Content(path), "before\r\none\r\ntwo\r\n");
    EXPECT_FALSE(file.Deleted());
    file.Close();
    EXPECT_NE(file.Open((dir.Path() / "missing" / "session.txt").string()), 0);
}

// Two outputs are one file when they name the same path, made or still to be made, or one file
// through another name.
TEST(AppendFile, SamePathSeesOneFileUnderTwoNames) {
    TempDir dir;
    const std::string plain = (dir.Path() / "out.txt").string();
    const std::string dotted = (dir.Path() / "." / "out.txt").string();
    EXPECT_TRUE(SamePath(plain, dotted));
    EXPECT_FALSE(SamePath(plain, (dir.Path() / "other.txt").string()));
    EXPECT_FALSE(SamePath(plain, ""));
    dir.Write("out.txt", "x");
    std::filesystem::create_hard_link(plain, dir.Path() / "link.txt");
    EXPECT_TRUE(SamePath(plain, (dir.Path() / "link.txt").string()));
}
