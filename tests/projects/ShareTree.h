#pragma once
// A temporary project share made by a test: folders and plain files below a fresh root, removed
// again when the object goes.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

class ShareTree {
public:
    ShareTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-share-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~ShareTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    ShareTree(const ShareTree&) = delete;
    ShareTree& operator=(const ShareTree&) = delete;

    // The root with a trailing "/", as the setting may hold it.
    std::string Root() const { return root_.string() + "/"; }

    void Folders(std::initializer_list<const char*> relatives) const {
        for (const char* relative : relatives)
            std::filesystem::create_directories(root_ / relative);
    }
    void File(const std::string& relative) const {
        std::filesystem::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << "x";
    }

private:
    std::filesystem::path root_;
};
