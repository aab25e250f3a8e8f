#include "connection/Gpib.h"

#include "CorvaneInstallDirs.h"

#include "platform/ModalBoxes.h"
#include "platform/SharedLibrary.h"
#include "platform/System.h"
#include "text/Strtools.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

namespace {

// The loaded driver and its exports, looked up once at load. A null export is unbound.
struct GpibBinding {
    void* library = nullptr;
    bool initCalled = false; // gpib_init went through the binding, so gpib_deinit is owed
    gpib_init_fn init = nullptr;
    gpib_deinit_fn deinit = nullptr;
    gpib_open_fn open = nullptr;
    gpib_close_fn close = nullptr;
    gpib_send_fn send = nullptr;
    gpib_recv_fn recv = nullptr;
    gpib_wait_fn wait = nullptr;
    gpib_geterrmsg_fn geterrmsg = nullptr;
};

GpibBinding binding;   // UI thread only
std::string loadError; // UI thread only: why the last load failed

// Looks up one export; a missing one is told to the operator and stays unbound.
template <typename Function> void Bind(void* library, const char* name, Function& slot) {
    // Both systems guarantee that the exported address converts to a function pointer.
    slot = reinterpret_cast<Function>(SharedLibrarySymbol(library, name));
    if (!slot) Boxes().Error("Error", std::string("Importing function ") + name + " failed.\n");
}

void BindAll(void* library) {
    Bind(library, "gpib_init", binding.init);
    Bind(library, "gpib_deinit", binding.deinit);
    Bind(library, "gpib_open", binding.open);
    Bind(library, "gpib_close", binding.close);
    Bind(library, "gpib_send", binding.send);
    Bind(library, "gpib_recv", binding.recv);
    Bind(library, "gpib_wait", binding.wait);
    Bind(library, "gpib_geterrmsg", binding.geterrmsg);
}

int32_t ClampLength(std::size_t length) {
    return static_cast<int32_t>(std::min<std::size_t>(length, std::numeric_limits<int32_t>::max()));
}

} // namespace

std::string GpibLibraryFileName(const std::string& driver) {
    return GpibLibraryFileName(driver, GetExeDir());
}

std::string GpibLibraryFileName(const std::string& driver, const std::string& folder) {
    std::string name = SharedLibraryFileName("Gpib" + driver);
    std::string inFolder = folder + "/" + name;
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_regular_file(inFolder, error)) return inFolder;
    // Installed, the drivers that come with the program are in its private library folder.
    std::string installed = folder + "/" CORVANE_LIB_FROM_BIN "/" + name;
    if (!folder.empty() && std::filesystem::is_regular_file(installed, error)) return installed;
    // A bare name with a '/' would be a path relative to the working directory for dlopen.
    if (name.find('/') != std::string::npos) return inFolder;
    return name;
}

bool LoadGpibLibrary(const std::string& fileName) {
    if (binding.library) return true;
    void* library = OpenSharedLibrary(fileName, loadError);
    if (!library) {
        Boxes().Error("Error", "Loading GPIB-library failed.\r\n" + fileName + "\r\n" + loadError);
        return false;
    }
    loadError.clear();
    binding.library = library;
    BindAll(library);
    return true;
}

void UnloadGpibLibrary() {
    if (!binding.library) return;
    if (binding.initCalled && binding.deinit) binding.deinit();
    void* library = binding.library;
    binding = GpibBinding{};
    CloseSharedLibrary(library);
}

std::string GpibLoadError() {
    return loadError;
}

bool IsGpibLibraryLoaded() {
    return binding.library != nullptr;
}

bool IsGpibExportBound(const std::string& exportName) {
    if (exportName == "gpib_init") return binding.init;
    if (exportName == "gpib_deinit") return binding.deinit;
    if (exportName == "gpib_open") return binding.open;
    if (exportName == "gpib_close") return binding.close;
    if (exportName == "gpib_send") return binding.send;
    if (exportName == "gpib_recv") return binding.recv;
    if (exportName == "gpib_wait") return binding.wait;
    if (exportName == "gpib_geterrmsg") return binding.geterrmsg;
    return false;
}

int32_t gpib_init(const gpib_notify_target* target) {
    if (!binding.init) return 0;
    binding.initCalled = true;
    return binding.init(target);
}

int32_t gpib_deinit() {
    if (!binding.deinit) return 0;
    binding.initCalled = false;
    return binding.deinit();
}

int32_t gpib_open(int32_t adapter, int32_t address) {
    return binding.open ? binding.open(adapter, address) : -1;
}

int32_t gpib_close(int32_t handle) {
    return binding.close ? binding.close(handle) : 0;
}

int32_t gpib_send(int32_t handle, const char* data, int32_t length, int32_t timeoutMs) {
    return binding.send ? binding.send(handle, data, length, timeoutMs) : 0;
}

int32_t gpib_recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs) {
    return binding.recv ? binding.recv(handle, buffer, size, timeoutMs) : 0;
}

int32_t gpib_wait(int32_t handle, int32_t timeoutMs) {
    return binding.wait ? binding.wait(handle, timeoutMs) : 0;
}

std::string gpib_geterrmsg() {
    const char* text = binding.geterrmsg ? binding.geterrmsg() : nullptr;
    return text ? std::string(text) : std::string();
}

bool GpibSendEscaped(int32_t handle, const std::string& text, int32_t timeoutMs) {
    std::vector<unsigned char> buffer(kGpibBufferSize, 0);
    DecodeEscapes(text.c_str(), buffer.data(), buffer.size());
    const char* bytes = reinterpret_cast<const char*>(buffer.data());
    const std::size_t length = strnlen(bytes, kGpibBufferSize - 1);
    return gpib_send(handle, bytes, ClampLength(length), timeoutMs) != 0;
}

bool GpibSendRaw(int32_t handle, const std::string& text, int32_t timeoutMs) {
    return gpib_send(handle, text.data(), ClampLength(text.size()), timeoutMs) != 0;
}

bool GpibReceive(int32_t handle, int32_t timeoutMs, std::string& reply) {
    std::vector<char> buffer(kGpibBufferSize, 0);
    const bool arrived =
        gpib_recv(handle, buffer.data(), static_cast<int32_t>(buffer.size()), timeoutMs) != 0;
    // A driver that fills the whole buffer leaves no room for the 0 byte: its last byte is dropped.
    reply = arrived ? std::string(buffer.data(), strnlen(buffer.data(), kGpibBufferSize - 1)) : std::string();
    return arrived;
}
