#include "text/Strtools.h"

#include "platform/System.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

// ---- Splitting -----------------------------------------------------------------------------------

bool SplitAtFirst(const std::string& text, std::string& head, const std::string& separator,
                  std::string& tail) {
    const size_t at = separator.empty() ? std::string::npos : text.find(separator);
    if (at == std::string::npos) {
        head = text;
        tail.clear();
        return false;
    }
    head = text.substr(0, at);
    tail = text.substr(at + separator.size());
    return true;
}

// ---- Time stamps ---------------------------------------------------------------------------------

namespace {
struct LocalNow {
    std::tm time{};
    int milliseconds = 0;
};

// Every log line takes a stamp; the local time of day changes its second but once a second, so
// the zone's rules are asked only then (per thread).
LocalNow ReadLocalTime(const timespec& at) {
    thread_local time_t cachedSecond = -1;
    thread_local std::tm cachedTime{};
    if (at.tv_sec != cachedSecond) {
        ToLocalTime(at.tv_sec, cachedTime);
        cachedSecond = at.tv_sec;
    }
    LocalNow result;
    result.time = cachedTime;
    result.milliseconds = static_cast<int>(at.tv_nsec / 1000000);
    return result;
}

LocalNow ReadLocalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return ReadLocalTime(now);
}

// Writes value's last count decimal digits at at.
void PutDigits(char* at, int value, int count) {
    for (int i = count - 1; i >= 0; --i, value /= 10)
        at[i] = static_cast<char>('0' + value % 10);
}
} // namespace

// The separator is always ':' and the digits always ASCII: the log is read by people and by
// tools alike, and must not change with the user's regional settings. Written digit by digit, as
// every line of a fast exchange takes two; values beyond a clock's ranges go the general way.
std::string FormatTimeStamp(const std::tm& time, int milliseconds) {
    const auto twoDigits = [](int value) { return value >= 0 && value <= 99; };
    if (twoDigits(time.tm_hour) && twoDigits(time.tm_min) && twoDigits(time.tm_sec) && milliseconds >= 0 &&
        milliseconds <= 999) {
        std::string text = "00:00:00.000";
        PutDigits(&text[0], time.tm_hour, 2);
        PutDigits(&text[3], time.tm_min, 2);
        PutDigits(&text[6], time.tm_sec, 2);
        PutDigits(&text[9], milliseconds, 3);
        return text;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", time.tm_hour, time.tm_min, time.tm_sec,
                  milliseconds);
    return text;
}

std::string FormatDateTimeStamp(const std::tm& time, int milliseconds) {
    char date[64];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d ", time.tm_year + 1900, time.tm_mon + 1, time.tm_mday);
    return date + FormatTimeStamp(time, milliseconds);
}

std::string GetTimeStamp() {
    const LocalNow now = ReadLocalNow();
    return FormatTimeStamp(now.time, now.milliseconds);
}

std::string TimeStampAt(int64_t unixNs) {
    const timespec at{static_cast<time_t>(unixNs / 1000000000), static_cast<long>(unixNs % 1000000000)};
    const LocalNow local = ReadLocalTime(at);
    return FormatTimeStamp(local.time, local.milliseconds);
}

std::string GetDateTimeStamp() {
    const LocalNow now = ReadLocalNow();
    return FormatDateTimeStamp(now.time, now.milliseconds);
}

// ---- Escape decoding -----------------------------------------------------------------------------

namespace {
// Hands out the source's characters one by one and reports its terminating 0 as the end, so an
// escape that runs into the end can never make the decoder read beyond it.
class SourceReader {
public:
    explicit SourceReader(const char* source) : next_(source) {}
    bool AtEnd() const { return *next_ == 0; }
    // Takes the next count characters into chars; false, having taken what there was, at the end.
    bool Take(unsigned char* chars, int count) {
        for (int i = 0; i < count; ++i) {
            if (AtEnd()) return false;
            chars[i] = static_cast<unsigned char>(*next_++);
        }
        return true;
    }

private:
    const char* next_;
};

// Characters that are not hex digits go through the same arithmetic instead of being rejected, so an
// escape always spans the same number of characters and a typo never shifts how the rest is read.
// Unsigned wrap-around keeps exactly the low bits that end up in the byte.
unsigned HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (c | 0x20u) - 0x57u;
}

bool IsCSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads three characters as the C library's decimal parse would (blanks, sign, digits up to the
// first non-digit), without its locale.
int ParseLeadingDecimal(const unsigned char* chars, int count) {
    int i = 0;
    while (i < count && IsCSpace(chars[i]))
        ++i;
    bool negative = false;
    if (i < count && (chars[i] == '+' || chars[i] == '-')) negative = chars[i++] == '-';
    int value = 0;
    for (; i < count && chars[i] >= '0' && chars[i] <= '9'; ++i)
        value = value * 10 + (chars[i] - '0');
    return negative ? -value : value;
}

// The byte an escape stands for; false when the source ends before the escape is complete.
bool DecodeOneEscape(SourceReader& reader, unsigned char& byte) {
    unsigned char kind = 0;
    if (!reader.Take(&kind, 1)) return false;
    unsigned char digits[3];
    switch (kind) {
    case 'r':
        byte = '\r';
        return true;
    case 'n':
        byte = '\n';
        return true;
    case 't':
        byte = '\t';
        return true;
    case '\\':
        byte = '\\';
        return true;
    case 'x':
        if (!reader.Take(digits, 2)) return false;
        byte = static_cast<unsigned char>((HexValue(digits[0]) << 4) | HexValue(digits[1]));
        return true;
    case 'd':
        if (!reader.Take(digits, 3)) return false;
        byte = static_cast<unsigned char>(ParseLeadingDecimal(digits, 3));
        return true;
    default:
        byte = 0;
        return true;
    }
}
} // namespace

size_t DecodeEscapes(const char* source, unsigned char* output, size_t outputSize) {
    if (outputSize == 0) return 0;
    SourceReader reader(source);
    size_t count = 0;
    while (count + 1 < outputSize && !reader.AtEnd()) {
        unsigned char byte = 0;
        reader.Take(&byte, 1);
        if (byte == '\\' && !DecodeOneEscape(reader, byte)) break;
        output[count++] = byte;
    }
    output[count] = 0;
    return count;
}

std::string DecodeEscapes(const std::string& source) {
    std::vector<unsigned char> output(source.size() + 1);
    const size_t count = DecodeEscapes(source.c_str(), output.data(), output.size());
    return std::string(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(count));
}

// ---- Parameter prompts ---------------------------------------------------------------------------

ParamScan FindParamPrompt(const std::string& text, ParamPrompt& prompt) {
    const size_t open = text.find("<?");
    if (open == std::string::npos) return ParamScan::None;
    const size_t close = text.find('>', open + 2);
    if (close == std::string::npos) return ParamScan::Unterminated;
    prompt.position = open;
    prompt.sequence = text.substr(open, close + 1 - open);
    const std::string body = text.substr(open + 2, close - open - 2);
    prompt.hasDefault = SplitAtFirst(body, prompt.name, ":", prompt.defaultValue);
    return ParamScan::Found;
}

namespace {
// Replaces up to limit occurrences of from (never empty) left to right; returns how many it replaced.
// A sequence text cannot overlap itself (its only ">" is its last character), so the plain
// non-overlapping search finds every occurrence.
size_t ReplaceAll(std::string& text, const std::string& from, const std::string& to, size_t limit) {
    std::string result;
    size_t count = 0;
    size_t start = 0;
    for (size_t at = text.find(from); at != std::string::npos && count < limit; at = text.find(from, start)) {
        result.append(text, start, at - start).append(to);
        start = at + from.size();
        ++count;
    }
    result.append(text, start, std::string::npos);
    text = std::move(result);
    return count;
}

// A remembered value beats the written default; a name without a default is remembered (empty) as
// soon as it is asked for, so a later "<?name:7>" offers what was entered, even if that was nothing.
std::string OfferedValue(const ParamPrompt& prompt, ParamMemory& memory) {
    if (!prompt.hasDefault) return memory[prompt.name];
    const auto remembered = memory.find(prompt.name);
    return remembered != memory.end() ? remembered->second : prompt.defaultValue;
}
} // namespace

// Every pass starts again at the front: an entered value that holds "<?...>" is a new prompt.
bool ResolveParamPrompts(std::string& text, ParamMemory& memory, ParamPromptUi& ui) {
    const std::string command = text;
    for (;;) {
        ParamPrompt prompt;
        const ParamScan scan = FindParamPrompt(text, prompt);
        if (scan == ParamScan::None) return true;
        if (scan == ParamScan::Unterminated) {
            ui.ShowError("Unterminated <?...> Sequence!");
            return false;
        }
        std::string value = OfferedValue(prompt, memory);
        if (!ui.AskValue(command, prompt.name, value)) return false;
        memory[prompt.name] = value;
        ReplaceAll(text, prompt.sequence, value, std::string::npos);
    }
}

std::string MaskParamPrompts(const std::string& text, const std::string& mask) {
    std::string result = text;
    // Each masked sequence uses up one ">" of the text, so with a ">"-free mask this budget never
    // runs out before the scan does; it only stops a mask that keeps closing new sequences itself.
    size_t budget = static_cast<size_t>(std::count(text.begin(), text.end(), '>'));
    ParamPrompt prompt;
    while (budget > 0 && FindParamPrompt(result, prompt) == ParamScan::Found)
        budget -= ReplaceAll(result, prompt.sequence, mask, budget);
    return result;
}

std::string TrimText(std::string_view text) {
    auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isControl(text[first]))
        ++first;
    while (last > first && isControl(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}
