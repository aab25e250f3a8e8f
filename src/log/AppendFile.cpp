#include "log/AppendFile.h"

#include <filesystem>

std::string OutputFileProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status) || fs::is_regular_file(status) || IsSinkDevice(path)) return {};
    const char* kind = fs::is_fifo(status)                                          ? "a FIFO (named pipe)"
                       : fs::is_directory(status)                                   ? "a folder"
                       : fs::is_socket(status)                                      ? "a socket"
                       : fs::is_character_file(status) || fs::is_block_file(status) ? "a device"
                                                                                    : "no plain file";
    return std::string("it is ") + kind + ", not a regular file";
}

bool SamePath(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    if (std::filesystem::exists(a, error) && std::filesystem::exists(b, error))
        return std::filesystem::equivalent(a, b, error);
    const auto normal = [](const std::string& path) {
        std::error_code ignored;
        return std::filesystem::weakly_canonical(path, ignored);
    };
    return normal(a) == normal(b);
}
