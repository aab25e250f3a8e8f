// Folder listings through readdir.
#include "projects/ProjectSearch.h"

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {
bool IsFolder(const std::string& base, const dirent& entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat info {};
    return ::stat((base + entry.d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
} // namespace

bool ReadFolderNames(const std::string& base, const std::function<bool(const std::string&)>& take,
                     const SearchCancelled& cancelled, std::vector<std::string>& names) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(base.c_str()));
    if (!dir) return true;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (cancelled && cancelled()) return false;
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (take(name) && IsFolder(base, *entry)) names.push_back(name);
    }
    return true;
}
