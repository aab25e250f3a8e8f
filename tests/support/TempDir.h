#pragma once
// A temporary folder for one test, removed with everything in it when the object goes.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

    // A file with text, made executable when asked; its folders are created as needed.
    void Write(const std::string& relative, const std::string& text, bool executable = false) const {
        auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
        if (executable) std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }

private:
    std::filesystem::path path_;
};
