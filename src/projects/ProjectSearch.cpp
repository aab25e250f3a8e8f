#include "projects/ProjectSearch.h"

#include "text/Strtools.h"

#include <algorithm>

namespace {
char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// Case-insensitive order, ties broken by the bytes, so the order is total and repeatable.
bool NameBefore(const std::string& a, const std::string& b) {
    auto lowerLess = [](char x, char y) {
        return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowerLess)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowerLess)) return false;
    return a < b;
}

// The folder names in base that match pattern, sorted; false when cancelled.
bool ListFolders(const FolderListing& listing, const SearchCancelled& cancelled,
                 std::vector<std::string>& names) {
    auto matches = [&](const std::string& name) { return WildcardMatch(listing.pattern, name); };
    if (!ReadFolderNames(listing.base, matches, cancelled, names)) return false;
    std::sort(names.begin(), names.end(), NameBefore);
    return true;
}
} // namespace

std::vector<FolderListing> ProjectFolderListings(const std::string& shareRoot,
                                                 const std::string& searchText) {
    if (shareRoot.empty()) return {};
    const std::string root = WithSlash(shareRoot);
    const std::string text = TrimText(searchText);
    const std::string prefix = text.substr(0, 2);
    const std::string yearA = "20" + prefix, yearB = "19" + prefix;
    const std::string bases[] = {
        root + "Produktion/" + yearA + "/",
        root + "Produktion/" + yearB + "/",
        root + "Firmware/Work/",
        root + "Firmware/Archiv" + yearA + "/",
        root + "Firmware/Archiv" + yearB + "/",
    };
    std::vector<FolderListing> listings;
    for (const auto& base : bases)
        listings.push_back({base, "*" + text + "*"});
    return listings;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // Greedy with one backtrack point: the last "*" seen absorbs one more character on a mismatch.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> SearchProjectFolders(const std::string& shareRoot, const std::string& searchText,
                                              const SearchCancelled& cancelled) {
    std::vector<std::string> folders;
    for (const auto& listing : ProjectFolderListings(shareRoot, searchText)) {
        std::vector<std::string> names;
        if (!ListFolders(listing, cancelled, names)) return folders;
        for (const auto& name : names)
            folders.push_back(listing.base + name + "/");
    }
    return folders;
}

std::string ExtractProjectNumber(const std::string& text) {
    std::string number;
    for (char c : text) {
        if (c == '\\' || c == '/') {
            number.clear();
        } else if (IsDigit(c)) {
            number += c;
        } else if (number.size() >= 6) {
            if (!IsAsciiLetter(c)) break;
            number += c;
        }
    }
    return number;
}
