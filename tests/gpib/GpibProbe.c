/*
 * libGpibProbe.so: a test driver. It records the bytes of the last gpib_send, answers every
 * gpib_recv by filling the whole buffer without a 0 byte, and lacks gpib_deinit, gpib_open and
 * gpib_wait. The probe_* functions let a test read what it recorded.
 */
#include "connection/GpibDriver.h"

#include <string.h>

#define PROBE_CAPACITY 16384

static char sent[PROBE_CAPACITY];
static int32_t sentLength = -1;
static int32_t recvSize = -1;

int32_t gpib_init(const gpib_notify_target* target) {
    (void)target;
    return 1;
}

int32_t gpib_close(int32_t handle) {
    (void)handle;
    return 1;
}

int32_t gpib_send(int32_t handle, const char* data, int32_t length, int32_t timeoutMs) {
    (void)handle;
    (void)timeoutMs;
    sentLength = length;
    memcpy(sent, data, length < PROBE_CAPACITY ? (size_t)length : PROBE_CAPACITY);
    return 1;
}

/* Letters a to z over and over, to the last byte of the buffer. */
int32_t gpib_recv(int32_t handle, char* buffer, int32_t size, int32_t timeoutMs) {
    (void)handle;
    (void)timeoutMs;
    recvSize = size;
    for (int32_t i = 0; i < size; ++i)
        buffer[i] = (char)('a' + i % 26);
    return 1;
}

const char* gpib_geterrmsg(void) {
    return "probe error";
}

GPIB_EXPORT const char* probe_last_sent(int32_t* length) {
    *length = sentLength;
    return sent;
}

GPIB_EXPORT int32_t probe_last_recv_size(void) {
    return recvSize;
}
