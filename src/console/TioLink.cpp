#include "console/TioLink.h"

TioLink::TioLink(std::string connection, LinkEvents events, Handover& handover)
    : connection_(std::move(connection)), events_(std::move(events)), io_(std::make_unique<TIO>(handover)) {
    // TIO echoes what it writes; the link echoes the line without the LF it added.
    if (events_.TxEcho) {
        io_->SetOnTxEcho([this](const std::string& sent) {
            events_.TxEcho(!sent.empty() && sent.back() == '\n' ? sent.substr(0, sent.size() - 1) : sent);
        });
    }
    if (events_.RxLine) io_->SetOnRxLine([this](const std::string& line, TIO*) { events_.RxLine(line); });
    if (events_.Connected) io_->SetOnConnected(events_.Connected);
    if (events_.Disconnected) io_->SetOnDisconnected(events_.Disconnected);
    // Instrument lines end in LF and have no start character.
    io_->EndChar = '\n';
    io_->StartCharEnabled = false;
}

TioLink::~TioLink() {
    io_.reset();
}

OpenResult TioLink::Open() {
    return io_->Open(connection_) ? OpenResult::Opened : OpenResult::Failed;
}

void TioLink::Close() {
    io_->Close();
}

bool TioLink::IsOpen() const {
    return io_->IsOpen();
}

bool TioLink::SendLine(const std::string& text) {
    return io_->Send(text + "\n");
}

bool TioLink::WriteLine(const std::string& text) {
    return SendLine(text);
}
