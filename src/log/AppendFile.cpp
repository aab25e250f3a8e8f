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
