#pragma once
// Bookmark files and the layout of their command buttons, without windows: which tabs a file
// makes, where each command button sits on its tab and what it shows. The button field turns
// the result into tabs and push buttons. No state beyond what the caller holds; any thread.
#include "text/TextFile.h"
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Geometry of the command buttons, in pixels relative to their tab.
inline constexpr unsigned BookmarkDefaultWidth = 120;
// Wider than any screen; a "##buttonwidth=" beyond it is unreadable and keeps the width.
inline constexpr unsigned BookmarkMaxWidth = 8192;
inline constexpr int BookmarkButtonHeight = 28;
inline constexpr int BookmarkRowPitch = 34; // top = row * 34 + 3
inline constexpr int BookmarkColumnGap = 6; // left = column * (width + 6) + 3
inline constexpr int BookmarkMargin = 3;
// The tab of command lines that come before the first "[" line.
inline constexpr char BookmarkDefaultTab[] = "[TabsheetName]";

struct BookmarkButtonLayout {
    size_t tab = 0;      // index into BookmarkLayout::tabs
    std::string command; // the trimmed line: sent on a click, shown as the hint
    std::string caption; // the command with its parameter sequences masked as "..."
    // The first character beyond Latin-1 of a command kept in UTF-8 (see TextFile.h), else 0:
    // such a command cannot reach the instrument unchanged and is refused, not sent.
    uint32_t beyondLatin1 = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = BookmarkButtonHeight;
};

struct BookmarkLayout {
    std::vector<std::string> tabs;             // captions, in file order
    std::vector<BookmarkButtonLayout> buttons; // in file order
};

// Lays out the lines of a bookmark file. Each line is trimmed and then read by the first rule
// that matches: empty (next column, row 0); exactly "##newcol" (next row, column 0); exactly
// "##newrow" (like an empty line); "##buttonwidth=<n>" (width of the following buttons, kept
// when no number can be read); any other "##" line (comment); "[" (a tab captioned without
// the first and last character; row and column 0); anything else (a command button, after
// which the row goes up by 1). The width starts at 120 and carries over from tab to tab.
BookmarkLayout LayoutBookmarks(const std::vector<std::string>& lines);

// Reads "##buttonwidth=<n>" as "%*[^=]=%u" would: false when no unsigned number follows the
// first "=" (blanks before it are allowed) or the number is negative or above BookmarkMaxWidth.
bool ReadButtonWidth(const std::string& line, unsigned& width);

// Bookmark files are text files (TextFile.h): regular files of at most MaxTextFileBytes, decoded
// from UTF-8 when valid. On failure the result is false and errorCode says why (TextFileErrorText).
// encoding tells how the file was read; writing with it gives unchanged lines their bytes again.
bool ReadBookmarkFile(const std::string& path, std::vector<std::string>& lines, int& errorCode,
                      TextEncoding* encoding = nullptr);
bool WriteBookmarkFile(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                       TextEncoding encoding = TextEncoding::Plain);

// The characters of a tab caption, as UTF-8. Bookmark files are 8-bit and often of mixed origin:
// a caption whose bytes are valid UTF-8 reads as UTF-8, any other as Latin-1, byte for byte.
std::string CaptionUtf8(const std::string& caption);

// Numbers of the command buttons of a field. Each build starts where the previous one stopped, so
// a number is never given twice during the life of the field, while only the current build's
// commands are kept.
class BookmarkNumbers {
public:
    // Forgets the current commands; the next number keeps counting.
    void Clear();
    // Records the command of a new button and returns its number.
    unsigned Add(const std::string& command);
    // The command of the button numbered number; nullptr when that button is gone.
    const std::string* Find(unsigned number) const;
    size_t Count() const { return commands_.size(); }

private:
    unsigned first_ = 0; // the number of commands_[0]
    std::vector<std::string> commands_;
};

// Which file the field loads when the console first starts.
struct BookmarkStartChoice {
    std::string fileName; // becomes the field's file name
    bool reload = false;  // true: load fileName; false: let the operator choose, starting there
};
// defaultPath (the program's folder + "/Bookmarks.txt") wins when it exists, then the stored
// path; with neither, the operator is asked, starting from samplePath when that exists (so a first
// start offers the sample bookmarks), else from defaultPath.
BookmarkStartChoice ChooseBookmarkStartFile(const std::string& defaultPath, const std::string& storedPath,
                                            const std::string& samplePath,
                                            const std::function<bool(const std::string&)>& fileExists);
// The sample bookmarks that come with the program: "Bookmarks.txt" in its data folder, found from
// programFolder as the help texts are (share/corvane beside bin/, installed and in the build tree).
std::string SampleBookmarksPath(const std::string& programFolder);
bool FileExists(const std::string& path);

// The tab to show after a build: the tab of the same caption as the one shown before (the one
// at the same index when several share that caption, else the first), or the first tab.
// -1 when there is no tab.
int ChooseActiveTab(const std::string& previousCaption, int previousIndex,
                    const std::vector<std::string>& tabs);
