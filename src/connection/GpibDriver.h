/*
 * GpibDriver.h: the interface between Corvane and a GPIB driver library.
 *
 * A driver is a shared library named "libGpib" + driver name + ".so" (libGpibAgilent.so,
 * libGpibNationalInstruments.so). Corvane looks for it in the program's own folder first, then
 * through the system's library search, and opens it with dlopen(RTLD_NOW | RTLD_LOCAL). It looks up
 * the eight functions below by their plain C names (no leading underscore). Any of them may be
 * missing: Corvane then tells the operator once per missing name and skips the calls to it.
 *
 * Types: every integer is 32 bits (int32_t); texts and buffers are plain byte pointers. Texts are
 * 8-bit bytes, not necessarily UTF-8.
 *
 * Threads
 * - Corvane calls every gpib_* function from one thread of its own (its user-interface thread),
 *   one call at a time, and never from inside the notify target's post function. A call may block
 *   for up to the time-out it is given.
 * - The driver may call the notify target's post function from any thread, also from its own
 *   threads and from inside a gpib_* call. post only queues the event and returns at once; Corvane
 *   handles the event later in its own thread (where it may call gpib_geterrmsg).
 * - After gpib_deinit returns the driver must not call post any more, and it must have ended every
 *   thread of its own. Corvane calls gpib_deinit (when the library has it) before it unloads a
 *   library whose gpib_init it called. A driver that may be unloaded without gpib_deinit must
 *   also stop and join its threads in its unload destructor: code of an unloaded library that
 *   still runs crashes the process.
 *
 * Events
 * The driver reports events by calling target->post(target->context, GPIB_NOTIFY_MESSAGE, 0, kind)
 * with kind one of GPIB_EVENT_ERROR (Corvane logs the text of gpib_geterrmsg), GPIB_EVENT_SRQ (a
 * device requests service; Corvane logs it and may read the device's status) or
 * GPIB_EVENT_INTERRUPT. wparam is not used and should be 0.
 *
 * Functions (return conventions; "not 0" means success)
 * gpib_init(target): starts the driver's session. target may be NULL (no events); otherwise the
 *   driver copies *target and uses the copy until gpib_deinit. Corvane calls it right after loading
 *   and does not look at the result.
 * gpib_deinit(): ends the session: closes what is open, stops posting, ends the driver's threads.
 * gpib_open(adapter, address): adapter (board) number and primary GPIB address, each 0 to 31.
 *   Returns a device handle (0 or more), or -1 when the device cannot be opened.
 * gpib_close(handle): releases a handle from gpib_open.
 * gpib_send(handle, data, length, timeoutMs): sends length bytes as one message (Corvane ends a
 *   command with LF). Not 0 when the bytes were sent within the time-out.
 * gpib_recv(handle, buffer, size, timeoutMs): waits up to timeoutMs for the device's next reply
 *   and writes it to buffer, which holds size bytes. Not 0 when a reply arrived. The driver writes
 *   at most size - 1 reply bytes followed by a 0 byte; a longer reply should stay with the driver
 *   for the next call. Corvane reads the reply up to its first 0 byte, and a buffer filled to the
 *   end without a 0 byte as its first size - 1 bytes.
 * gpib_wait(handle, timeoutMs): waits up to timeoutMs until the device requests service. Not 0
 *   when it did (the request is then taken); 0 on time-out.
 * gpib_geterrmsg(): the text of the driver's last error, 0-terminated, owned by the driver and
 *   valid until the next gpib_* call. Never NULL; "" when there was no error.
 */
#ifndef CORVANE_GPIB_DRIVER_H
#define CORVANE_GPIB_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The message number of every event: 1024, the number GPIB drivers post their events under. */
#define GPIB_NOTIFY_MESSAGE 1024u

/* The event kinds, passed in lparam. */
#define GPIB_EVENT_ERROR 0
#define GPIB_EVENT_SRQ 1
#define GPIB_EVENT_INTERRUPT 2

/* Where a driver sends its events; given to gpib_init in place of a window. */
typedef struct gpib_notify_target {
    void* context;
    void (*post)(void* context, unsigned message, intptr_t wparam, intptr_t lparam);
} gpib_notify_target;

typedef int32_t (*gpib_init_fn)(const gpib_notify_target* target);
typedef int32_t (*gpib_deinit_fn)(void);
typedef int32_t (*gpib_open_fn)(int32_t adapter, int32_t address);
typedef int32_t (*gpib_close_fn)(int32_t handle);
typedef int32_t (*gpib_send_fn)(int32_t handle, const char* data, int32_t length, int32_t timeoutMs);
typedef int32_t (*gpib_recv_fn)(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs);
typedef int32_t (*gpib_wait_fn)(int32_t handle, int32_t timeoutMs);
typedef const char* (*gpib_geterrmsg_fn)(void);

/*
 * The exports a driver defines. Corvane's own binding (connection/Gpib.h) has functions of the
 * same names and so defines GPIB_DRIVER_NO_PROTOTYPES before it includes this header.
 */
#ifndef GPIB_DRIVER_NO_PROTOTYPES
#define GPIB_DRIVER_PROTOTYPES_DECLARED 1
#define GPIB_EXPORT __attribute__((visibility("default")))

GPIB_EXPORT int32_t gpib_init(const gpib_notify_target* target);
GPIB_EXPORT int32_t gpib_deinit(void);
GPIB_EXPORT int32_t gpib_open(int32_t adapter, int32_t address);
GPIB_EXPORT int32_t gpib_close(int32_t handle);
GPIB_EXPORT int32_t gpib_send(int32_t handle, const char* data, int32_t length, int32_t timeoutMs);
GPIB_EXPORT int32_t gpib_recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs);
GPIB_EXPORT int32_t gpib_wait(int32_t handle, int32_t timeoutMs);
GPIB_EXPORT const char* gpib_geterrmsg(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_GPIB_DRIVER_H */
