#include "Options.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace ampsim {
namespace {

constexpr std::string_view kDefaultHost = "127.0.0.1";
constexpr std::uint16_t kDefaultPort = 2500;

bool ParseUnsigned(std::string_view text, unsigned max, unsigned& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && value <= max;
}

// "HOST:PORT", ":PORT" or "HOST" (default port).
bool ParseEndpoint(std::string_view text, TcpEndpoint& endpoint) {
    std::size_t colon = text.rfind(':');
    std::string_view host = colon == std::string_view::npos ? text : text.substr(0, colon);
    endpoint.host = host.empty() ? std::string(kDefaultHost) : std::string(host);
    if (colon == std::string_view::npos) {
        endpoint.port = kDefaultPort;
        return true;
    }
    unsigned port = 0;
    if (!ParseUnsigned(text.substr(colon + 1), 65535, port)) return false;
    endpoint.port = static_cast<std::uint16_t>(port);
    return true;
}

// "PORT" on the default host, or "HOST:PORT".
bool ParseListen(std::string_view text, TcpEndpoint& endpoint) {
    if (text.find(':') != std::string_view::npos) return ParseEndpoint(text, endpoint);
    unsigned port = 0;
    if (!ParseUnsigned(text, 65535, port)) return false;
    endpoint = TcpEndpoint{std::string(kDefaultHost), static_cast<std::uint16_t>(port)};
    return true;
}

// Options that name a message-protocol endpoint.
std::optional<TcpEndpoint>* ListenTarget(Options& options, std::string_view name) {
    if (name == "--vxi11") return &options.vxi11;
    if (name == "--hislip") return &options.hislip;
    return nullptr;
}

// Options that take a number, and where the number goes.
unsigned* NumberTarget(Options& options, std::string_view name) {
    if (name == "--delay") return &options.delayMs;
    if (name == "--busy-every") return &options.busyEvery;
    if (name == "--close-after") return &options.closeAfter;
    if (name == "--amps") return &options.amps;
    if (name == "--first-amp") return &options.firstAmp;
    if (name == "--conv-late-ms") return &options.convLateMs;
    return nullptr;
}

// Options that name a conversion-table point index (0..19).
std::optional<unsigned>* PointTarget(Options& options, std::string_view name) {
    if (name == "--conv-silent-point") return &options.convSilentPoint;
    if (name == "--conv-malformed-point") return &options.convMalformedPoint;
    if (name == "--conv-double-point") return &options.convDoublePoint;
    if (name == "--conv-late-point") return &options.convLatePoint;
    return nullptr;
}

bool TakesValue(Options& options, std::string_view name) {
    return name == "--tcp" || name == "--serial" || name == "--discovery" || name == "--portmapper-udp" ||
           name == "--eol" || name == "--prompt" || PointTarget(options, name) || ListenTarget(options, name);
}

bool ApplyValue(Options& options, std::string_view name, std::string_view value, std::string& error) {
    if (unsigned* target = NumberTarget(options, name)) {
        if (ParseUnsigned(value, 1000000000u, *target)) return true;
        error = std::string(name) + ": not a number: '" + std::string(value) + "'";
        return false;
    }
    if (std::optional<unsigned>* target = PointTarget(options, name)) {
        unsigned index = 0;
        if (ParseUnsigned(value, 19, index)) {
            *target = index;
            return true;
        }
        error = std::string(name) + ": not a point index 0..19: '" + std::string(value) + "'";
        return false;
    }
    if (std::optional<TcpEndpoint>* target = ListenTarget(options, name)) {
        TcpEndpoint endpoint;
        if (ParseListen(value, endpoint)) {
            *target = endpoint;
            return true;
        }
        error = std::string(name) + ": expected PORT or HOST:PORT, got '" + std::string(value) + "'";
        return false;
    }
    if (name == "--serial") {
        options.serial = std::string(value);
        return true;
    }
    if (name == "--discovery") {
        options.discovery = std::string(value);
        return true;
    }
    if (name == "--portmapper-udp") {
        options.portmapperUdp = std::string(value);
        return true;
    }
    if (name == "--eol") {
        if (value == "crlf" || value == "cr" || value == "lf") {
            options.eol = value == "crlf" ? "\r\n" : value == "cr" ? "\r" : "\n";
            return true;
        }
        error = "--eol: expected crlf, cr or lf, got '" + std::string(value) + "'";
        return false;
    }
    if (name == "--prompt") {
        options.prompt = std::string(value);
        return true;
    }
    TcpEndpoint endpoint;
    if (ParseEndpoint(value, endpoint)) {
        options.tcp.push_back(endpoint);
        return true;
    }
    error = "--tcp: expected HOST:PORT, got '" + std::string(value) + "'";
    return false;
}

bool ApplyFlag(Options& options, std::string_view name) {
    if (name == "--pty")
        options.pty = true;
    else if (name == "--broadcast-reply")
        options.broadcastReply = true;
    else if (name == "--garbled-getport")
        options.garbledGetport = true;
    else if (name == "--meter")
        options.meter = true;
    else if (name == "--exit-on-stdin-eof")
        options.exitOnStdinEof = true;
    else if (name == "--help" || name == "-h")
        options.help = true;
    else if (name == "--version")
        options.version = true;
    else
        return false;
    return true;
}

// The amplifier's own options, which the power meter has nothing to serve with; empty when none
// of them comes with --meter.
std::string MeterConflict(const Options& options) {
    if (!options.meter) return {};
    auto refused = [](std::string_view name, std::string_view why) {
        return "--meter: " + std::string(name) + " is the amplifier's (" + std::string(why) + ")";
    };
    if (!options.discovery.empty()) return refused("--discovery", "the finder looks for amplifiers");
    const std::pair<const std::optional<unsigned>*, std::string_view> points[] = {
        {&options.convSilentPoint, "--conv-silent-point"},
        {&options.convMalformedPoint, "--conv-malformed-point"},
        {&options.convDoublePoint, "--conv-double-point"},
        {&options.convLatePoint, "--conv-late-point"},
    };
    for (const auto& [point, name] : points)
        if (point->has_value()) return refused(name, "the power meter has no conversion tables");
    return {};
}

} // namespace

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool inlineValue = false;
        if (std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (!inlineValue && ApplyFlag(options, arg)) continue;
        if (!NumberTarget(options, arg) && !TakesValue(options, arg)) {
            error = "unknown option '" + std::string(argv[i]) + "' (see --help)";
            return std::nullopt;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                error = std::string(arg) + ": missing value";
                return std::nullopt;
            }
            value = argv[++i];
        }
        if (!ApplyValue(options, arg, value, error)) return std::nullopt;
    }
    if (options.amps < 1 || options.amps > 1000) {
        error = "--amps: expected 1 to 1000, got " + std::to_string(options.amps);
        return std::nullopt;
    }
    if (options.firstAmp < 1 || options.firstAmp > 1000000) {
        error = "--first-amp: expected 1 to 1000000, got " + std::to_string(options.firstAmp);
        return std::nullopt;
    }
    if (!options.portmapperUdp.empty() && !options.vxi11) {
        error = "--portmapper-udp: names the VXI-11 core channel's port, so it needs --vxi11";
        return std::nullopt;
    }
    if (std::string conflict = MeterConflict(options); !conflict.empty()) {
        error = std::move(conflict);
        return std::nullopt;
    }
    if (options.tcp.empty() && !options.pty && !options.vxi11 && !options.hislip)
        options.tcp.push_back({std::string(kDefaultHost), kDefaultPort});
    return options;
}

std::string HelpText() {
    return R"(Usage: ampsim [options]
A simulated Veltrask power amplifier that answers the line protocol: commands end in LF
(a CR before it is ignored), every reply line ends in CR LF.

Endpoints (any may be given together; without any, --tcp 127.0.0.1:2500):
  --tcp HOST:PORT        listen on TCP (IPv4); port 0 picks a free port. May be repeated.
  --pty                  serve a pseudo-terminal in raw mode; clients open its slave path.
                         Once ampsim sees no client holding it open, the conversation ends:
                         pending commands and replies are dropped (a line already begun is
                         finished); what the terminal already holds stays for the next client.
  --vxi11 [HOST:]PORT    serve VXI-11 (ONC RPC over TCP; host 127.0.0.1 unless given): the
                         portmapper on PORT (0 picks a free port; 111 is the standard one),
                         which names the core channel's port for DEVICE_CORE (0x0607AF)
                         version 1. Devices inst0, inst1, ... are all this amplifier, each
                         link with its own reply queue. A command ends with the write that
                         carries END; its reply is one message, every line ending in LF, read
                         in pieces of the request size, the last with END. A read with
                         nothing queued fails with I/O timeout (15) after its io_timeout.
                         device_readstb: bit 4 (MAV) while a reply waits, bit 6 (RQS) after
                         *OPC, cleared by the read. device_clear drops the queued replies.
                         No abort or interrupt channel.
  --hislip [HOST:]PORT   serve HiSLIP (IVI-6.1, synchronized mode) on PORT, both channels;
                         sub-addresses hislip0, hislip1, ... (or none). A DataEnd's command is
                         answered as Data/DataEnd with its message id; device clear,
                         AsyncStatusQuery, locks and the maximum message size (1 MiB) are
                         served; *OPC sends AsyncServiceRequest. Malformed input is answered
                         with Error or FatalError (then the connection closes).
When every endpoint is up, ampsim prints one line per endpoint and then "ready":
  tcp 127.0.0.1:<port>
  pty /dev/pts/<n>
  vxi11 127.0.0.1:<portmapper port>
  vxi11-core 127.0.0.1:<core channel port>
  hislip 127.0.0.1:<port>
  ready

Behaviour:
  --delay MS             send each reply MS milliseconds after its command arrived
                         (other clients are served meanwhile; on VXI-11 and HiSLIP too).
  --busy-every N         refuse every Nth command (counted over all connections) with ERROR_AMP_BUSY.
  --close-after N        after the reply to the Nth command on a line connection, send "PARTI" with
                         no line end and close that connection. The pty cannot be closed: there
                         the partial line is sent and the command count starts again.
  --serial TEXT          serial number in the *IDN? reply (default AS000001).
  --eol crlf|cr|lf       what ends each reply line (default crlf). With cr, commands end
                         at CR too, else at LF.
  --prompt TEXT          after each reply send TEXT with no line end, as a prompt (e.g. "PROMPT> ").
  --discovery ADDRESS    also answer the amplifier finder's discovery hello ("0 1 A" on UDP
                         port 8001) that arrives on the interface holding ADDRESS, with one
                         reply datagram per simulated amplifier, sent back to the hello's sender:
                           0050C2<nnnnnn> 1 <ip> 255.255.255.0 1.0.<n> AmpSim-<nnnn>
                         where amplifier n has the IP ADDRESS + n - 1. Announced as
                         "udp ADDRESS:8001". Try it only inside a private network namespace.
  --broadcast-reply      send the discovery replies to 255.255.255.255 port 8001, out of the
                         interface the hello came in on, as amplifiers do that answer by
                         broadcast, rather than back to the hello's sender.
  --portmapper-udp ADDRESS
                         also answer the portmapper's GETPORT over UDP port 111 (needs --vxi11),
                         as LXI instruments answer the broadcast by which VXI-11 clients find
                         them: a call for DEVICE_CORE version 1 over TCP is answered with the
                         core channel's port, from ADDRESS and, with --amps N, from each of the
                         N addresses ADDRESS + n - 1 (which must be this host's); a call sent
                         to one of them is answered by that one only. Announced as
                         "portmap-udp ADDRESS:111". Try it only inside a private network namespace.
  --garbled-getport      answer those calls with a reply cut short, as a broken instrument might.
  --amps N               how many simulated amplifiers answer (1 to 1000, default 1).
  --first-amp N          the number of the first one (default 1), so that several ampsim
                         processes can play different amplifiers.
  --conv-silent-point N  conversion-table requests (up and down, every board and table) for point
                         index N (0..19) are lost: the point is not stored and no reply comes.
  --conv-malformed-point N
                         conversion-table requests for point index N are carried out, but
                         answered "CONV tt ii GARBLED" instead of OK or the point.
  --conv-double-point N  the download reply for point index N is sent twice, 50 ms apart; the
                         next command waits for the second.
  --conv-late-point N    the download reply for point index N comes --conv-late-ms late.
  --conv-late-ms MS      how late (default 1050, just past the console's 1000 ms per point).
  --meter                answer as a simulated RF power meter (Veltrask PowerSim, commands below)
                         instead of the amplifier, on the same endpoints.
  --exit-on-stdin-eof    exit when standard input reaches end of file (a parent's pipe closing).
  -h, --help             this text.
  --version              the version, as "ampsim 0.9.0".
ampsim exits cleanly on SIGTERM and SIGINT.

Commands (case-sensitive):
  STATUS?                    STATUS OK FWD=45.2dBm REFL=12.1dBm TEMP=38C (forward power varies a little)
  *IDN?                      Veltrask,AmpSim,<serial>,1.0
  SVC CONV UP tt ii xxxx yyyy T?
                             store point ii (hex, 00..13) of table tt (hex, 00..ff): x, y as 1-4 hex
                             digits, sign tag S or U. Replies OK.
  SVC CONV DN tt ii?         CONV tt ii xxxx yyyy T (unset points: 0000 0000 U)
  SVC QB <address> SVC CONV ...
                             the same on the board at <address>; each board has its own tables.
  DIAG CHAN_<n><l><k>?       DIAG CHAN_<n><l><k> = <value> (n: 1-2 digits, l: a letter, k: a digit)
  ECHO <text>                <text>
  MULTI? <n>                 n lines MULTI 1/n .. MULTI n/n
  FLOOD <n>                  n lines FLOOD 1 .. FLOOD n, as fast as the peer reads them
  NOREPLY                    no reply at all
  *OPC                       (VXI-11 and HiSLIP only) no reply; requests service (status byte bit 6)
  DROP                       sends PARTIAL with no line end, then closes the connection
                             (on the pty: only the partial line)
Errors: ERROR_UNKNOWN_COMMAND, ERROR_BAD_ARGUMENT (malformed arguments, n outside 1..1000000000),
ERROR_LINE_TOO_LONG (a line over 64 KiB; its bytes are discarded up to the next LF).
Empty lines are ignored.

Power meter commands (--meter; setting commands answer nothing):
  *IDN?                      Veltrask,PowerSim,<serial>,1.0
  MEAS:POW? or POW?          the reading in the current unit: dBm with two decimals (around 45.00,
                             wandering as the amplifier's forward power does), or W to three digits
  UNIT DBM|W, UNIT?          the unit of the reading (default DBM)
  FREQ <Hz>, FREQ?           the frequency correction, 1e6 to 110e9 (default 1e9); the reading drops
                             0.1 dB per GHz above 1 GHz
  OFFS <dB>, OFFS?           a coupler offset added to the reading, -100 to 100 (default 0)
  *RST                       back to DBM, 1 GHz, offset 0
  ZERO                       ZERO OK
Errors as the amplifier's; --busy-every refuses commands with ERROR_AMP_BUSY here too.
)";
}

} // namespace ampsim
