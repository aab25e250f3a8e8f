#pragma once
// A temporary folder for one test, removed with everything in it when the object goes.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class TempDir {
public:
    // A new folder of a random name (create_directory makes it only when nobody has), as mkdtemp
    // would, on any system.
    TempDir() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        std::error_code error;
        const auto base = std::filesystem::temp_directory_path(error);
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate = base / ("corvane-test-" + std::to_string(random() % 1000000000));
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
        }
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
