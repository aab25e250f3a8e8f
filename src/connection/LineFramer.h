#pragma once
// Frames received bytes into lines. A line ends at EndChar (when enabled); StartChar (when enabled)
// throws away what was collected so far and starts afresh. Neither is stored. A line longer than
// MaxLine keeps its first MaxLine bytes; the rest is dropped until the line ends, and the line
// says so: "... (cut: <whole length> bytes)" follows its text. A 0 byte is a byte of the line like
// any other: the log shows it, so an instrument that sends one never loses the rest of its reply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

class LineFramer {
public:
    static constexpr size_t MaxLine = 32767;

    // What ends a line: EndChar alone (Char), a CR LF pair (CrLf: a CR without LF after it is
    // part of the line), or any of CR and LF, where the LF of a CR LF pair ends nothing more (CrOrLf).
    enum class LineEnd { Char, CrLf, CrOrLf };

    bool StartCharEnabled = true;
    bool EndCharEnabled = true;
    uint8_t StartChar = '#';
    uint8_t EndChar = '*';
    LineEnd Ends = LineEnd::Char;

    // Feeds n bytes in order; onLine(const std::string&) is called for each completed line.
    template <class OnLine> void Process(const uint8_t* bytes, size_t n, OnLine&& onLine) {
        if (Ends != LineEnd::Char) {
            ProcessCrLf(bytes, n, onLine);
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            uint8_t b = bytes[i];
            if (StartCharEnabled && b == StartChar) {
                length_ = 0;
                whole_ = 0;
            } else if (EndCharEnabled && b == EndChar) {
                onLine(TakeLine());
            } else {
                if (length_ < MaxLine) buffer_[length_++] = static_cast<char>(b);
                ++whole_;
            }
        }
    }

    // Bytes of the line being received so far.
    size_t PendingLength() const { return length_; }
    // A line has begun and not ended (what TakePartial would take).
    bool HasPartial() const { return whole_ > 0 || (Ends == LineEnd::CrLf && pendingCr_); }

    // The line begun but not ended (the peer left mid-line); false when none was begun.
    bool TakePartial(std::string& line) {
        if (Ends == LineEnd::CrLf && pendingCr_) Append('\r');
        pendingCr_ = false;
        if (whole_ == 0) return false;
        line = TakeLine();
        return true;
    }

private:
    // The two CR LF framings; kept apart from the plain loop, which stays as lean as it was.
    template <class OnLine> void ProcessCrLf(const uint8_t* bytes, size_t n, OnLine& onLine) {
        const bool crOrLf = Ends == LineEnd::CrOrLf;
        bool afterCr = pendingCr_;
        for (size_t i = 0; i < n; ++i) {
            // A run of common bytes (above CR and LF, not the start character) only joins the line:
            // it is found first and copied whole.
            const size_t run = CommonRun(bytes + i, n - i);
            if (run > 0) {
                if (afterCr && !crOrLf) Append('\r'); // a CR without LF after it is part of the line
                afterCr = false;
                AppendRun(bytes + i, run);
                i += run;
                if (i == n) break;
            }
            const uint8_t b = bytes[i];
            const bool wasAfterCr = std::exchange(afterCr, false);
            if (StartCharEnabled && b == StartChar) {
                length_ = 0;
                whole_ = 0;
            } else if (crOrLf) {
                if (b == '\n' && wasAfterCr) continue; // the LF of a CR LF pair: its line has ended
                if (b == '\r' || b == '\n') {
                    afterCr = b == '\r';
                    onLine(TakeLine());
                } else {
                    Append(b);
                }
            } else if (wasAfterCr && b == '\n') {
                onLine(TakeLine());
            } else {
                if (wasAfterCr) Append('\r');
                if (b == '\r') {
                    afterCr = true;
                } else {
                    Append(b);
                }
            }
        }
        pendingCr_ = afterCr;
    }

    size_t CommonRun(const uint8_t* bytes, size_t n) const {
        const int start = StartCharEnabled ? StartChar : -1;
        size_t k = 0;
        while (k < n && bytes[k] > '\r' && bytes[k] != start)
            ++k;
        return k;
    }

    void AppendRun(const uint8_t* bytes, size_t n) {
        const size_t room = MaxLine - length_;
        const size_t kept = n < room ? n : room;
        std::copy(bytes, bytes + kept, buffer_ + length_);
        length_ += kept;
        whole_ += n;
    }

    void Append(uint8_t b) {
        if (length_ < MaxLine) buffer_[length_++] = static_cast<char>(b);
        ++whole_;
    }

    std::string TakeLine() {
        std::string line(buffer_, length_);
        if (whole_ > MaxLine) line += "... (cut: " + std::to_string(whole_) + " bytes)";
        length_ = 0;
        whole_ = 0;
        return line;
    }

    char buffer_[MaxLine + 1] = {};
    size_t length_ = 0;
    uint64_t whole_ = 0;     //!< Bytes of the line so far, also those past MaxLine.
    bool pendingCr_ = false; //!< The last byte was a CR (CR LF framings).
};
