#pragma once
// String tools over the program's 8-bit text: parameter prompts, escape decoding, splitting and
// time stamps. No state of their own; everything but ResolveParamPrompts may be called from any
// thread.
#include <cstddef>
#include <ctime>
#include <map>
#include <string>
#include <string_view>

// Splits text at the first occurrence of separator (case-sensitive, may be several characters).
// Found: head = before it, tail = after it, true. Not found or empty separator: head = text,
// tail = empty, false. head and tail may not alias text.
bool SplitAtFirst(const std::string& text, std::string& head, const std::string& separator,
                  std::string& tail);

// Removes every leading and trailing character with a code of 32 or less (blanks, CR, LF, tabs and
// the other control characters), as everything that trims a command or a reply does.
std::string TrimText(std::string_view text);

// Local time "hh:nn:ss.zzz" and local date and time "yyyy-mm-dd hh:nn:ss.zzz".
std::string GetTimeStamp();
// The stamp of a moment given in ns since the epoch (a received packet's arrival), local time.
std::string TimeStampAt(int64_t unixNs);
std::string GetDateTimeStamp();
// The same two formats for a given broken-down local time and millisecond (0 to 999).
std::string FormatTimeStamp(const std::tm& time, int milliseconds);
std::string FormatDateTimeStamp(const std::tm& time, int milliseconds);

// Decodes backslash escapes (\r \n \t \\ \xHH \dDDD; any other escaped character gives 0x00) of the
// NUL-terminated source into output and writes a 0 byte behind what it produced. Returns the number
// of bytes produced without that 0. Never reads past the source's terminating 0 and never writes
// more than outputSize bytes (the result is cut to outputSize - 1 bytes); an output of
// strlen(source) + 1 bytes always suffices. outputSize 0 writes nothing and returns 0.
// An escape cut short by the end of the source (\ as the last character, \x with fewer than two
// characters after it, \d with fewer than three) produces nothing.
size_t DecodeEscapes(const char* source, unsigned char* output, size_t outputSize);
// The same over a whole std::string (which may hold 0 bytes: decoding stops at the first one).
std::string DecodeEscapes(const std::string& source);

// The last value an operator entered for each parameter name (case-sensitive keys). Owned by the caller.
using ParamMemory = std::map<std::string, std::string>;

// How ResolveParamPrompts asks the operator. Implemented by a modal input dialog in the windows
// and by scripted answers in tests.
class ParamPromptUi {
public:
    virtual ~ParamPromptUi() = default;
    // Asks for the value of name in command (as stored, prompts unanswered), offering value (all
    // of it selected). OK: value := the entered text, true. Cancel or close: false.
    virtual bool AskValue(const std::string& command, const std::string& name, std::string& value) = 0;
    // An error box with one OK button.
    virtual void ShowError(const std::string& message) = 0;
};

// Asks for every "<?name>" / "<?name:default>" sequence of text, left to right, once per distinct
// sequence text, and replaces each by the answer. True when all were answered; false after the
// error "Unterminated <?...> Sequence!" or a cancel (text may then be partly replaced).
bool ResolveParamPrompts(std::string& text, ParamMemory& memory, ParamPromptUi& ui);

// One parameter sequence "<?" body ">" of a text: it ends at the first ">" after its "<?", so it
// never nests. The body splits at its first ":" into name and default.
struct ParamPrompt {
    size_t position = 0;  // of its "<?"
    std::string sequence; // "<?" + body + ">": the text that identifies it for replacing
    std::string name;     // as written, no trimming
    std::string defaultValue;
    bool hasDefault = false;
};
enum class ParamScan { None, Found, Unterminated };
// Finds the first "<?" of text. Found fills prompt; Unterminated means that "<?" has no ">" after it.
ParamScan FindParamPrompt(const std::string& text, ParamPrompt& prompt);

// A copy of text with every parameter sequence replaced by mask; an unterminated "<?" and all
// after it stay as they are. The scan restarts at the front after each replacement, so a mask may
// join its neighbours into a new sequence; at most as many sequences are masked as text has ">",
// which only binds for a mask that contains ">" itself (such as "<?>", which would mask itself forever).
std::string MaskParamPrompts(const std::string& text, const std::string& mask);
