#pragma once
// The console's one link to its instrument, whatever the connection string's kind: a TIO for
// "com", "tcp" and "tcpsrv", the GPIB driver binding for "gpib". The console opens, sends and
// closes through it and hears back through LinkEvents; it never asks which kind it holds, apart
// from showing the GPIB-only controls.
//
// Threads: every operation and every event runs on the UI thread (the thread of the Handover the
// link is made with). Received lines and the end of a TIO link arrive by hand-over from its reader
// thread, or in pull mode from Pull, which the owner calls from its own loop; GPIB driver events
// are posted to the hand-over by the driver's thread.
#include "connection/LineEnds.h"
#include "platform/Handover.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIO;

// What the link tells its owner. Each is optional.
struct LinkEvents {
    std::function<void(const std::string& text)> TxEcho; //!< A line that went out, without its LF.
    //! A received line, as framed, with the time it arrived ("hh:nn:ss.zzz").
    std::function<void(const std::string& line, const std::string& stamp)> RxLine;
    std::function<void()> Connected;
    //! The link ended: why, or empty when the operator closed it. Only after Connected.
    std::function<void(const std::string& reason)> Disconnected;
    std::function<void(const std::string& text)> Status; //!< A status line for the log.
    // GPIB driver events.
    std::function<void()> ServiceRequest;
    std::function<void(const std::string& message)> DriverError;
    std::function<void()> Interrupt;
};

// How the owner reads a stream link: not at all (a reader thread hands each line over), in Pull
// for the time it gives (a loop without a window), or when the link's descriptors are readable
// (an event loop that watches them); a link without descriptors is then handed over as with Off.
enum class PullMode { Off, Waited, Watched };

// How an open ended. Shown: it failed, and the operator has already seen a box that says why (the
// GPIB loader's), so the console only logs it.
enum class OpenResult { Opened, Failed, Shown };

class ConsoleLink {
public:
    // reason: why it failed (the system's text, "timed out", "cancelled"); empty when opened.
    using OpenDone = std::function<void(OpenResult result, const std::string& reason)>;

    virtual ~ConsoleLink() = default;

    // Starts opening and returns; done runs on the UI thread when the attempt has ended (before
    // BeginOpen returns for a link that opens at once), after Connected when it succeeded. Close
    // cancels an attempt under way. done must not destroy the link.
    virtual void BeginOpen(OpenDone done) = 0;
    // BeginOpen, waiting for the end (running hand-overs meanwhile); reason as for OpenDone.
    OpenResult Open(std::string* reason = nullptr);
    // How often OpenUnless asks whether to give up.
    static constexpr int CancelPollMs = 10;
    // The same for a face without windows: cancel is asked while the open waits (and whenever a
    // hand-over wakes it), and once it says so the open is closed and its end awaited.
    OpenResult OpenUnless(const std::function<bool()>& cancel, std::string& reason);
    // How long an open may wait for the far end; -1: no limit. Before BeginOpen.
    virtual void SetOpenTimeout(int /*ms*/) {}
    // What a send appends and what ends a received line. Before BeginOpen; a GPIB link's lines
    // are the driver's, so it keeps its own.
    virtual void SetLineEnds(const LineEnds& /*ends*/) {}
    // Closes the link. Safe to call more than once.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Sends text plus the line end (LF unless set otherwise), and once it went out echoes text
    // through TxEcho. A GPIB link decodes
    // backslash escapes first; a TIO link sends the bytes as they are. False (no echo) when it did
    // not go out: SendFailure says why.
    virtual bool SendLine(const std::string& text) = 0;
    // Sends text plus the line end as it is, escapes and all (nothing is decoded), and echoes
    // text: for GPIB the Write button's send, for a TIO link the same as SendLine.
    virtual bool WriteLine(const std::string& text) = 0;
    // Sends exactly bytes: no line end is added and nothing is decoded (the input line's hex
    // mode). TxEcho gets them all once they went out.
    virtual bool SendBytes(const std::string& bytes) = 0;
    virtual std::string SendFailure() const = 0;
    // The status line of an open link when it is not the usual "Connected to ..." (a listening
    // port says where it listens); empty otherwise.
    virtual std::string OpenedNote() const { return {}; }
    // Reads one reply and hands it to RxLine (GPIB, which is read on request). A TIO link's lines
    // arrive by themselves: false.
    virtual bool ReadReply() = 0;

    // Pull mode: the owner reads the link in its own loop instead of having each line handed over
    // from a reader thread (see TIO's pull mode). Asked for before BeginOpen; a link that cannot
    // be read so (GPIB, read on request anyway) keeps its way.
    virtual void SetPullMode(PullMode /*mode*/) {}
    // The open link is read by Pull, and its end has not been told yet.
    virtual bool Pulling() const { return false; }
    // Delivers the link's next received line through RxLine, reading the link up to timeoutMs for
    // it, or its end through Disconnected. True when something was delivered.
    virtual bool Pull(int /*timeoutMs*/) { return false; }
    // PullMode::Watched: the descriptors to watch, and ms until a Pull is due without input (-1:
    // none); see TIO::PullDescriptors and PullDueMs.
    virtual std::vector<int> PullDescriptors() const { return {}; }
    virtual int PullDueMs() const { return -1; }

    // When the link last received a byte, whole line or not (GetTickCount); 0 when it cannot
    // tell (GPIB, whose replies come whole).
    virtual uint32_t LastByteTick() const { return 0; }
    // When the first byte after the last send came (GetTickCount), whole line or not; 0 while none
    // has, or when the link cannot tell (GPIB).
    virtual uint32_t FirstByteTick() const { return 0; }
    // How many received bytes wait for their line end; 0 when the link cannot tell.
    virtual size_t WaitingBytes() const { return 0; }

    virtual bool IsGpib() const = 0;
    // A reply is read when asked for (ReadReply): GPIB and the LAN instruments' message links,
    // whose commands that end in '?' have their reply read at once. A stream link's lines come by
    // themselves.
    virtual bool ReadsOnRequest() const { return IsGpib(); }
    // The TIO under the link, for the tools that query it directly; none for GPIB.
    virtual TIO* Tio() const = 0;

protected:
    explicit ConsoleLink(Handover& handover) : handover_(handover) {}
    Handover& handover_;
};
