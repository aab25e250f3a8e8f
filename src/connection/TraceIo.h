#pragma once
// The raw byte trace of connection traffic: every byte TIO sends, and every byte the serial
// transport receives, goes to the process's standard output as "\r\nTx: " / "\r\nRx: " followed
// by printable bytes as themselves and the others as "\xhh". The direction header is written only
// when the direction changes, so a conversation reads as alternating Tx and Rx runs.
//
// Each call's text reaches the stream at once (nothing waits in a buffer, so a killed process
// leaves a complete trace). A pipe or terminal that nobody drains does not block the caller: the
// text that finds no room is dropped, and once the stream takes text again (or at exit) one line
// on standard error says how many bytes were lost.
#include <cstddef>
#include <cstdio>
#include <string>

enum class TraceDirection { None, Send, Receive };

// Any thread. Appends the trace of count bytes to standard output (or the stream set below).
void TraceIo(TraceDirection direction, const void* bytes, size_t count);

// Where the trace goes: standard output unless set; nullptr switches the trace off. The stream is
// not owned and is written through its descriptor. Set it before any connection runs (tests and
// benchmarks keep their output clean). The next text on the new stream starts with its direction.
void SetTraceStream(std::FILE* stream);

// The formatting alone: appends to out what TraceIo writes, given and updating the last direction.
void FormatTrace(TraceDirection& last, TraceDirection direction, const void* bytes, size_t count,
                 std::string& out);
