#include "console/TioLink.h"

#include "connection/TcpConnection.h"
#include "text/Strtools.h"

TioLink::TioLink(ConnectionTarget target, LinkEvents events, Handover& handover)
    : ConsoleLink(handover), target_(std::move(target)), events_(std::move(events)),
      io_(std::make_unique<TIO>(handover)) {
    // TIO echoes what it wrote (within Send); the link echoes the line without the line end it
    // added, and bytes sent as they are whole.
    if (events_.TxEcho) {
        io_->SetOnTxEcho([this](const std::string& sent) {
            const bool added = !sendingBytes_ && sent.ends_with(txEnd_);
            events_.TxEcho(added ? sent.substr(0, sent.size() - txEnd_.size()) : sent);
        });
    }
    if (events_.RxLine) {
        io_->SetOnRxLine([this](const std::string& line, TIO* io) { events_.RxLine(line, io->LineStamp()); });
    }
    io_->SetOnConnected([this] {
        connected_ = true;
        if (events_.Connected) events_.Connected();
    });
    // The end is told while the TIO is being destroyed, when io_ no longer points to it.
    TIO* io = io_.get();
    io_->SetOnDisconnected([this, io] {
        if (connected_ && events_.Disconnected) events_.Disconnected(io->EndReason());
    });
    if (events_.Status) io_->SetOnStatus(events_.Status);
    // Instrument lines end in LF and have no start character, unless set otherwise.
    SetLineEnds(LineEnds{});
}

void TioLink::SetLineEnds(const LineEnds& ends) {
    txEnd_ = TxLineEndBytes(ends.tx);
    io_->StartCharEnabled = false;
    io_->EndCharEnabled = true;
    io_->EndChar = EndCharFor(ends.rx);
    io_->LineEnds = FramerEndsFor(ends.rx);
    io_->IdleLineMs = ends.idleMs;
}

TioLink::~TioLink() {
    io_.reset();
}

void TioLink::BeginOpen(OpenDone done) {
    auto finish = [done](bool ok, const std::string& reason) {
        if (done) done(ok ? OpenResult::Opened : OpenResult::Failed, reason);
    };
    if (!io_->BeginOpen(target_, finish)) finish(false, NotAConnectionKindText(target_));
}

void TioLink::Close() {
    io_->Close();
}

bool TioLink::IsOpen() const {
    return io_->IsOpen();
}

bool TioLink::SendLine(const std::string& text) {
    return io_->Send(text + txEnd_);
}

bool TioLink::WriteLine(const std::string& text) {
    return SendLine(text);
}

bool TioLink::SendBytes(const std::string& bytes) {
    sendingBytes_ = true;
    const bool sent = io_->Send(bytes);
    sendingBytes_ = false;
    return sent;
}

std::string TioLink::OpenedNote() const {
    auto* server = dynamic_cast<TTcpServerConnection*>(io_->Transport());
    if (!server || !server->IsOpen()) return {};
    std::string address, port;
    SplitAtFirst(target_.Params, address, ":", port);
    return "Listening on " + (address.empty() ? std::string("all interfaces") : address) + ", port " +
           std::to_string(server->LocalPort()) + ".";
}
