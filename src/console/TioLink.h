#pragma once
// The console link over a TIO: a serial port, a TCP connection or a listening TCP port.
#include "connection/Connection.h"
#include "console/ConsoleLink.h"

class TioLink : public ConsoleLink {
public:
    TioLink(std::string connection, LinkEvents events, Handover& handover);
    // Ends the TIO; its Disconnected is delivered while this waits for the reader.
    ~TioLink() override;

    OpenResult Open() override;
    void Close() override;
    bool IsOpen() const override;
    bool SendLine(const std::string& text) override;
    bool WriteLine(const std::string& text) override;
    bool ReadReply() override { return false; }
    bool IsGpib() const override { return false; }
    TIO* Tio() const override { return io_.get(); }

private:
    std::string connection_;
    LinkEvents events_;
    std::unique_ptr<TIO> io_;
};
