#include "text/Bookmarks.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

// One placed button: its tab's caption, its caption and where it sits.
struct Placed {
    std::string tab, caption;
    int left, top, width;
    bool operator==(const Placed&) const = default;
};

void PrintTo(const Placed& p, std::ostream* out) {
    *out << p.tab << "/" << p.caption << " @" << p.left << "," << p.top << " w" << p.width;
}

struct LayoutCase {
    const char* what;
    std::vector<std::string> lines;
    std::vector<std::string> tabs;
    std::vector<Placed> placed;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.what;
}

std::vector<Placed> PlacedButtons(const BookmarkLayout& layout) {
    std::vector<Placed> placed;
    for (const auto& b : layout.buttons) {
        EXPECT_EQ(b.height, 28);
        placed.push_back({layout.tabs.at(b.tab), b.caption, b.left, b.top, b.width});
    }
    return placed;
}

class LayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, PlacesButtonsInPixels) {
    const LayoutCase& c = GetParam();
    BookmarkLayout layout = LayoutBookmarks(c.lines);
    EXPECT_EQ(layout.tabs, c.tabs);
    EXPECT_EQ(PlacedButtons(layout), c.placed);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LayoutTest,
    testing::Values(
        LayoutCase{"empty line starts the next column",
                   {"[Main]", "A", "B", "", "C"},
                   {"Main"},
                   {{"Main", "A", 3, 3, 120}, {"Main", "B", 3, 37, 120}, {"Main", "C", 129, 3, 120}}},
        LayoutCase{"##newrow acts like an empty line",
                   {"[Main]", "A", "B", "##newrow", "C"},
                   {"Main"},
                   {{"Main", "A", 3, 3, 120}, {"Main", "B", 3, 37, 120}, {"Main", "C", 129, 3, 120}}},
        LayoutCase{"##newcol moves one slot down to the first column",
                   {"[Main]", "A", "##newcol", "B", "", "C", "##newcol", "D"},
                   {"Main"},
                   {{"Main", "A", 3, 3, 120},
                    {"Main", "B", 3, 71, 120},
                    {"Main", "C", 129, 3, 120},
                    {"Main", "D", 3, 71, 120}}},
        LayoutCase{"##buttonwidth= sets the width of what follows, across tabs",
                   {"##buttonwidth=200", "[T1]", "A", "", "B", "[T2]", "C", "##buttonwidth= 50", "", "D"},
                   {"T1", "T2"},
                   {{"T1", "A", 3, 3, 200},
                    {"T1", "B", 209, 3, 200},
                    {"T2", "C", 3, 3, 200},
                    {"T2", "D", 59, 3, 50}}},
        LayoutCase{
            "a width change mid-tab moves only later columns",
            {"[T]", "A", "", "B", "##buttonwidth=60", "C", "", "D"},
            {"T"},
            {{"T", "A", 3, 3, 120}, {"T", "B", 129, 3, 120}, {"T", "C", 69, 37, 60}, {"T", "D", 135, 3, 60}}},
        LayoutCase{"unreadable, negative and over-wide widths leave the width",
                   {"[T]", "##buttonwidth=", "A", "##buttonwidth=x5", "B", "##buttonwidth=-5",
                    "##buttonwidth=8193", "C", "##buttonwidth=99999999999", "##buttonwidth=16777215", "D",
                    "##buttonwidth=+80px", "E"},
                   {"T"},
                   {{"T", "A", 3, 3, 120},
                    {"T", "B", 3, 37, 120},
                    {"T", "C", 3, 71, 120},
                    {"T", "D", 3, 105, 120},
                    {"T", "E", 3, 139, 80}}},
        LayoutCase{"commands before the first tab get [TabsheetName], once",
                   {"A", "", "B", "[Next]", "C"},
                   {"[TabsheetName]", "Next"},
                   {{"[TabsheetName]", "A", 3, 3, 120},
                    {"[TabsheetName]", "B", 129, 3, 120},
                    {"Next", "C", 3, 3, 120}}},
        LayoutCase{"a tab caption loses its first and last character, whatever they are",
                   {"[Setup", "A", "[", "B", "[]", "[ x ]", "C"},
                   {"Setu", "", "", " x "},
                   {{"Setu", "A", 3, 3, 120}, {"", "B", 3, 3, 120}, {" x ", "C", 3, 3, 120}}},
        LayoutCase{"a tab resets row and column",
                   {"[One]", "A", "", "", "B", "[Two]", "C"},
                   {"One", "Two"},
                   {{"One", "A", 3, 3, 120}, {"One", "B", 255, 3, 120}, {"Two", "C", 3, 3, 120}}},
        LayoutCase{"directives match case-sensitively and whole; # alone is a command",
                   {"[T]", "##NewCol", "##newcol x", "## note", "##", "A", "#DELAY 5", "#"},
                   {"T"},
                   {{"T", "A", 3, 3, 120}, {"T", "#DELAY 5", 3, 37, 120}, {"T", "#", 3, 71, 120}}},
        LayoutCase{"lines are trimmed of blanks and control characters",
                   {"  [Main]\t", " \t ", "\t##newcol  ", "  SET FREQ <?f:100>  ", "\x01"},
                   {"Main"},
                   {{"Main", "SET FREQ ...", 3, 37, 120}}},
        LayoutCase{"no tab without a command or a [ line", {"", "##newcol", "## only comments"}, {}, {}}));

TEST(LayoutTest, CommandKeepsPromptsWhileCaptionMasksThem) {
    BookmarkLayout layout = LayoutBookmarks({"  SET FREQ <?f:100>  ", "F <?f:1> G <?g> <?h"});
    ASSERT_EQ(layout.buttons.size(), 2u);
    EXPECT_EQ(layout.buttons[0].command, "SET FREQ <?f:100>");
    EXPECT_EQ(layout.buttons[0].caption, "SET FREQ ...");
    EXPECT_EQ(layout.buttons[1].caption, "F ... G ... <?h");
}

TEST(LayoutTest, PositionsFarOutStayInRange) {
    std::vector<std::string> lines = {"[T]", "##buttonwidth=8192"};
    lines.insert(lines.end(), 3000, "");
    lines.push_back("A");
    BookmarkLayout layout = LayoutBookmarks(lines);
    ASSERT_EQ(layout.buttons.size(), 1u);
    EXPECT_EQ(layout.buttons[0].width, 8192);
    EXPECT_EQ(layout.buttons[0].left, 16777215);
}

struct SplitCase {
    std::string text;
    std::vector<std::string> lines;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << testing::PrintToString(c.text);
}

class SplitTextLinesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTextLinesTest, EndsLinesAtCrLfLfAndCr) {
    EXPECT_EQ(SplitTextLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitTextLinesTest,
                         testing::Values(SplitCase{"", {}}, SplitCase{"A", {"A"}}, SplitCase{"A\r\n", {"A"}},
                                         SplitCase{"A\r\nB\nC\rD", {"A", "B", "C", "D"}},
                                         SplitCase{"A\n\r\nB\r\r", {"A", "", "B", ""}},
                                         SplitCase{"\n\n", {"", ""}}, SplitCase{"\r", {""}},
                                         SplitCase{"\xe9t\xe9\r\n", {"\xe9t\xe9"}}));

// File bytes, the lines read from them, and the first character of each that is beyond Latin-1.
struct DecodeCase {
    std::string bytes;
    std::vector<std::string> lines;
    std::vector<uint32_t> beyond;
};
void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << testing::PrintToString(c.bytes);
}
class DecodeTextLinesTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTextLinesTest, ValidUtf8BecomesLatin1WhereItFitsAndStaysUtf8WhereNot) {
    const DecodeCase& c = GetParam();
    const std::vector<std::string> lines = DecodeTextLines(c.bytes);
    EXPECT_EQ(lines, c.lines);
    std::vector<uint32_t> beyond;
    for (const std::string& line : lines)
        beyond.push_back(FirstBeyondLatin1(line));
    EXPECT_EQ(beyond, c.beyond);
    if (c.bytes.rfind("\xEF\xBB\xBF", 0) != 0) {
        EXPECT_EQ(DecodeTextLines(EncodeTextLines(lines)), lines);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DecodeTextLinesTest,
    testing::Values(DecodeCase{"SET U \xc2\xb5V\r\n", {"SET U \xb5V"}, {0}},
                    DecodeCase{"SET U \xb5V\r\n\xc2\xb5", {"SET U \xb5V", "\xc2\xb5"}, {0, 0}},
                    DecodeCase{"\xEF\xBB\xBF\xc3\xa9\r\nP \xe2\x82\xac\xc2\xb5\r\n",
                               {"\xe9", "P \xe2\x82\xac\xc2\xb5"},
                               {0, 0x20AC}},
                    DecodeCase{"\xed\xa0\x80\r\n\xc0\xaf", {"\xed\xa0\x80", "\xc0\xaf"}, {0, 0}},
                    DecodeCase{"\xf0\x9f\x98\x80", {"\xf0\x9f\x98\x80"}, {0x1F600}}));

class BookmarkFileTest : public testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("bookmarks_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }

    fs::path dir;
};

TEST_F(BookmarkFileTest, WritesCrLfAndReadsBackEightBitText) {
    std::vector<std::string> lines = {"[Main]", "SET NAME \xe9\xff", "", "STATUS?"};
    int code = 0;
    ASSERT_TRUE(WriteBookmarkFile(Path("b.txt"), lines, code));
    std::ifstream in(Path("b.txt"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "[Main]\r\nSET NAME \xe9\xff\r\n\r\nSTATUS?\r\n");
    std::vector<std::string> read;
    ASSERT_TRUE(ReadBookmarkFile(Path("b.txt"), read, code));
    EXPECT_EQ(read, lines);
}

// A file read and written again keeps its bytes whatever it mixes: Latin-1 commands beside a
// caption someone typed in UTF-8, UTF-8 that fits Latin-1, a byte order mark.
TEST_F(BookmarkFileTest, AFileWrittenBackUnchangedKeepsItsBytes) {
    for (const std::string& bytes :
         std::vector<std::string>{"[\xd0\x9f\xd1\x83\xd0\xbb\xd1\x8c\xd1\x82]\r\nSET NAME \xe9\r\n",
                                  "[M\xc3\xa4\xc3\x9fig]\r\nSET NAME \xc3\xa9\r\n",
                                  "\xEF\xBB\xBF[M\xc3\xa4\xc3\x9fig]\r\nA\r\n", "[Main]\r\nA\r\n"}) {
        std::ofstream(Path("in.txt"), std::ios::binary) << bytes;
        std::vector<std::string> lines;
        int code = 0;
        TextEncoding encoding = TextEncoding::Plain;
        ASSERT_TRUE(ReadBookmarkFile(Path("in.txt"), lines, code, &encoding));
        ASSERT_TRUE(WriteBookmarkFile(Path("out.txt"), lines, code, encoding));
        std::ifstream in(Path("out.txt"), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), bytes);
    }
}

// Captions are read as UTF-8 when their bytes are valid UTF-8, else as Latin-1.
TEST(CaptionTest, ValidUtf8IsReadAsUtf8AndAnythingElseAsLatin1) {
    EXPECT_EQ(CaptionUtf8("Main"), "Main");
    EXPECT_EQ(CaptionUtf8("\xd0\x9f\xd1\x83"), "\xd0\x9f\xd1\x83");
    EXPECT_EQ(CaptionUtf8("M\xc3\xa4\xc3\x9fig"), "M\xc3\xa4\xc3\x9fig");
    EXPECT_EQ(CaptionUtf8("M\xe4\xdfig"), "M\xc3\xa4\xc3\x9fig");
    EXPECT_EQ(CaptionUtf8("\xd0\x9f \xe9"), "\xc3\x90\xc2\x9f \xc3\xa9") << "one invalid byte: all Latin-1";
}

TEST_F(BookmarkFileTest, FailuresKeepTheSystemsReason) {
    std::vector<std::string> lines = {"stays"};
    int code = 0;
    EXPECT_FALSE(ReadBookmarkFile(Path("missing.txt"), lines, code));
    EXPECT_EQ(code, ENOENT);
    EXPECT_EQ(lines, std::vector<std::string>{"stays"});
    EXPECT_FALSE(ReadBookmarkFile(dir.string(), lines, code)); // a folder opens but cannot be read
    EXPECT_EQ(code, EISDIR);
    EXPECT_FALSE(WriteBookmarkFile("/dev/full", {"A"}, code));
    EXPECT_EQ(code, ENOSPC);
    EXPECT_FALSE(WriteBookmarkFile(Path("no/such/folder.txt"), {"A"}, code));
    EXPECT_EQ(code, ENOENT);
    // Neither a FIFO without writer, nor an endless device, nor a huge file is waited on or read.
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    std::ofstream(Path("big.txt")).close();
    fs::resize_file(Path("big.txt"), MaxTextFileBytes + 1);
    const std::pair<std::string, int> refused[] = {{Path("fifo"), TextFileNotRegular},
                                                   {"/dev/zero", TextFileNotRegular},
                                                   {Path("big.txt"), TextFileTooLarge}};
    for (const auto& [path, expected] : refused) {
        EXPECT_FALSE(ReadBookmarkFile(path, lines, code)) << path;
        EXPECT_EQ(code, expected) << path;
    }
    EXPECT_EQ(lines, std::vector<std::string>{"stays"});
}

// A full disk, injected as a file size limit: the save fails and the old file stays as it was.
TEST_F(BookmarkFileTest, AFailedSaveLeavesTheOldFileWholeAndASavedOneKeepsItsPermissions) {
    const std::string old(4096, 'o');
    std::ofstream(Path("old.txt"), std::ios::binary) << old;
    fs::permissions(Path("old.txt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::vector<std::string> list(1000, std::string(40, 'n'));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int code = 0;
    const bool written = WriteBookmarkFile(Path("old.txt"), list, code);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(code, EFBIG);
    std::ifstream in(Path("old.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no file left";

    ASSERT_TRUE(WriteBookmarkFile(Path("old.txt"), list, code));
    EXPECT_EQ(fs::file_size(Path("old.txt")), 42000u);
    EXPECT_EQ(fs::status(Path("old.txt")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(BookmarkFileTest, StartChoicePrefersTheProgramsFileThenTheStoredOne) {
    std::string own = Path("Bookmarks.txt");
    std::string stored = Path("stored.txt");
    auto choose = [&] { return ChooseBookmarkStartFile(own, stored, "", FileExists); };

    BookmarkStartChoice none = choose();
    EXPECT_EQ(none.fileName, own);
    EXPECT_FALSE(none.reload);

    std::ofstream(stored) << "A\r\n";
    BookmarkStartChoice storedOnly = choose();
    EXPECT_EQ(storedOnly.fileName, stored);
    EXPECT_TRUE(storedOnly.reload);

    std::ofstream(own) << "B\r\n";
    BookmarkStartChoice both = choose();
    EXPECT_EQ(both.fileName, own);
    EXPECT_TRUE(both.reload);

    EXPECT_FALSE(ChooseBookmarkStartFile(Path("nothing"), "", "", FileExists).reload);
    EXPECT_FALSE(FileExists(dir.string()));
}

// A first start with no file of its own offers the sample installed with the program: found from
// the program's folder as the data folder lies beside bin/, and never preferred to a file to load.
TEST_F(BookmarkFileTest, FirstStartOffersTheSampleInTheDataFolderBesideTheProgram) {
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "share" / "corvane");
    const std::string program = (dir / "bin").string();
    const std::string own = program + "/Bookmarks.txt";
    const std::string sample = SampleBookmarksPath(program);
    EXPECT_EQ(sample, Path("share/corvane/Bookmarks.txt"));

    BookmarkStartChoice noSample = ChooseBookmarkStartFile(own, "", sample, FileExists);
    EXPECT_EQ(noSample.fileName, own);
    EXPECT_FALSE(noSample.reload);

    std::ofstream(sample) << "[Sample]\r\nSTATUS?\r\n";
    BookmarkStartChoice offered = ChooseBookmarkStartFile(own, Path("gone.txt"), sample, FileExists);
    EXPECT_EQ(offered.fileName, sample);
    EXPECT_FALSE(offered.reload);

    std::ofstream(Path("stored.txt")) << "A\r\n";
    EXPECT_EQ(ChooseBookmarkStartFile(own, Path("stored.txt"), sample, FileExists).fileName,
              Path("stored.txt"));
}

TEST(BookmarkNumbersTest, NumbersContinueAfterAClearAndOldOnesAreGone) {
    BookmarkNumbers numbers;
    EXPECT_EQ(numbers.Add("A"), 0u);
    EXPECT_EQ(numbers.Add("B"), 1u);
    ASSERT_NE(numbers.Find(1), nullptr);
    EXPECT_EQ(*numbers.Find(1), "B");
    numbers.Clear();
    EXPECT_EQ(numbers.Find(0), nullptr);
    EXPECT_EQ(numbers.Find(1), nullptr);
    EXPECT_EQ(numbers.Add("C"), 2u);
    EXPECT_EQ(*numbers.Find(2), "C");
    EXPECT_EQ(numbers.Find(3), nullptr);
    EXPECT_EQ(numbers.Count(), 1u);
}

struct ActiveTabCase {
    std::string caption;
    int index;
    std::vector<std::string> tabs;
    int chosen;
};

void PrintTo(const ActiveTabCase& c, std::ostream* out) {
    *out << '"' << c.caption << "\" at " << c.index << " of " << c.tabs.size();
}

class ActiveTabTest : public testing::TestWithParam<ActiveTabCase> {};

TEST_P(ActiveTabTest, KeepsTheTabShownBeforeWhenItStillExists) {
    const auto& c = GetParam();
    EXPECT_EQ(ChooseActiveTab(c.caption, c.index, c.tabs), c.chosen);
}

INSTANTIATE_TEST_SUITE_P(Builds, ActiveTabTest,
                         testing::Values(ActiveTabCase{"B", 1, {"A", "B", "C"}, 1},
                                         ActiveTabCase{"B", 1, {"X", "A", "B"}, 2},
                                         ActiveTabCase{"B", 2, {"B", "A", "B"}, 2},
                                         ActiveTabCase{"B", 1, {"A", "C"}, 0},
                                         ActiveTabCase{"", -1, {"", "A"}, 0}, ActiveTabCase{"A", 0, {}, -1}));
} // namespace
