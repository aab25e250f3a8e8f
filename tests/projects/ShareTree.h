#pragma once
// A temporary project share made by a test: folders and plain files below a fresh root, removed
// again when the object goes.
#include "TempDir.h"

#include <filesystem>
#include <initializer_list>
#include <string>

class ShareTree {
public:
    // The root with a trailing "/", as the setting may hold it.
    std::string Root() const { return dir_.Path().string() + "/"; }

    void Folders(std::initializer_list<const char*> relatives) const {
        for (const char* relative : relatives)
            std::filesystem::create_directories(dir_.Path() / relative);
    }
    void File(const std::string& relative) const { dir_.Write(relative, "x"); }

private:
    TempDir dir_;
};
