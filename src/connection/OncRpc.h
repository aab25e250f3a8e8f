#pragma once
// ONC RPC over TCP, as far as a VXI-11 client needs it: the XDR types of its messages (32-bit
// integers, opaque<> and string with their padding to four bytes), the call and reply headers with
// the null authentication, and the record marking that frames each message on the stream.
//
// Why our own codec and not libtirpc: the Windows build needs the same client and has no ONC RPC
// library, libtirpc's generated stubs block in its own socket code (our waits must also watch a
// WakeEvent so Close can release them), and VXI-11 uses a handful of calls with a few fixed
// structures, which take less code to write out than to bind.
//
// Readers never read past their input and never allocate more than it holds: a truncated or
// malformed message is a failure with its reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace oncrpc {

// Writes XDR items, big endian, each padded to a multiple of four bytes.
class XdrWriter {
public:
    void PutUint32(uint32_t value);
    void PutInt32(int32_t value) { PutUint32(static_cast<uint32_t>(value)); }
    void PutBool(bool value) { PutUint32(value ? 1 : 0); }
    // Length, bytes, zero padding.
    void PutOpaque(std::string_view bytes);
    void PutString(std::string_view text) { PutOpaque(text); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Reads XDR items from a byte view it does not own. The first failure sticks: later reads fail
// too and Failure() keeps the first reason.
class XdrReader {
public:
    explicit XdrReader(std::string_view bytes) : bytes_(bytes) {}

    bool GetUint32(uint32_t& value);
    bool GetInt32(int32_t& value);
    // An opaque<> or string of at most maxSize bytes (the declared bound, or what the caller
    // accepts); its padding is skipped. A length beyond the input is a failure, never a read.
    bool GetOpaque(std::string& bytes, size_t maxSize = SIZE_MAX);
    // Skips an item the caller does not use: count bytes (a multiple of four).
    bool Skip(size_t count);

    size_t Remaining() const { return bytes_.size() - at_; }
    std::string_view Rest() const { return bytes_.substr(at_); }
    bool Failed() const { return !failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    // Sets the failure (the first one stays) and returns false.
    bool Fail(const std::string& reason);

private:
    bool Take(size_t count, const char*& data);

    std::string_view bytes_;
    size_t at_ = 0;
    std::string failure_;
};

// The RPC header of a call (RFC 5531), with the null authentication for credentials and verifier.
struct RpcCall {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};
// The call message: its header followed by the procedure's arguments, already XDR-encoded.
std::string EncodeCall(const RpcCall& call, std::string_view arguments);

// Reads an RPC reply to the call with xid. True for an accepted reply with SUCCESS: results is then
// the procedure's results (a view into message). False otherwise, with failure saying why: a
// rejection (RPC version or authentication), an accept_stat other than SUCCESS (PROG_UNAVAIL,
// PROG_MISMATCH with the versions offered, PROC_UNAVAIL, ...), a message that is no reply or is
// cut short. A reply to another xid sets otherXid and returns false: the caller may skip it.
struct ReplyCheck {
    std::string_view results;
    std::string failure;
    bool otherXid = false;
};
bool DecodeReply(std::string_view message, uint32_t xid, ReplyCheck& check);

// Record marking on a stream: each fragment is a 4-byte header (bit 31: the last fragment of the
// record; bits 0..30: its length) and its bytes. A message is sent as one last fragment.
std::string FrameRecord(std::string_view message);

// Cuts records out of the bytes a stream delivers, in whatever pieces they come. A record longer
// than the reader's limit is malformed as soon as a fragment header says so: nothing is allocated
// for it. Bytes after a record stay for the next one.
class RecordReader {
public:
    static constexpr size_t DefaultMaxRecord = 4u << 20;
    enum class Status { Record, NeedMore, Malformed };

    explicit RecordReader(size_t maxRecord = DefaultMaxRecord) : maxRecord_(maxRecord) {}

    void Append(std::string_view bytes);
    // Record: record holds the next whole record. NeedMore: append more bytes. Malformed: Failure()
    // says why; the stream cannot be read further.
    Status Next(std::string& record);
    const std::string& Failure() const { return failure_; }
    // Whether part of a record has come (what a stream that ends now leaves cut).
    bool MidRecord() const { return pending_.size() > read_ || !record_.empty(); }

private:
    size_t maxRecord_;
    std::string pending_; //!< Bytes that came; those before read_ are cut into fragments already.
    size_t read_ = 0;
    std::string record_; //!< The fragments of the record under way.
    std::string failure_;
};

} // namespace oncrpc
