#include "HislipSession.h"

namespace ampsim {

std::shared_ptr<HislipSession> HislipSessions::Open() {
    std::erase_if(sessions_, [](const auto& entry) { return entry.second.expired(); });
    for (int tries = 0; tries < 65535; ++tries) {
        const std::uint16_t id = next_;
        next_ = next_ == 65535 ? 1 : next_ + 1; // 0 is left out: it reads as "no session"
        if (sessions_.contains(id)) continue;
        auto session = std::make_shared<HislipSession>(id, model_, delay_);
        sessions_[id] = session;
        return session;
    }
    return nullptr;
}

std::shared_ptr<HislipSession> HislipSessions::Find(std::uint16_t id) const {
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.lock();
}

} // namespace ampsim
