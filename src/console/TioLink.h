#pragma once
// The console link over a TIO: a serial port, a TCP connection or a listening TCP port.
#include "connection/Connection.h"
#include "console/ConsoleLink.h"

class TioLink : public ConsoleLink {
public:
    TioLink(ConnectionTarget target, LinkEvents events, Handover& handover);
    // Ends the TIO; its Disconnected is delivered while this waits for the reader.
    ~TioLink() override;

    void BeginOpen(OpenDone done) override;
    void SetOpenTimeout(int ms) override { io_->ConnectTimeoutMs = ms; }
    void SetLineEnds(const LineEnds& ends) override;
    void Close() override;
    bool IsOpen() const override;
    bool SendLine(const std::string& text) override;
    bool WriteLine(const std::string& text) override;
    bool SendBytes(const std::string& bytes) override;
    std::string SendFailure() const override { return io_->SendFailure(); }
    std::string OpenedNote() const override;
    bool ReadReply() override { return false; }
    void SetPullMode(PullMode mode) override {
        io_->SetPullMode(mode != PullMode::Off,
                         mode == PullMode::Watched ? TIO::PullWait::OnDescriptors : TIO::PullWait::InPull);
    }
    bool Pulling() const override { return io_->Pulling(); }
    bool Pull(int timeoutMs) override { return io_->Pull(timeoutMs) != TIO::PullResult::Nothing; }
    std::vector<int> PullDescriptors() const override { return io_->PullDescriptors(); }
    int PullDueMs() const override { return io_->PullDueMs(); }
    bool IsGpib() const override { return false; }
    TIO* Tio() const override { return io_.get(); }
    uint32_t LastByteTick() const override { return io_->LastByteTick(); }
    uint32_t FirstByteTick() const override { return io_->FirstByteTick(); }
    size_t WaitingBytes() const override { return io_->WaitingBytes(); }

private:
    ConnectionTarget target_;
    LinkEvents events_;
    bool connected_ = false;    //!< A link that never opened does not tell of its end.
    std::string txEnd_ = "\n";  //!< What a send appends.
    bool sendingBytes_ = false; //!< SendBytes is under way: its echo keeps every byte.
    std::unique_ptr<TIO> io_;
};
