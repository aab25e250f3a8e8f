#pragma once
// Asks instruments found on the LAN what they are (*IDN?) on worker threads of its own, never more
// than MaxParallel at once, so that a few hundred answers to a broadcast neither start a few
// hundred connections nor wait for each other in a row. Each ask is bounded: every step (connect,
// each exchange) gets what is left of its TimeoutMs, so a host that answers slowly or not at all
// gives up on its own and holds one worker for about that long, never the others.
//
// Threads: Submit and Stop come from the owner's thread (a search's). The answer callbacks run on
// the workers; none runs once Stop has returned.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MessageSession;
class TcpChannel;

class IdnAsker {
public:
    static constexpr size_t MaxParallel = 4;
    static constexpr int TimeoutMs = 2000;
    static constexpr int RawScpiPort = 5025;
    // The longest name kept from an answer: an identification is a line of a few dozen bytes.
    static constexpr size_t MaxName = 256;

    enum class Way { Vxi11, RawSocket };
    struct Ask {
        std::string host;
        Way way = Way::Vxi11;
        // Called with the first line of the answer, its line end and trailing blanks cut; not
        // called when no answer came in time.
        std::function<void(const std::string& name)> answered;
    };

    explicit IdnAsker(int timeoutMs = TimeoutMs) : timeoutMs_(timeoutMs) {}
    ~IdnAsker() { Stop(); }
    IdnAsker(const IdnAsker&) = delete;
    IdnAsker& operator=(const IdnAsker&) = delete;

    void Submit(Ask ask);
    // Waits until every ask submitted has ended.
    void WaitIdle();
    // Drops the asks not begun, ends those under way (their connections are closed) and waits for
    // the workers. The asker can be used again afterwards.
    void Stop();

private:
    void Work();
    void Run(const Ask& ask);
    bool AskVxi11(const std::string& host, std::string& answer);
    bool AskRawSocket(const std::string& host, std::string& answer);
    // Registers a connection under way so that Stop can end it; false when stopping already.
    bool Enter(MessageSession* session, TcpChannel* channel);
    void Leave(MessageSession* session, TcpChannel* channel);

    const int timeoutMs_;
    std::mutex lock_; //!< Protects everything below.
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<Ask> asks_;
    std::vector<std::thread> workers_;
    std::vector<MessageSession*> sessions_; //!< The VXI-11 asks under way.
    std::vector<TcpChannel*> channels_;     //!< The raw socket asks under way.
    size_t running_ = 0;                    //!< Asks taken by a worker and not ended yet.
    bool stopping_ = false;
};

// The first line of an *IDN? answer, at most IdnAsker::MaxName bytes, without its line end and
// the blanks around it.
std::string IdnName(const std::string& answer);
