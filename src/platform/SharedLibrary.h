#pragma once
// Libraries loaded at run time (the GPIB drivers): dlopen here, LoadLibrary on Windows
// (SharedLibrary_posix.cpp, SharedLibrary_win32.cpp). Any thread; the system serialises loading.
#include <string>

// The file name of the library called base on this system: "lib" + base + ".so" here,
// "lib" + base + ".dll" on Windows.
std::string SharedLibraryFileName(const std::string& base);

// Loads fileName with every reference resolved now; null when it cannot, with the system's reason
// in why.
void* OpenSharedLibrary(const std::string& fileName, std::string& why);
// The address of an exported function; null when the library has none of that name.
void* SharedLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);
