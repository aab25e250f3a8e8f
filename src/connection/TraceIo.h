#pragma once
// The raw byte trace of connection traffic: every byte TIO sends, and every byte the serial
// transport receives, goes to the process's standard output as "\r\nTx: " / "\r\nRx: " followed
// by printable bytes as themselves and the others as "\xhh". The direction header is written only
// when the direction changes, so a conversation reads as alternating Tx and Rx runs.
#include <cstddef>
#include <cstdio>
#include <string>

enum class TraceDirection { None, Send, Receive };

// Any thread. Appends the trace of count bytes to standard output (or the stream set below).
void TraceIo(TraceDirection direction, const void* bytes, size_t count);

// Where the trace goes: standard output unless set; nullptr switches the trace off. The stream is
// not owned. Set it before any connection runs (tests and benchmarks keep their output clean).
void SetTraceStream(std::FILE* stream);

// The formatting alone: appends to out what TraceIo writes, given and updating the last direction.
void FormatTrace(TraceDirection& last, TraceDirection direction, const void* bytes, size_t count,
                 std::string& out);
