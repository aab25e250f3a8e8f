// Folder listings through FindFirstFileEx, which names each entry with its attributes.
#include "projects/ProjectSearch.h"

#include "platform/Win32Text.h"

namespace {
struct FindCloser {
    HANDLE find;
    ~FindCloser() { FindClose(find); }
};
} // namespace

bool ReadFolderNames(const std::string& base, const std::function<bool(const std::string&)>& take,
                     const SearchCancelled& cancelled, std::vector<std::string>& names) {
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = WideFromUtf8(base) + L"*";
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchLimitToDirectories,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindCloser closer{find};
    do {
        if (cancelled && cancelled()) return false;
        const std::string name = Utf8FromWide(entry.cFileName, static_cast<int>(wcslen(entry.cFileName)));
        if (name == "." || name == "..") continue;
        // A junction or a link to a folder carries the folder attribute too.
        if (take(name) && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(name);
    } while (FindNextFileW(find, &entry));
    return true;
}
