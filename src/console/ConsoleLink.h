#pragma once
// The console's one link to its instrument, whatever the connection string's kind: a TIO for
// "com", "tcp" and "tcpsrv", the GPIB driver binding for "gpib". The console opens, sends and
// closes through it and hears back through LinkEvents; it never asks which kind it holds, apart
// from showing the GPIB-only controls.
//
// Threads: every operation and every event runs on the UI thread (the thread of the Handover the
// link is made with). Received lines and the end of a TIO link arrive by hand-over from its reader
// thread; GPIB driver events are posted to the hand-over by the driver's thread.
#include "platform/Handover.h"

#include <functional>
#include <memory>
#include <string>

class TIO;

// What the link tells its owner. Each is optional.
struct LinkEvents {
    std::function<void(const std::string& text)> TxEcho; //!< A line that goes out, without its LF.
    std::function<void(const std::string& line)> RxLine; //!< A received line, as framed.
    std::function<void()> Connected;
    std::function<void()> Disconnected;
    std::function<void(const std::string& text)> Status; //!< A status line for the log.
    // GPIB driver events.
    std::function<void()> ServiceRequest;
    std::function<void(const std::string& message)> DriverError;
    std::function<void()> Interrupt;
};

// How an open ended. Shown: it failed, and the operator has already seen a box that says why (the
// GPIB loader's), so the console only logs it.
enum class OpenResult { Opened, Failed, Shown };

class ConsoleLink {
public:
    virtual ~ConsoleLink() = default;

    // Opens the link; Connected is called before a successful Open returns.
    virtual OpenResult Open() = 0;
    // Closes the link. Safe to call more than once.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Sends text plus one LF and echoes text through TxEcho. A GPIB link decodes backslash
    // escapes first; a TIO link sends the bytes as they are.
    virtual bool SendLine(const std::string& text) = 0;
    // Sends text plus one LF as it is, escapes and all, and echoes text.
    virtual bool WriteLine(const std::string& text) = 0;
    // Reads one reply and hands it to RxLine (GPIB, which is read on request). A TIO link's lines
    // arrive by themselves: false.
    virtual bool ReadReply() = 0;

    virtual bool IsGpib() const = 0;
    // The TIO under the link, for the tools that query it directly; none for GPIB.
    virtual TIO* Tio() const = 0;
};

// A link for connection (not opened yet). "gpib" strings give a GPIB link, every other kind a TIO
// link (whose Open fails for a kind TIO does not know).
std::unique_ptr<ConsoleLink> MakeConsoleLink(const std::string& connection, LinkEvents events,
                                             Handover& handover = Handover::Main());
