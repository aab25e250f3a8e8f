#pragma once
/*
 * The project navigator for other programs: libcorvane_projects.so exports these two functions
 * with C linkage. Load the library with dlopen("libcorvane_projects.so", RTLD_NOW) and look the
 * functions up with dlsym by these names, or link against it.
 *
 * Texts are zero-terminated UTF-8. A buffer receives at most its size in bytes: the text, cut when
 * it does not fit, then zero bytes up to its end, so it always ends with a zero byte inside the
 * buffer (a buffer of size 4 gets three bytes of text). A size of 0 or less writes nothing.
 *
 * Both functions show a modal window and return when it closes. Call them on the thread that runs
 * the caller's Qt application; a program without a Qt application gets one made for the call (on
 * Linux it needs a desktop session, or QT_QPA_PLATFORM=offscreen for none). Qt keeps the thread
 * that first runs it until the process ends, so the library runs it on a thread that lasts: when
 * the first call comes from the program's main thread, on that thread, and later calls must come
 * from there too; when it comes from another thread, on a thread of the library's own, which then
 * serves calls from any thread while the calling thread waits (such a program must not make a Qt
 * application of its own afterwards). One call runs at a time: a call made while another is open,
 * or from a thread that cannot run it, returns at once as Cancel (2, or 0 for ShowInputQuery) and
 * writes nothing. The project share folder is read from Corvane's own setting ProjectShareRoot
 * (~/.config/Veltrask/Corvane.conf).
 */

#if defined(__GNUC__)
#define CORVANE_PROJECTS_EXPORT __attribute__((visibility("default")))
#else
#define CORVANE_PROJECTS_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Shows the navigator. owner: the caller's QWidget* to centre on, or NULL. searchText: the first
 * search text, or NULL / "" to take the project number from the clipboard. After OK the project
 * number of the chosen folder goes to numberBuffer and the folder's path (ending in "/") to
 * pathBuffer; either buffer may be NULL. Returns 1 for OK, 2 for Cancel (also when the call cannot
 * show a window here; then nothing is written). */
CORVANE_PROJECTS_EXPORT int ShowGotoProjFormModal(void* owner, const char* searchText, char* numberBuffer,
                                                  int numberBufferSize, char* pathBuffer, int pathBufferSize);
typedef int (*ShowGotoProjFormModalFunc)(void*, const char*, char*, int, char*, int);

/* Shows a one-line input box with caption and prompt; the buffer's text is the initial value. The
 * box's value is copied back into the buffer whichever way it closes. Returns 1 for OK, 0 otherwise. */
CORVANE_PROJECTS_EXPORT int ShowInputQuery(const char* caption, const char* prompt, char* buffer,
                                           int bufferSize);
typedef int (*ShowInputQueryFunc)(const char*, const char*, char*, int);

#ifdef __cplusplus
}
#endif
