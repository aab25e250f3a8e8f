#pragma once
// ONC RPC version 2 over TCP, the server's side: record marking (a record is one or more
// fragments, each behind a 4-byte header whose top bit marks the last), call headers, and the
// replies a server sends. Authentication is not checked: every flavour is accepted and answered
// with AUTH_NONE, as a lab instrument does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ampsim::rpc {

inline constexpr std::uint32_t kRpcVersion = 2;
// The largest record taken; a longer one ends the connection, since its end cannot be found
// without reading it all.
inline constexpr std::size_t kMaxRecord = (std::size_t{1} << 20) + 4096;

enum class AcceptStat : std::uint32_t {
    Success = 0,
    ProgUnavail = 1,
    ProgMismatch = 2,
    ProcUnavail = 3,
    GarbageArgs = 4,
    SystemErr = 5,
};

struct CallHeader {
    std::uint32_t xid = 0;
    std::uint32_t rpcVersion = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
};

// Parses a call message; args gets what follows its header. False when the record is no
// well-formed call (it is then dropped unanswered).
bool ParseCall(std::string_view record, CallHeader& header, std::string_view& args);

// An accepted reply: results follow SUCCESS; for PROG_MISMATCH they are the lowest and highest
// version served.
std::string AcceptedReply(std::uint32_t xid, AcceptStat stat, std::string_view results = {});
// A denied reply for a call of another RPC version.
std::string RpcMismatchReply(std::uint32_t xid);
// The record as one last fragment.
std::string Frame(std::string_view record);

// Cuts whole records out of the bytes of a connection, joining their fragments.
class RecordReader {
public:
    enum class Status { Record, Partial, TooLong };
    // Consumes the fragments at the front of input; Record when record holds a whole one.
    Status Next(std::string& input, std::string& record);

private:
    std::string assembling_;
};

} // namespace ampsim::rpc
