#pragma once
// The portmapper (program 100000, version 2) as a VXI-11 client uses it: PMAPPROC_NULL, and
// PMAPPROC_GETPORT, which names the core channel's port for DEVICE_CORE version 1 over TCP and 0
// for anything else. The rest of its procedures (SET, UNSET, DUMP, CALLIT) are not offered: no
// other program registers here.
#include <cstdint>

#include "RpcProgram.h"

namespace ampsim {

class Portmapper : public RpcProgram {
public:
    static constexpr std::uint32_t kProgram = 100000;
    static constexpr std::uint32_t kVersion = 2;

    explicit Portmapper(std::uint16_t corePort) : corePort_(corePort) {}

    std::uint32_t Number() const override { return kProgram; }
    std::uint32_t Version() const override { return kVersion; }
    RpcOutcome Call(std::uint32_t procedure, std::string_view args, Clock::time_point arrived,
                    Clock::time_point now) override;

private:
    std::uint16_t corePort_;
};

} // namespace ampsim
