#pragma once
// Texts in and out of the fixed-size buffers of C callers. Any thread.
#include <string>

// The text in buffer up to its first zero byte, never reading more than size bytes.
std::string ReadCBuffer(const char* buffer, int size);

// Writes text into buffer: at most size - 1 bytes of it, then zero bytes to the buffer's end. A
// null buffer or a size of 0 or less is left alone. A UTF-8 character that does not fit whole is
// left out whole, so the cut text stays valid UTF-8.
void CopyToCBuffer(const std::string& text, char* buffer, int size);
