#include "text/TextFile.h"

#include "text/Strtools.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// Reads one UTF-8 sequence at i (moving i past it) as the standard allows it: no overlong forms,
// no surrogates, nothing above U+10FFFF. False for anything else.
bool NextCodePoint(const std::string& text, size_t& i, uint32_t& codePoint) {
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        codePoint = lead;
        ++i;
        return true;
    }
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07u;
    } else {
        return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return false;
    i += length;
    return true;
}

bool IsValidUtf8(const std::string& text) {
    uint32_t codePoint = 0;
    for (size_t i = 0; i < text.size();) {
        if (!NextCodePoint(text, i, codePoint)) return false;
    }
    return true;
}

// The Latin-1 form of a valid UTF-8 line, or the line unchanged when a character does not fit.
std::string Utf8LineToLatin1(const std::string& line) {
    std::string latin1;
    latin1.reserve(line.size());
    uint32_t codePoint = 0;
    for (size_t i = 0; i < line.size();) {
        NextCodePoint(line, i, codePoint);
        if (codePoint > 0xFF) return line;
        latin1 += static_cast<char>(codePoint);
    }
    return latin1;
}

std::string Latin1ToUtf8(const std::string& latin1) {
    std::string utf8;
    utf8.reserve(latin1.size());
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now: a network file system may report a failed write only here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A symbolic link stays a link: the file it names is the one replaced.
std::string ResolvedTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A name beside target that no other writer of this process or another one picks.
std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

bool WriteInPlace(const std::string& path, const std::string& data, int& errorCode, bool* created) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) {
        errorCode = errno;
        return false;
    }
    if (created) *created = true;
    if (!WriteAll(file.Get(), data) || !file.Close()) {
        errorCode = errno;
        return false;
    }
    return true;
}

// Writes data to a new file made with mode (permissions of a replaced target, else the usual
// 0666 less the umask) and flushes it to the disk.
// made tells whether the file could be created at all.
bool WriteNewFile(const std::string& path, const std::string& data, const struct stat* target, bool& made) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, target ? 0600 : 0666));
    made = file.Get() >= 0;
    if (!made) return false;
    if (target) {
        // Only root may hand a file to another owner; the permissions are what matters here.
        [[maybe_unused]] int ignored = ::fchown(file.Get(), target->st_uid, target->st_gid);
        if (::fchmod(file.Get(), target->st_mode & 07777) != 0) return false;
    }
    return WriteAll(file.Get(), data) && ::fsync(file.Get()) == 0 && file.Close();
}
} // namespace

std::vector<std::string> SplitTextLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text.append(line).append("\r\n");
    return text;
}

uint32_t FirstBeyondLatin1(const std::string& line) {
    uint32_t first = 0;
    uint32_t codePoint = 0;
    for (size_t i = 0; i < line.size();) {
        if (!NextCodePoint(line, i, codePoint)) return 0;
        if (codePoint > 0xFF && first == 0) first = codePoint;
    }
    return first;
}

std::vector<std::string> DecodeTextLines(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return SplitTextLines(bytes);
    const bool bom = bytes.rfind(ByteOrderMark, 0) == 0;
    std::vector<std::string> lines = SplitTextLines(bom ? bytes.substr(3) : bytes);
    for (std::string& line : lines)
        line = Utf8LineToLatin1(line);
    return lines;
}

std::string EncodeTextLines(const std::vector<std::string>& lines) {
    bool utf8 = false;
    for (const std::string& line : lines)
        utf8 = utf8 || FirstBeyondLatin1(line) != 0;
    if (!utf8) return JoinTextLines(lines);
    std::string text;
    // A first line that itself begins with U+FEFF would lose it to the reader, which drops a
    // leading byte order mark: a mark of its own in front keeps it.
    if (!lines.empty() && lines.front().rfind(ByteOrderMark, 0) == 0) text = ByteOrderMark;
    for (const std::string& line : lines)
        text.append(FirstBeyondLatin1(line) != 0 ? line : Latin1ToUtf8(line)).append("\r\n");
    return text;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, int& errorCode, bool* opened) {
    // The type is checked before opening: opening a FIFO for reading waits for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        errorCode = errno;
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errorCode = S_ISDIR(info.st_mode) ? EISDIR : TextFileNotRegular;
        return false;
    }
    // O_NONBLOCK as well: the name may have been swapped for a FIFO since.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) {
        errorCode = errno;
        return false;
    }
    if (opened) *opened = true;
    if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > MaxTextFileBytes) {
        errorCode = S_ISREG(info.st_mode) ? TextFileTooLarge : TextFileNotRegular;
        return false;
    }
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(file.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            errorCode = errno;
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        // A file that grows while it is read is held to the same limit.
        if (bytes.size() > MaxTextFileBytes) {
            errorCode = TextFileTooLarge;
            return false;
        }
    }
    lines = DecodeTextLines(bytes);
    return true;
}

bool WriteTextData(const std::string& path, const std::string& data, int& errorCode, bool* created) {
    const std::string target = ResolvedTarget(path);
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) return WriteInPlace(target, data, errorCode, created);
    const std::string temporary = TemporaryName(target);
    bool made = false;
    const bool written = WriteNewFile(temporary, data, exists ? &info : nullptr, made);
    if (created) *created = made;
    if (!written) {
        errorCode = errno;
        if (made) ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        errorCode = errno;
        ::unlink(temporary.c_str());
        // Only the temporary file was made: the target itself could not be created.
        if (created && !exists) *created = false;
        return false;
    }
    return true;
}

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines, int& errorCode,
                    bool* created) {
    return WriteTextData(path, EncodeTextLines(lines), errorCode, created);
}
