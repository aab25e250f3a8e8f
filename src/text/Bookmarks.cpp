#include "text/Bookmarks.h"

#include "CorvaneInstallDirs.h"
#include "text/Strtools.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

namespace {
constexpr char NewColumn[] = "##newrow"; // starts a new column at the top, despite its name
constexpr char NewRow[] = "##newcol";    // moves one slot down, back to the first column
constexpr char WidthDirective[] = "##buttonwidth=";
// A button wider than this would only overflow the positions after it; no window system shows
// more (Qt's own widget limit).
constexpr int64_t MaxExtent = 16777215;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

int Clamped(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, MaxExtent));
}
} // namespace

bool ReadButtonWidth(const std::string& line, unsigned& width) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return false; // "%*[^=]" needs one character
    size_t i = equals + 1;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r')))
        ++i;
    if (i < line.size() && line[i] == '+') ++i;
    // A negative number would wrap to a width nobody meant, and a huge one makes the window system
    // allocate the button's pixels; both count as unreadable.
    uint64_t value = 0;
    size_t digits = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits) {
        value = value * 10 + static_cast<uint64_t>(line[i] - '0');
        if (value > BookmarkMaxWidth) return false;
    }
    if (digits == 0) return false;
    width = static_cast<unsigned>(value);
    return true;
}

BookmarkLayout LayoutBookmarks(const std::vector<std::string>& lines) {
    BookmarkLayout layout;
    unsigned width = BookmarkDefaultWidth;
    int64_t row = 0;
    int64_t column = 0;
    bool haveTab = false;
    auto addTab = [&](std::string caption) {
        layout.tabs.push_back(std::move(caption));
        haveTab = true;
        row = column = 0;
    };
    for (const std::string& raw : lines) {
        std::string line = TrimText(raw);
        if (line.empty() || line == NewColumn) {
            ++column;
            row = 0;
        } else if (line == NewRow) {
            ++row;
            column = 0;
        } else if (StartsWith(line, WidthDirective)) {
            ReadButtonWidth(line, width);
        } else if (StartsWith(line, "##")) {
            // a comment
        } else if (line[0] == '[') {
            addTab(line.size() < 2 ? std::string() : line.substr(1, line.size() - 2));
        } else {
            if (!haveTab) addTab(BookmarkDefaultTab);
            BookmarkButtonLayout button;
            button.tab = layout.tabs.size() - 1;
            button.caption = MaskParamPrompts(line, "...");
            button.beyondLatin1 = FirstBeyondLatin1(line);
            button.command = std::move(line);
            button.width = Clamped(width);
            button.top = Clamped(row * BookmarkRowPitch + BookmarkMargin);
            button.left =
                Clamped(column * (static_cast<int64_t>(width) + BookmarkColumnGap) + BookmarkMargin);
            layout.buttons.push_back(std::move(button));
            ++row;
        }
    }
    return layout;
}

bool ReadBookmarkFile(const std::string& path, std::vector<std::string>& lines, int& errorCode,
                      TextEncoding* encoding) {
    std::string bytes;
    if (!ReadTextBytes(path, bytes, errorCode)) return false;
    lines = DecodeTextLines(bytes);
    if (encoding) *encoding = DetectTextEncoding(bytes);
    return true;
}

bool WriteBookmarkFile(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                       TextEncoding encoding) {
    return WriteTextData(path, EncodeTextLines(lines, encoding), errorCode);
}

std::string CaptionUtf8(const std::string& caption) {
    return IsValidUtf8(caption) ? caption : Latin1ToUtf8(caption);
}

void BookmarkNumbers::Clear() {
    first_ += static_cast<unsigned>(commands_.size());
    commands_.clear();
}

unsigned BookmarkNumbers::Add(const std::string& command) {
    commands_.push_back(command);
    return first_ + static_cast<unsigned>(commands_.size() - 1);
}

const std::string* BookmarkNumbers::Find(unsigned number) const {
    if (number < first_ || number - first_ >= commands_.size()) return nullptr;
    return &commands_[number - first_];
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

BookmarkStartChoice ChooseBookmarkStartFile(const std::string& defaultPath, const std::string& storedPath,
                                            const std::string& samplePath,
                                            const std::function<bool(const std::string&)>& fileExists) {
    if (fileExists(defaultPath)) return {defaultPath, true};
    if (!storedPath.empty() && fileExists(storedPath)) return {storedPath, true};
    if (!samplePath.empty() && fileExists(samplePath)) return {samplePath, false};
    return {defaultPath, false};
}

std::string SampleBookmarksPath(const std::string& programFolder) {
    if (programFolder.empty()) return "";
    // "bin/../share/corvane" shown as such in the dialog and the field's label would puzzle.
    std::filesystem::path path =
        std::filesystem::path(programFolder) / CORVANE_DATA_FROM_BIN / "Bookmarks.txt";
    return path.lexically_normal().generic_string();
}

int ChooseActiveTab(const std::string& previousCaption, int previousIndex,
                    const std::vector<std::string>& tabs) {
    if (tabs.empty()) return -1;
    if (previousIndex < 0) return 0;
    if (previousIndex >= 0 && static_cast<size_t>(previousIndex) < tabs.size() &&
        tabs[static_cast<size_t>(previousIndex)] == previousCaption)
        return previousIndex;
    auto found = std::find(tabs.begin(), tabs.end(), previousCaption);
    return found == tabs.end() ? 0 : static_cast<int>(found - tabs.begin());
}
