#include "platform/SharedLibrary.h"

#include <dlfcn.h>

std::string SharedLibraryFileName(const std::string& base) {
    return "lib" + base + ".so";
}

void* OpenSharedLibrary(const std::string& fileName, std::string& why) {
    void* library = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        why = reason ? reason : "unknown reason";
    }
    return library;
}

void* SharedLibrarySymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void CloseSharedLibrary(void* library) {
    dlclose(library);
}
