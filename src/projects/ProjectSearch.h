#pragma once
// Finding project folders on the company share by a serial (project) number. No windows here: the
// navigator and its worker call these, and so can anything else.
//
// The share root is a folder (the value of the setting ProjectShareRoot); below it the share keeps
// Produktion/<year>/, Firmware/Work/ and Firmware/Archiv<year>/. Names are matched without regard
// to ASCII case, as on the share's home platform, with "*" and "?" as the only wildcards.
//
// Every function here may be called from any thread; none keeps state between calls.
#include <functional>
#include <string>
#include <vector>

// One listing of a search: the folder listed (ending in "/") and the name pattern.
struct FolderListing {
    std::string base;
    std::string pattern; //!< "*" + text + "*": matched against the entry names of base
};

// The five listings for a search text, in their order: production folders of the years "20" + P
// and "19" + P (P: the first two characters of the trimmed text), the firmware work folder, and
// the firmware archives of the same two years ("Archiv" + year, no separator). The text goes into
// the pattern unchanged, so its wildcards work. An empty root gives no listings: nothing is ever
// searched relative to the working folder.
std::vector<FolderListing> ProjectFolderListings(const std::string& shareRoot, const std::string& searchText);

// True when name matches pattern: "*" any run of characters, "?" any one character, everything
// else itself regardless of ASCII case.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Called between entries; true stops the search (a newer one has been asked for). The result is
// then incomplete and should be thrown away.
using SearchCancelled = std::function<bool()>;

// The system's side of the search (ProjectSearch_posix.cpp, ProjectSearch_win32.cpp): appends the
// names of the folders in base (a link to a folder counts as one; "." and ".." never) that take
// accepts, in the system's order; take is asked before anything else is looked up about a name.
// A base that cannot be read gives no names. False when cancelled.
bool ReadFolderNames(const std::string& base, const std::function<bool(const std::string&)>& take,
                     const SearchCancelled& cancelled, std::vector<std::string>& names);

// The folders the five listings find, each as base + name + "/", in the order of the listings and,
// within one listing, by name without regard to case. Plain files, "." and ".." are left out; a
// link to a folder counts as a folder. A folder found by two listings is there twice. A missing
// or unreadable folder adds nothing.
std::vector<std::string> SearchProjectFolders(const std::string& shareRoot, const std::string& searchText,
                                              const SearchCancelled& cancelled = {});

// The project number in a text (a clipboard text or a folder path): digits are collected, other
// characters skipped until six digits are in; after that ASCII letters join the number and any
// other character ends it. "\" and "/" start the scan anew, so for a path the number comes from
// the first folder name, from the left, whose number ends before the name does.
std::string ExtractProjectNumber(const std::string& text);
