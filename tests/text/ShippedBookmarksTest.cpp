// The bookmark file shipped for the simulated amplifier: every button, sent with its offered
// values, is a command the simulator knows.
#include "AmpModel.h"
#include "text/Bookmarks.h"
#include "text/Strtools.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {
// Takes every offered value as it is.
class AcceptOffers : public ParamPromptUi {
public:
    bool AskValue(const std::string&, const std::string&, std::string&) override { return true; }
    void ShowError(const std::string& message) override { ADD_FAILURE() << message; }
};

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ShippedBookmarksTest, EveryButtonIsACommandTheSimulatorAnswers) {
    std::vector<std::string> lines;
    int code = 0;
    ASSERT_TRUE(ReadBookmarkFile(SHIPPED_BOOKMARKS, lines, code)) << code;
    BookmarkLayout layout = LayoutBookmarks(lines);
    EXPECT_GE(layout.tabs.size(), 3u);
    EXPECT_GE(layout.buttons.size(), 8u);
    ampsim::AmpModel amp;
    ParamMemory memory;
    AcceptOffers offers;
    bool otherWidth = false;
    for (const BookmarkButtonLayout& button : layout.buttons) {
        otherWidth |= button.width != static_cast<int>(BookmarkDefaultWidth);
        std::string command = button.command;
        ASSERT_TRUE(ResolveParamPrompts(command, memory, offers)) << button.command;
        ampsim::Reply reply = amp.Handle(command);
        for (const std::string& line : reply.lines)
            EXPECT_EQ(line.rfind("ERROR_", 0), std::string::npos) << command << " -> " << line;
        EXPECT_FALSE(reply.close) << command;
    }
    EXPECT_TRUE(otherWidth) << "one tab shows ##buttonwidth=";
}

// Beside the program it would win over the file an operator chose to load at start; in the data
// folder, where the program looks for its sample, a first start offers it.
TEST(ShippedBookmarksTest, TheBuildPutsItInTheDataFolderNotBesideTheProgramWithCrLfLineEnds) {
    EXPECT_FALSE(FileExists(CORVANE_BIN_DIR "/Bookmarks.txt"));
    std::string shipped = Bytes(SHIPPED_BOOKMARKS);
    EXPECT_EQ(Bytes(SampleBookmarksPath(CORVANE_BIN_DIR)), shipped);
    EXPECT_EQ(JoinTextLines(SplitTextLines(shipped)), shipped);
}
} // namespace
