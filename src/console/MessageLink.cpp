#include "console/MessageLink.h"

#include "text/Strtools.h"

#include <utility>

MessageLink::MessageLink(std::unique_ptr<MessageSession> session, SessionTarget target, LinkEvents events,
                         Handover& handover)
    : ConsoleLink(handover), session_(std::move(session)), target_(std::move(target)),
      events_(std::move(events)), self_(std::make_shared<MessageLink*>(this)) {
    if (target_.timeoutMs <= 0) target_.timeoutMs = DefaultTimeoutMs;
    SetLineEnds(LineEnds{});
    // The instrument's own messages come on the protocol's threads: over to the UI thread.
    session_->OnServiceRequest = [this] {
        Tell([](MessageLink& link) {
            if (link.events_.ServiceRequest) link.events_.ServiceRequest();
        });
    };
    session_->OnProtocolError = [this](const std::string& text) {
        Tell([text](MessageLink& link) {
            if (link.events_.DriverError) link.events_.DriverError(text);
        });
    };
}

MessageLink::~MessageLink() {
    *self_ = nullptr;
    Close();
}

void MessageLink::SetOpenTimeout(int ms) {
    if (ms > 0) target_.timeoutMs = ms;
}

void MessageLink::SetLineEnds(const LineEnds& ends) {
    txEnd_ = std::string(TxLineEndBytes(ends.tx));
    framer_.StartCharEnabled = false;
    framer_.EndCharEnabled = true;
    framer_.EndChar = EndCharFor(ends.rx);
    framer_.Ends = FramerEndsFor(ends.rx);
}

void MessageLink::BeginOpen(OpenDone done) {
    worker_ = std::thread([this] { Work(); });
    Queue([this, done] {
        const bool opened = session_->Open(target_);
        const std::string why = opened ? std::string() : session_->Failure();
        Tell([opened, why, done](MessageLink& link) {
            link.open_ = opened;
            if (opened && link.events_.Connected) link.events_.Connected();
            if (done) done(opened ? OpenResult::Opened : OpenResult::Failed, why);
        });
    });
}

void MessageLink::Close() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    // Releases a call the worker is blocked in, and ends the session the protocol's way.
    session_->Close();
    if (worker_.joinable()) worker_.join();
    if (open_) {
        open_ = false;
        Ended({});
    }
}

bool MessageLink::SendLine(const std::string& text) {
    return SendMessage(text, text + txEnd_);
}

bool MessageLink::SendMessage(const std::string& echo, std::string message) {
    if (!open_) return false;
    Queue([this, echo, message = std::move(message)] {
        const bool sent = session_->Write(message, target_.timeoutMs);
        const std::string why = sent ? std::string() : session_->Failure();
        const bool lost = !session_->IsOpen();
        Tell([echo, sent, why, lost](MessageLink& link) {
            if (sent && link.events_.TxEcho) link.events_.TxEcho(echo);
            if (!sent && link.events_.DriverError) link.events_.DriverError("Not sent: " + why);
            if (lost) link.Ended(why);
        });
    });
    return true;
}

bool MessageLink::ReadReply() {
    if (!open_) return false;
    Queue([this] {
        std::string message;
        const bool read = session_->Read(message, target_.timeoutMs);
        const std::string stamp = GetTimeStamp();
        const std::string why = read ? std::string() : session_->Failure();
        const bool lost = !session_->IsOpen();
        Tell([message, stamp, read, why, lost](MessageLink& link) {
            if (read) link.DeliverMessage(message, stamp);
            if (!read && link.events_.DriverError) link.events_.DriverError("No reply: " + why);
            if (lost) link.Ended(why);
        });
    });
    return true;
}

// A message is one reply, whatever its line end: the part after the last line end is a line too.
void MessageLink::DeliverMessage(const std::string& message, const std::string& stamp) {
    auto deliver = [&](const std::string& line) {
        if (events_.RxLine) events_.RxLine(line, stamp);
    };
    framer_.Process(reinterpret_cast<const uint8_t*>(message.data()), message.size(), deliver);
    std::string rest;
    if (framer_.TakePartial(rest)) deliver(rest);
}

void MessageLink::Ended(const std::string& reason) {
    if (ended_) return;
    ended_ = true;
    open_ = false;
    if (events_.Disconnected) events_.Disconnected(reason);
}

void MessageLink::Queue(Job job) {
    {
        std::lock_guard guard(lock_);
        if (stop_) return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void MessageLink::Work() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void MessageLink::Tell(std::function<void(MessageLink&)> f) {
    std::weak_ptr<MessageLink*> self = self_;
    handover_.Post([self, f = std::move(f)] {
        auto alive = self.lock();
        if (alive && *alive) f(**alive);
    });
}
