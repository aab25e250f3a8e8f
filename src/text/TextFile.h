#pragma once
// Text files as every window of Corvane reads and writes them (bookmarks, scripts, the editor, the
// saved log): lines end in CR LF, LF or CR when read and in CR LF when written. Failures are
// results with errno kept (or one of the TextFile* codes below). No state; any thread.
//
// Characters. Instrument text is Latin-1 bytes. A file that is valid UTF-8 is decoded: a line whose
// characters all fit Latin-1 becomes those Latin-1 bytes; a line holding a character beyond
// Latin-1 is kept as its UTF-8 bytes, so nothing that reads it can send it changed.
// FirstBeyondLatin1 tells such a line (the sender refuses it), and TextLineToQt shows it. Any other
// file is read as Latin-1, byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Files larger than this are refused: no text the program edits or sends comes near it, and
// reading one whole must not exhaust memory.
inline constexpr size_t MaxTextFileBytes = size_t{4} * 1024 * 1024;
// Error codes of a read besides errno values; TextFileErrorText tells them.
inline constexpr int TextFileTooLarge = -1;   // larger than MaxTextFileBytes
inline constexpr int TextFileNotRegular = -2; // a FIFO, a device, a folder: never blocked on

// The text of an error code of this unit: its own codes, else the system's text (GetSystemErrorText),
// so every file message reads alike.
std::string TextFileErrorText(int code);

// Splits text into lines at CR LF, LF and CR; a line end at the very end opens no further line.
std::vector<std::string> SplitTextLines(const std::string& text);
// The lines, each followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

// Reads one UTF-8 sequence at i < text.size() (moving i past it) as the standard allows it: no overlong
// forms, no surrogates, nothing above U+10FFFF. False for anything else, i unchanged.
bool NextUtf8CodePoint(const std::string& text, size_t& i, uint32_t& codePoint);
// Whether text is UTF-8 as NextUtf8CodePoint reads it, from end to end.
bool IsValidUtf8(const std::string& text);
// The UTF-8 form of Latin-1 text, byte for byte.
std::string Latin1ToUtf8(const std::string& latin1);

// The first character beyond Latin-1 of a line kept as UTF-8; 0 when line holds none (it is then
// Latin-1). A Latin-1 line that happens to spell such a character in UTF-8 ("Ä°") reads as one:
// it is refused, never sent changed.
uint32_t FirstBeyondLatin1(const std::string& line);
// The file's bytes as lines decoded as described above.
std::vector<std::string> DecodeTextLines(const std::string& bytes);
// How a file's bytes were read, so that lines written back unchanged keep their bytes.
enum class TextEncoding {
    Plain,   //!< ASCII only, or no file read: written as EncodeTextLines decides by the lines
    Bytes,   //!< not valid UTF-8: each line was read byte for byte and is written so
    Utf8,    //!< valid UTF-8 beyond ASCII: every line is written as UTF-8
    Utf8Bom, //!< the same after a byte order mark
};
TextEncoding DetectTextEncoding(const std::string& bytes);
// The bytes of a file holding lines. Plain: Latin-1 as read, unless a line holds a character
// beyond Latin-1; then the whole file is UTF-8, so it reads back the same. Bytes: the lines as
// they are. Utf8 and Utf8Bom: the whole file UTF-8.
std::string EncodeTextLines(const std::vector<std::string>& lines,
                            TextEncoding encoding = TextEncoding::Plain);

// Reads a regular file of at most MaxTextFileBytes and decodes it; a FIFO or device is refused
// without waiting on it. On failure the result is false and errorCode holds errno or a TextFile*
// code; opened (when given) tells whether the file itself could be opened, so a message can say
// which step failed.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, int& errorCode,
                   bool* opened = nullptr);
// The same file's bytes as they are (a program's source), under the same limits.
bool ReadTextBytes(const std::string& path, std::string& bytes, int& errorCode, bool* opened = nullptr);

// Replaces the file at path with data so that a failure never leaves it changed: the data goes to
// a new file in the same folder, is flushed to the disk and renamed over the target only when
// complete, with the target's permissions. On failure the target is as it was, the new file is
// removed and errorCode holds errno; created (when given) tells whether the new file could be made.
// A target that is not a regular file (a device such as /dev/null) is written in place.
bool WriteTextData(const std::string& path, const std::string& data, int& errorCode, bool* created = nullptr);
// EncodeTextLines(lines), written as WriteTextData does.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                    bool* created = nullptr);
