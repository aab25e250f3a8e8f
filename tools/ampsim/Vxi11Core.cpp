#include "Vxi11Core.h"

#include <algorithm>

#include "OncRpc.h"
#include "Xdr.h"

namespace ampsim {
namespace {

enum Procedure : std::uint32_t {
    kCreateLink = 10,
    kDeviceWrite = 11,
    kDeviceRead = 12,
    kDeviceReadStb = 13,
    kDeviceTrigger = 14,
    kDeviceClear = 15,
    kDeviceRemote = 16,
    kDeviceLocal = 17,
    kDeviceLock = 18,
    kDeviceUnlock = 19,
    kDeviceEnableSrq = 20,
    kDeviceDocmd = 22,
    kDestroyLink = 23,
    kCreateIntrChan = 25,
    kDestroyIntrChan = 26,
};

enum ErrorCode : std::uint32_t {
    kNoError = 0,
    kDeviceNotAccessible = 3,
    kInvalidLink = 4,
    kNotSupported = 8,
    kOutOfResources = 9,
    kNoLockHeld = 12,
    kIoTimeout = 15,
};

constexpr std::uint32_t kFlagEnd = 0x08;
constexpr std::uint32_t kFlagTermChar = 0x80;
constexpr std::uint32_t kReasonRequestCount = 1;
constexpr std::uint32_t kReasonTermChar = 2;
constexpr std::uint32_t kReasonEnd = 4;
constexpr std::size_t kMaxDeviceName = 256;

RpcOutcome Results(XdrWriter& out) {
    return {RpcOutcome::Kind::Results, std::move(out.Bytes()), {}};
}

RpcOutcome ErrorOnly(std::uint32_t error) {
    XdrWriter out;
    out.U32(error);
    return Results(out);
}

RpcOutcome Garbage() {
    return {RpcOutcome::Kind::GarbageArgs, {}, {}};
}

// "inst" and a decimal number, in any case, as VISA resource names write it.
bool IsDeviceName(std::string_view name) {
    if (name.size() < 5 || name.size() > 9) return false;
    for (std::size_t i = 0; i < 4; ++i)
        if ((name[i] | 0x20) != "inst"[i]) return false;
    return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

RpcOutcome Vxi11Core::Call(std::uint32_t procedure, std::string_view args, Clock::time_point arrived,
                           Clock::time_point now) {
    switch (procedure) {
    case kCreateLink:
        return CreateLink(args);
    case kDeviceWrite:
        return Write(args, now);
    case kDeviceRead:
        return Read(args, arrived, now);
    case kDeviceReadStb:
    case kDeviceTrigger:
    case kDeviceClear:
    case kDeviceRemote:
    case kDeviceLocal:
        return Generic(procedure, args, now);
    case kDeviceLock:
    case kDeviceUnlock:
        return Lock(procedure, args);
    case kDestroyLink:
        return DestroyLink(args);
    case kDeviceDocmd: {
        XdrWriter out;
        out.U32(kNotSupported).Opaque({});
        return Results(out);
    }
    case kDeviceEnableSrq:
    case kCreateIntrChan:
    case kDestroyIntrChan:
        return ErrorOnly(kNotSupported);
    default:
        return {RpcOutcome::Kind::ProcUnavail, {}, {}};
    }
}

RpcOutcome Vxi11Core::CreateLink(std::string_view args) {
    XdrReader in(args);
    in.I32(); // the client's id, for the lock manager a multi-client server would have
    const bool lock = in.Bool();
    in.U32(); // lock_timeout: a lock is never held by another link here
    const std::string_view name = in.Opaque(kMaxDeviceName);
    if (in.Failed()) return Garbage();
    XdrWriter out;
    if (!IsDeviceName(name)) {
        out.U32(kDeviceNotAccessible).U32(0).U32(0).U32(0);
        return Results(out);
    }
    const std::uint32_t id = nextLink_++;
    links_.emplace(id, Link{MessageDevice(model_, delay_), {}, lock});
    out.U32(kNoError).U32(id).U32(0).U32(kMaxRecvSize);
    return Results(out);
}

RpcOutcome Vxi11Core::Write(std::string_view args, Clock::time_point now) {
    XdrReader in(args);
    const std::uint32_t id = in.U32();
    in.U32(); // io_timeout: a write is always taken at once
    in.U32(); // lock_timeout
    const std::uint32_t flags = in.U32();
    const std::string_view data = in.Opaque(rpc::kMaxRecord);
    if (in.Failed()) return Garbage();
    XdrWriter out;
    Link* link = Find(id);
    if (!link) {
        out.U32(kInvalidLink).U32(0);
        return Results(out);
    }
    if (link->command.size() + data.size() > kMaxCommand) {
        link->command.clear();
        out.U32(kOutOfResources).U32(0);
        return Results(out);
    }
    link->command.append(data);
    if (flags & kFlagEnd) {
        link->device.Command(link->command, now);
        link->command.clear();
    }
    out.U32(kNoError).U32(static_cast<std::uint32_t>(data.size()));
    return Results(out);
}

RpcOutcome Vxi11Core::Read(std::string_view args, Clock::time_point arrived, Clock::time_point now) {
    XdrReader in(args);
    const std::uint32_t id = in.U32();
    const std::uint32_t requestSize = in.U32();
    const std::uint32_t ioTimeout = in.U32();
    in.U32(); // lock_timeout
    const std::uint32_t flags = in.U32();
    const std::uint32_t termChar = in.U32();
    if (in.Failed()) return Garbage();
    XdrWriter out;
    Link* link = Find(id);
    if (!link) {
        out.U32(kInvalidLink).U32(0).Opaque({});
        return Results(out);
    }
    if (!link->device.ReplyReady(now)) {
        const Clock::time_point deadline = arrived + std::chrono::milliseconds(ioTimeout);
        if (now >= deadline) {
            out.U32(kIoTimeout).U32(0).Opaque({});
            return Results(out);
        }
        std::optional<Clock::time_point> due = link->device.ReplyDue();
        return {RpcOutcome::Kind::Wait, {}, due ? std::min(*due, deadline) : deadline};
    }
    const std::size_t size = std::min(requestSize, kMaxReadPiece);
    const int stop = (flags & kFlagTermChar) ? static_cast<int>(termChar & 0xff) : MessageDevice::kNoStop;
    MessageDevice::Piece piece = link->device.Take(size, stop);
    const std::uint32_t reason = (piece.end ? kReasonEnd : 0) | (piece.stopped ? kReasonTermChar : 0) |
                                 (piece.bytes.size() == requestSize ? kReasonRequestCount : 0);
    out.U32(kNoError).U32(reason).Opaque(piece.bytes);
    return Results(out);
}

RpcOutcome Vxi11Core::Generic(std::uint32_t procedure, std::string_view args, Clock::time_point now) {
    XdrReader in(args);
    const std::uint32_t id = in.U32();
    in.U32(); // flags
    in.U32(); // lock_timeout
    in.U32(); // io_timeout
    if (in.Failed()) return Garbage();
    Link* link = Find(id);
    XdrWriter out;
    out.U32(link ? kNoError : kInvalidLink);
    if (procedure == kDeviceReadStb) {
        out.U32(link ? link->device.StatusByte(now) : 0);
        if (link) link->device.ClearServiceRequest();
    } else if (link && procedure == kDeviceClear) {
        link->device.Clear();
        link->command.clear();
    }
    return Results(out);
}

RpcOutcome Vxi11Core::Lock(std::uint32_t procedure, std::string_view args) {
    XdrReader in(args);
    const std::uint32_t id = in.U32();
    if (in.Failed()) return Garbage();
    Link* link = Find(id);
    if (!link) return ErrorOnly(kInvalidLink);
    if (procedure == kDeviceLock) {
        link->locked = true;
        return ErrorOnly(kNoError);
    }
    const bool held = link->locked;
    link->locked = false;
    return ErrorOnly(held ? kNoError : kNoLockHeld);
}

RpcOutcome Vxi11Core::DestroyLink(std::string_view args) {
    XdrReader in(args);
    const std::uint32_t id = in.U32();
    if (in.Failed()) return Garbage();
    return ErrorOnly(links_.erase(id) ? kNoError : kInvalidLink);
}

Vxi11Core::Link* Vxi11Core::Find(std::uint32_t id) {
    auto it = links_.find(id);
    return it == links_.end() ? nullptr : &it->second;
}

} // namespace ampsim
