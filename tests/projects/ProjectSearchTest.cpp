#include "projects/ProjectSearch.h"
#include "ShareTree.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {
std::vector<std::string> Bases(const std::vector<FolderListing>& listings) {
    std::vector<std::string> bases;
    for (const auto& listing : listings)
        bases.push_back(listing.base);
    return bases;
}

TEST(ProjectFolderListings, UseTheYearsOfTheFirstTwoCharacters) {
    auto listings = ProjectFolderListings("/share", " 1395\t");
    EXPECT_EQ(Bases(listings),
              (std::vector<std::string>{"/share/Produktion/2013/", "/share/Produktion/1913/",
                                        "/share/Firmware/Work/", "/share/Firmware/Archiv2013/",
                                        "/share/Firmware/Archiv1913/"}));
    for (const auto& listing : listings)
        EXPECT_EQ(listing.pattern, "*1395*");
}

TEST(ProjectFolderListings, ShortAndEmptyTextsGiveShortYearsAndDoubleStars) {
    auto empty = ProjectFolderListings("/share/", "");
    EXPECT_EQ(Bases(empty), (std::vector<std::string>{"/share/Produktion/20/", "/share/Produktion/19/",
                                                      "/share/Firmware/Work/", "/share/Firmware/Archiv20/",
                                                      "/share/Firmware/Archiv19/"}));
    EXPECT_EQ(empty[0].pattern, "**");
    auto one = ProjectFolderListings("/share/", "7");
    EXPECT_EQ(one[1].base, "/share/Produktion/197/");
    EXPECT_EQ(one[4].base, "/share/Firmware/Archiv197/");
    EXPECT_EQ(ProjectFolderListings("/share", "14*DRUX")[0].pattern, "*14*DRUX*");
}

TEST(ProjectFolderListings, NoRootNoListings) {
    EXPECT_TRUE(ProjectFolderListings("", "1395").empty());
    EXPECT_TRUE(SearchProjectFolders("", "1395").empty());
}

struct MatchCase {
    const char* pattern;
    const char* name;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) {
    *out << '"' << c.pattern << "\" on \"" << c.name << '"';
}

class WildcardMatchTest : public testing::TestWithParam<MatchCase> {};

TEST_P(WildcardMatchTest, Matches) {
    EXPECT_EQ(WildcardMatch(GetParam().pattern, GetParam().name), GetParam().matches)
        << GetParam().pattern << " / " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, WildcardMatchTest,
    testing::Values(MatchCase{"*14*drux*", "14_0417 DRUX", true},
                    MatchCase{"*14*DRUX*", "140417_drux_old", true},
                    MatchCase{"*1395*", "139512 Customer", true}, MatchCase{"*1395*", "13 95", false},
                    MatchCase{"*13?5*", "x1385", true}, MatchCase{"*13?5*", "135", false},
                    MatchCase{"**", "", true}, MatchCase{"*a*b*c*", "aXbXbXc", true},
                    MatchCase{"*a*b*c*", "aXcXb", false}, MatchCase{"*[1]*", "[1] bracket", true},
                    MatchCase{"*[1]*", "1", false}, MatchCase{"*\xC4*", "\xE4", false}));

// A share with something for each of the five listings, and things that must stay out.
class ShareSearch : public testing::Test {
protected:
    void SetUp() override {
        share.Folders({"Produktion/2013/139501 Alpha", "Produktion/2013/139502_beta",
                       "Produktion/2013/120000 Other", "Produktion/1913/139599 Old", "Firmware/Work/1395 fw",
                       "Firmware/Work/SHARED 1395", "Firmware/Archiv2013/139501 Alpha",
                       "Firmware/Archiv1913/x1395x", "Produktion/2014/140417 DRUX"});
        share.File("Produktion/2013/139503 notes.txt");
        share.File("Firmware/Work/1395.bin");
    }
    ShareTree share;
};

TEST_F(ShareSearch, FindsFoldersInTheOrderOfTheListingsAndLeavesFilesOut) {
    const std::string r = share.Root();
    EXPECT_EQ(
        SearchProjectFolders(r, "1395"),
        (std::vector<std::string>{r + "Produktion/2013/139501 Alpha/", r + "Produktion/2013/139502_beta/",
                                  r + "Produktion/1913/139599 Old/", r + "Firmware/Work/1395 fw/",
                                  r + "Firmware/Work/SHARED 1395/", r + "Firmware/Archiv2013/139501 Alpha/",
                                  r + "Firmware/Archiv1913/x1395x/"}));
}

TEST_F(ShareSearch, AFolderReachedByTwoListingsIsListedTwice) {
    // The work folder holds a link to a production folder: both listings name the same folder.
    const std::string r = share.Root();
    share.Folders({"Produktion/2020/2020 Both"});
    std::filesystem::create_directory_symlink(r + "Produktion/2020/2020 Both", r + "Firmware/Work/2020 Both");
    EXPECT_EQ(SearchProjectFolders(r, "2020 b"),
              (std::vector<std::string>{r + "Produktion/2020/2020 Both/", r + "Firmware/Work/2020 Both/"}));
}

TEST_F(ShareSearch, MatchesWithoutRegardToCaseAndHonoursWildcards) {
    const std::string r = share.Root();
    EXPECT_EQ(SearchProjectFolders(r, "14*drux"),
              (std::vector<std::string>{r + "Produktion/2014/140417 DRUX/"}));
    EXPECT_EQ(SearchProjectFolders(r, "shared"),
              (std::vector<std::string>{r + "Firmware/Work/SHARED 1395/"}));
    EXPECT_EQ(SearchProjectFolders(r, "13?502"),
              (std::vector<std::string>{r + "Produktion/2013/139502_beta/"}));
}

TEST_F(ShareSearch, EmptyTextListsEveryWorkFolderButNoDotEntries) {
    const std::string r = share.Root();
    EXPECT_EQ(SearchProjectFolders(r, ""),
              (std::vector<std::string>{r + "Firmware/Work/1395 fw/", r + "Firmware/Work/SHARED 1395/"}));
}

TEST_F(ShareSearch, MissingShareGivesNothingAndCancelStops) {
    EXPECT_TRUE(SearchProjectFolders(share.Root() + "absent/", "1395").empty());
    int asked = 0;
    auto found = SearchProjectFolders(share.Root(), "1395", [&] { return ++asked > 2; });
    EXPECT_LT(found.size(), 7u);
}

struct NumberCase {
    const char* text;
    const char* number;
};

void PrintTo(const NumberCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class ExtractProjectNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(ExtractProjectNumberTest, Extracts) {
    EXPECT_EQ(ExtractProjectNumber(GetParam().text), GetParam().number) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExtractProjectNumberTest,
    testing::Values(NumberCase{"139501 Alpha", "139501"}, NumberCase{"139501ABC", "139501ABC"},
                    NumberCase{"139501ABC-x", "139501ABC"}, NumberCase{"SN: 13-95-01 x", "139501"},
                    NumberCase{"P:\\Produktion\\2013\\139501 Alpha\\", "139501"},
                    NumberCase{"/share/Produktion/2013/139501 Alpha/", "139501"},
                    NumberCase{"/share/Produktion/2013/139501Alpha/", ""},
                    NumberCase{"/share/Produktion/2013/139501Alpha/sub 7", "7"}, NumberCase{"12\\34", "34"},
                    NumberCase{"1234/", ""}, NumberCase{"1234567_x\\8", "1234567"},
                    NumberCase{"123456\xE4", "123456"}, NumberCase{"", ""}));
} // namespace
