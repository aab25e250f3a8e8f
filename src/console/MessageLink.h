#pragma once
// The console link to a LAN instrument that talks in whole messages (VXI-11, HiSLIP). It behaves
// as the GPIB link does: a command goes out as one message, a reply is read on request (Expect
// Reply, Read, a command ending in '?'), and the message read is cut into log lines at the receive
// line end. Each exchange can wait on the network for its time-out, so every one runs on the
// link's worker thread, in order; what comes of it reaches the UI thread by hand-over: the echo of
// a command only once it went out, a failed one as a red line with the reason.
//
// Threads: every operation on the UI thread; the worker only runs the session's calls.
#include "connection/LineEnds.h"
#include "connection/LineFramer.h"
#include "connection/MessageSession.h"
#include "console/ConsoleLink.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class MessageLink : public ConsoleLink {
public:
    // How long a write or a read waits for the instrument.
    static constexpr int DefaultTimeoutMs = 2000;

    // session: the protocol's client, not opened yet; target: where it goes.
    MessageLink(std::unique_ptr<MessageSession> session, SessionTarget target, LinkEvents events,
                Handover& handover);
    // Closes the session the protocol's way and ends the worker.
    ~MessageLink() override;

    void BeginOpen(OpenDone done) override;
    void SetOpenTimeout(int ms) override;
    void SetLineEnds(const LineEnds& ends) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    // Queued for the worker; false only when the link is not open.
    bool SendLine(const std::string& text) override;
    bool WriteLine(const std::string& text) override { return SendLine(text); }
    bool SendBytes(const std::string& bytes) override { return SendMessage(bytes, bytes); }
    std::string SendFailure() const override { return open_ ? std::string() : "not connected"; }
    bool ReadReply() override;
    bool ReadsOnRequest() const override { return true; }
    bool IsGpib() const override { return false; }
    TIO* Tio() const override { return nullptr; }

private:
    using Job = std::function<void()>; //!< Runs on the worker.
    // Queues message for the worker; echo is what TxEcho tells once it went out.
    bool SendMessage(const std::string& echo, std::string message);
    void Queue(Job job);
    void Work();
    // On the UI thread, by hand-over: f, unless the link has gone meanwhile.
    void Tell(std::function<void(MessageLink&)> f);
    void Ended(const std::string& reason);
    void DeliverMessage(const std::string& message, const std::string& stamp);

    std::unique_ptr<MessageSession> session_;
    SessionTarget target_;
    LinkEvents events_;
    std::string txEnd_ = "\n";
    LineFramer framer_;                  //!< UI thread: cuts a received message into lines.
    bool open_ = false;                  //!< UI thread.
    bool ended_ = false;                 //!< UI thread: Disconnected was told.
    std::shared_ptr<MessageLink*> self_; //!< Hand-overs check it: the link may be gone by then.

    std::mutex lock_; //!< Protects jobs_ and stop_.
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stop_ = false;
    std::thread worker_;
};
