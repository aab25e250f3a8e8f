#include "finder/IdnAsker.h"

#include "connection/FdIo.h"
#include "connection/TcpChannel.h"
#include "connection/Vxi11Client.h"
#include "platform/Tick.h"

#include <algorithm>

namespace {
constexpr char Query[] = "*IDN?\n";
} // namespace

std::string IdnName(const std::string& answer) {
    std::string name = answer.substr(0, std::min(answer.find_first_of("\r\n"), IdnAsker::MaxName));
    const size_t first = name.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return name.substr(first, name.find_last_not_of(" \t") - first + 1);
}

void IdnAsker::Submit(Ask ask) {
    std::lock_guard guard(lock_);
    if (stopping_) return;
    asks_.push_back(std::move(ask));
    // A worker more while there is work for it: the workers wait for more until Stop.
    if (workers_.size() < MaxParallel) workers_.emplace_back([this] { Work(); });
    work_.notify_one();
}

void IdnAsker::Stop() {
    std::vector<std::thread> workers;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        asks_.clear();
        for (MessageSession* session : sessions_)
            session->Close();
        for (TcpChannel* channel : channels_)
            channel->Close();
        workers.swap(workers_);
    }
    work_.notify_all();
    idle_.notify_all();
    for (std::thread& worker : workers)
        worker.join();
    std::lock_guard guard(lock_);
    stopping_ = false;
}

void IdnAsker::Work() {
    for (;;) {
        Ask ask;
        {
            std::unique_lock guard(lock_);
            work_.wait(guard, [this] { return stopping_ || !asks_.empty(); });
            if (stopping_) return;
            ask = std::move(asks_.front());
            asks_.pop_front();
            ++running_;
        }
        Run(ask);
        std::lock_guard guard(lock_);
        --running_;
        idle_.notify_all();
    }
}

void IdnAsker::WaitIdle() {
    std::unique_lock guard(lock_);
    idle_.wait(guard, [this] { return asks_.empty() && running_ == 0; });
}

void IdnAsker::Run(const Ask& ask) {
    std::string answer;
    const bool got = ask.way == Way::Vxi11 ? AskVxi11(ask.host, answer) : AskRawSocket(ask.host, answer);
    const std::string name = got ? IdnName(answer) : std::string();
    if (!name.empty() && ask.answered) ask.answered(name);
}

bool IdnAsker::Enter(MessageSession* session, TcpChannel* channel) {
    std::lock_guard guard(lock_);
    if (stopping_) return false;
    if (session) sessions_.push_back(session);
    if (channel) channels_.push_back(channel);
    return true;
}

void IdnAsker::Leave(MessageSession* session, TcpChannel* channel) {
    std::lock_guard guard(lock_);
    std::erase(sessions_, session);
    std::erase(channels_, channel);
}

bool IdnAsker::AskVxi11(const std::string& host, std::string& answer) {
    Vxi11Client session;
    if (!Enter(&session, nullptr)) return false;
    const unsigned start = GetTickCount();
    SessionTarget target;
    target.host = host;
    target.timeoutMs = timeoutMs_;
    const bool got = session.Open(target) && session.Write(Query, RemainingMs(timeoutMs_, start)) &&
                     session.Read(answer, std::max(1, RemainingMs(timeoutMs_, start)));
    Leave(&session, nullptr);
    return got;
}

bool IdnAsker::AskRawSocket(const std::string& host, std::string& answer) {
    TcpChannel channel;
    if (!Enter(nullptr, &channel)) return false;
    const unsigned start = GetTickCount();
    std::string why;
    bool got = channel.Connect(host, RawScpiPort, timeoutMs_, why) &&
               channel.Send(Query, RemainingMs(timeoutMs_, start), why);
    while (got && answer.find('\n') == std::string::npos && answer.size() < MaxName)
        got = RemainingMs(timeoutMs_, start) > 0 &&
              channel.Receive(answer, RemainingMs(timeoutMs_, start), why) == TcpChannel::Got::Bytes;
    Leave(nullptr, &channel);
    channel.Close();
    // A line, or as much of one as a name keeps.
    return answer.find('\n') != std::string::npos || answer.size() >= MaxName;
}
