#include "connection/OncRpc.h"

#include <array>

namespace oncrpc {

namespace {
constexpr uint32_t Call = 0;
constexpr uint32_t Reply = 1;
constexpr uint32_t RpcVersion = 2;
constexpr uint32_t MsgAccepted = 0;
constexpr uint32_t MsgDenied = 1;
constexpr uint32_t AuthNone = 0;
constexpr uint32_t LastFragment = 0x80000000u;
constexpr size_t MaxAuthBody = 400; // RFC 5531: opaque body<400>

size_t Padded(size_t size) {
    return (size + 3) & ~size_t{3};
}

uint32_t BigEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

std::string Numbered(const char* const* names, size_t count, uint32_t value) {
    return value < count ? std::string(names[value]) + " (" + std::to_string(value) + ")"
                         : "code " + std::to_string(value);
}

std::string AcceptStatText(uint32_t stat) {
    static const std::array<const char*, 6> names{"SUCCESS",      "PROG_UNAVAIL", "PROG_MISMATCH",
                                                  "PROC_UNAVAIL", "GARBAGE_ARGS", "SYSTEM_ERR"};
    return Numbered(names.data(), names.size(), stat);
}

std::string AuthStatText(uint32_t stat) {
    static const std::array<const char*, 8> names{
        "AUTH_OK",           "AUTH_BADCRED", "AUTH_REJECTEDCRED", "AUTH_BADVERF",
        "AUTH_REJECTEDVERF", "AUTH_TOOWEAK", "AUTH_INVALIDRESP",  "AUTH_FAILED"};
    return Numbered(names.data(), names.size(), stat);
}

// "low..high" of a version mismatch.
std::string VersionRange(XdrReader& in) {
    uint32_t low = 0, high = 0;
    if (!in.GetUint32(low) || !in.GetUint32(high)) return "?";
    return std::to_string(low) + ".." + std::to_string(high);
}

bool ReadAccepted(XdrReader& in, ReplyCheck& check) {
    uint32_t flavor = 0, stat = 0;
    std::string verifier;
    if (!in.GetUint32(flavor) || !in.GetOpaque(verifier, MaxAuthBody) || !in.GetUint32(stat)) return false;
    if (stat == 0) {
        check.results = in.Rest();
        return true;
    }
    std::string reason = "the call was not carried out: " + AcceptStatText(stat);
    if (stat == 2) reason += ", versions offered " + VersionRange(in);
    return in.Fail(reason);
}

bool ReadDenied(XdrReader& in) {
    uint32_t stat = 0;
    if (!in.GetUint32(stat)) return false;
    if (stat == 0) return in.Fail("the call was rejected: RPC_MISMATCH, versions " + VersionRange(in));
    if (stat != 1)
        return in.Fail("the call was rejected with an unknown reject_stat " + std::to_string(stat));
    uint32_t auth = 0;
    if (!in.GetUint32(auth)) return false;
    return in.Fail("the call was rejected: AUTH_ERROR, " + AuthStatText(auth));
}
} // namespace

void XdrWriter::PutUint32(uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    bytes_.append(bytes, 4);
}

void XdrWriter::PutOpaque(std::string_view bytes) {
    PutUint32(static_cast<uint32_t>(bytes.size()));
    bytes_.append(bytes);
    bytes_.append(Padded(bytes.size()) - bytes.size(), '\0');
}

bool XdrReader::Fail(const std::string& reason) {
    if (failure_.empty()) failure_ = reason;
    return false;
}

bool XdrReader::Take(size_t count, const char*& data) {
    if (Failed()) return false;
    if (count > Remaining())
        return Fail("the message is cut short: " + std::to_string(count) + " bytes wanted at offset " +
                    std::to_string(at_) + ", " + std::to_string(Remaining()) + " left");
    data = bytes_.data() + at_;
    at_ += count;
    return true;
}

bool XdrReader::GetUint32(uint32_t& value) {
    const char* data = nullptr;
    if (!Take(4, data)) return false;
    value = BigEndian32(data);
    return true;
}

bool XdrReader::GetInt32(int32_t& value) {
    uint32_t raw = 0;
    if (!GetUint32(raw)) return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool XdrReader::GetOpaque(std::string& bytes, size_t maxSize) {
    uint32_t length = 0;
    if (!GetUint32(length)) return false;
    if (length > maxSize)
        return Fail("an opaque item of " + std::to_string(length) + " bytes exceeds its limit of " +
                    std::to_string(maxSize));
    // Compared before padding is added, so a length near 2^32 cannot wrap.
    if (length > Remaining() || Padded(length) > Remaining())
        return Fail("an opaque item of " + std::to_string(length) + " bytes with its padding runs past the " +
                    std::to_string(Remaining()) + " bytes left of the message");
    const char* data = nullptr;
    Take(Padded(length), data);
    bytes.assign(data, length);
    return true;
}

bool XdrReader::Skip(size_t count) {
    const char* data = nullptr;
    return Take(count, data);
}

std::string EncodeCall(const RpcCall& call, std::string_view arguments) {
    XdrWriter out;
    out.PutUint32(call.xid);
    out.PutUint32(Call);
    out.PutUint32(RpcVersion);
    out.PutUint32(call.program);
    out.PutUint32(call.version);
    out.PutUint32(call.procedure);
    for (int i = 0; i < 2; ++i) { // credentials, then verifier
        out.PutUint32(AuthNone);
        out.PutOpaque({});
    }
    std::string message = out.Bytes();
    message.append(arguments);
    return message;
}

bool DecodeReply(std::string_view message, uint32_t xid, ReplyCheck& check) {
    XdrReader in(message);
    uint32_t gotXid = 0, type = 0, stat = 0;
    check = {};
    bool ok = in.GetUint32(gotXid) && in.GetUint32(type);
    if (ok && type != Reply) ok = in.Fail("the message is no reply (msg_type " + std::to_string(type) + ")");
    if (ok && gotXid != xid) {
        check.otherXid = true;
        ok = in.Fail("a reply to another call (xid " + std::to_string(gotXid) + ")");
    }
    if (ok) ok = in.GetUint32(stat);
    if (ok && stat == MsgAccepted)
        ok = ReadAccepted(in, check);
    else if (ok && stat == MsgDenied)
        ok = ReadDenied(in);
    else if (ok)
        ok = in.Fail("the reply has an unknown reply_stat " + std::to_string(stat));
    if (!ok) check.failure = "RPC reply: " + in.Failure();
    return ok;
}

std::string FrameRecord(std::string_view message) {
    XdrWriter header;
    header.PutUint32(LastFragment | static_cast<uint32_t>(message.size()));
    std::string framed = header.Bytes();
    framed.append(message);
    return framed;
}

RecordReader::Status RecordReader::Next(std::string& record) {
    if (!failure_.empty()) return Status::Malformed;
    while (pending_.size() - read_ >= 4) {
        const uint32_t header = BigEndian32(pending_.data() + read_);
        const size_t length = header & ~LastFragment;
        if (length > maxRecord_ - record_.size()) {
            failure_ = "a record of more than " + std::to_string(maxRecord_) + " bytes (fragment of " +
                       std::to_string(length) + " bytes)";
            return Status::Malformed;
        }
        if (pending_.size() - read_ - 4 < length) return Status::NeedMore;
        record_.append(pending_, read_ + 4, length);
        read_ += 4 + length;
        if (header & LastFragment) {
            record = std::move(record_);
            record_.clear();
            return Status::Record;
        }
    }
    return Status::NeedMore;
}

void RecordReader::Append(std::string_view bytes) {
    // What was read goes when more comes, not with each fragment.
    pending_.erase(0, read_);
    read_ = 0;
    pending_.append(bytes);
}

} // namespace oncrpc
