#pragma once
// The binding to the GPIB driver library (connection/GpibDriver.h describes a driver). At most one
// driver is loaded at a time; its eight exports are looked up once, at load. A driver that is not
// loaded, or an export it lacks, is an ordinary state: calls through an unbound export are skipped
// and give gpib_open's -1, 0, an empty text or nothing.
//
// Threads: everything here is for the UI thread only, including the calls through the binding.
// Only the driver's events arrive elsewhere: through the notify target given to gpib_init, from
// any thread of the driver's (see GpibDriver.h).
#ifdef GPIB_DRIVER_PROTOTYPES_DECLARED
#error "Include connection/Gpib.h before (or instead of) connection/GpibDriver.h"
#endif
#define GPIB_DRIVER_NO_PROTOTYPES
#include "connection/GpibDriver.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The size of the send and receive buffers: a command is cut to, and a reply read as, at most
// kGpibBufferSize - 1 bytes.
inline constexpr std::size_t kGpibBufferSize = 8196;

// The library file of a driver: "libGpib" + driver + ".so" (".dll" on Windows) in folder (the
// program's folder when not given) when that file exists; otherwise the bare file name, which the
// loader looks up through the system's library search. A driver name with a '/' is never looked up in the
// system: it names a path below folder, as it would on the folder search.
std::string GpibLibraryFileName(const std::string& driver);
std::string GpibLibraryFileName(const std::string& driver, const std::string& folder);

// Loads the library and binds its exports. Already loaded: true at once, the loaded one stays.
// Cannot be loaded: the error box "Loading GPIB-library failed.\r\n" + fileName + "\r\n" + the
// loader's reason (GpibLoadError), false. Every
// missing export: the error box "Importing function <name> failed.\n", in the order init, deinit,
// open, close, send, recv, wait, geterrmsg; the library stays loaded and the result is true.
bool LoadGpibLibrary(const std::string& fileName);
// If loaded: gpib_deinit first when gpib_init was called through this binding (so the driver has
// stopped posting and ended its threads before its code goes away), then unbinds all and unloads.
void UnloadGpibLibrary();
bool IsGpibLibraryLoaded();
// The loader's reason why the last load failed; empty after a successful load.
std::string GpibLoadError();
// Whether the loaded library has the export ("gpib_close", ...); false when none is loaded.
bool IsGpibExportBound(const std::string& exportName);

// Calls through the binding; the arguments and results are the driver's (GpibDriver.h).
int32_t gpib_init(const gpib_notify_target* target);
int32_t gpib_deinit();
int32_t gpib_open(int32_t adapter, int32_t address); // -1 when unbound
int32_t gpib_close(int32_t handle);
int32_t gpib_send(int32_t handle, const char* data, int32_t length, int32_t timeoutMs);
int32_t gpib_recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs);
int32_t gpib_wait(int32_t handle, int32_t timeoutMs);
// A copy of the driver's last error text; "" when unbound or when the driver gives NULL.
std::string gpib_geterrmsg();

// Decodes the text's backslash escapes (DecodeEscapes) into a cleared buffer of kGpibBufferSize
// bytes and sends the decoded bytes up to their first 0 byte, so a command is cut to
// kGpibBufferSize - 1 bytes and ends before an escape that decodes to 0. True when gpib_send
// reported success.
bool GpibSendEscaped(int32_t handle, const std::string& text, int32_t timeoutMs);
// Sends the text's bytes as they are. True when gpib_send reported success.
bool GpibSendRaw(int32_t handle, const std::string& text, int32_t timeoutMs);
// Reads one reply into a cleared buffer of kGpibBufferSize bytes. True when gpib_recv reported a
// reply; reply := the buffer's text up to its first 0 byte, at most kGpibBufferSize - 1 bytes
// (empty when no reply came).
bool GpibReceive(int32_t handle, int32_t timeoutMs, std::string& reply);
