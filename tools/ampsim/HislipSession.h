#pragma once
// A HiSLIP session: the pair of connections (synchronous and asynchronous) that one client opened,
// tied by the session id that the synchronous channel's InitializeResponse handed out, and the
// device state they share. HislipSessions hands out the ids and finds a session for its
// asynchronous channel. Single-threaded, like the server's loop.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include "Instrument.h"
#include "MessageDevice.h"

namespace ampsim {

class HislipChannel;

struct HislipSession {
    HislipSession(std::uint16_t sessionId, Instrument& model, std::chrono::milliseconds delay)
        : id(sessionId), device(model, delay) {}

    std::uint16_t id;
    MessageDevice device;
    // The channels, while they exist; each clears its own on destruction.
    HislipChannel* sync = nullptr;
    HislipChannel* async = nullptr;
    bool ended = false; // one channel has gone: the other closes too
    bool locked = false;
    std::uint64_t clientMaxMessage = UINT64_MAX; // the largest message the client takes
};

class HislipSessions {
public:
    // model must outlive the sessions; replies are due delay after their command.
    HislipSessions(Instrument& model, std::chrono::milliseconds delay) : model_(model), delay_(delay) {}

    // A new session with an id no live session has; none when all 65535 are taken.
    std::shared_ptr<HislipSession> Open();
    // The live session with that id; none when there is none.
    std::shared_ptr<HislipSession> Find(std::uint16_t id) const;

private:
    Instrument& model_;
    std::chrono::milliseconds delay_;
    std::map<std::uint16_t, std::weak_ptr<HislipSession>> sessions_;
    std::uint16_t next_ = 1;
};

} // namespace ampsim
