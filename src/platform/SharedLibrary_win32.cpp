#include "platform/SharedLibrary.h"

#include "platform/System.h"
#include "platform/Win32Text.h"

std::string SharedLibraryFileName(const std::string& base) {
    return "lib" + base + ".dll";
}

// fileName is a full path (the GPIB loader's, in the program's folder) or a bare name, which
// Windows looks up through its own library search.
void* OpenSharedLibrary(const std::string& fileName, std::string& why) {
    HMODULE library = LoadLibraryExW(WideFromUtf8(fileName).c_str(), nullptr, 0);
    if (!library) {
        const int error = static_cast<int>(GetLastError());
        why = GetSystemErrorText(error);
        if (why.empty()) why = "error " + std::to_string(error);
    }
    return reinterpret_cast<void*>(library);
}

void* SharedLibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSharedLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
