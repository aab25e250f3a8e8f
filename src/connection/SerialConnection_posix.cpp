#include "connection/SerialConnection.h"

#include "CorvaneConfig.h"
#include "connection/ConnectionString.h"
#include "connection/FdIo.h"
#include "connection/SerialMode.h"
#include "connection/TraceIo.h"
#include "platform/System.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
struct BaudRate {
    uint32_t rate;
    speed_t code;
};

constexpr BaudRate baudRates[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},   {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},
#if CORVANE_HAVE_B921600
    {921600, B921600},
#endif
};

// Refuses further opens of the terminal, where the system offers that.
#if CORVANE_HAVE_TIOCEXCL
void ClaimExclusive(int fd) {
    ::ioctl(fd, TIOCEXCL);
}
#else
void ClaimExclusive(int) {}
#endif

bool BaudCode(uint32_t rate, speed_t& code) {
    for (const auto& b : baudRates) {
        if (b.rate == rate) {
            code = b.code;
            return true;
        }
    }
    return false;
}

tcflag_t DataBitsFlag(int bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

void ApplyParity(char parity, termios& t) {
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    t.c_iflag &= ~INPCK;
    if (parity == 'n') return;
    t.c_cflag |= PARENB;
    t.c_iflag |= INPCK;
    if (parity == 'o' || parity == 'm') t.c_cflag |= PARODD;
    if (parity == 'm' || parity == 's') t.c_cflag |= CMSPAR;
}

// The termios part of a mode. False for settings this platform's serial driver cannot express.
bool ApplyModeToTermios(const SerialMode& mode, termios& t) {
    if (mode.Baud) {
        speed_t code;
        if (!BaudCode(*mode.Baud, code)) return false;
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    if (mode.Parity) ApplyParity(*mode.Parity, t);
    if (mode.DataBits) t.c_cflag = (t.c_cflag & ~CSIZE) | DataBitsFlag(*mode.DataBits);
    if (mode.StopBitsTimes2) {
        // 1.5 stop bits exist only with 5 data bits, where the two-stop-bit flag means 1.5.
        int stop = *mode.StopBitsTimes2;
        bool five = (t.c_cflag & CSIZE) == CS5;
        if ((stop == 3 && !five) || (stop == 4 && five)) return false;
        t.c_cflag = stop == 2 ? t.c_cflag & ~CSTOPB : t.c_cflag | CSTOPB;
    }
    if (mode.XonXoff) {
        t.c_iflag = *mode.XonXoff ? t.c_iflag | IXON | IXOFF : t.c_iflag & ~(IXON | IXOFF);
    }
    bool rtsHandshake = mode.Rts == ModemLine::Handshake || mode.OutCts == true;
    if (mode.Rts || mode.OutCts) t.c_cflag = rtsHandshake ? t.c_cflag | CRTSCTS : t.c_cflag & ~CRTSCTS;
    // DSR flow control, DTR handshake and RTS toggling have no termios equivalent.
    if (mode.OutDsr == true || mode.InDsr == true) return false;
    if (mode.Dtr == ModemLine::Handshake || mode.Rts == ModemLine::Toggle) return false;
    return true;
}

bool SameLineSettings(const termios& a, const termios& b) {
    const tcflag_t mask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
    return cfgetospeed(&a) == cfgetospeed(&b) && (a.c_cflag & mask) == (b.c_cflag & mask) &&
           (a.c_iflag & (IXON | IXOFF)) == (b.c_iflag & (IXON | IXOFF));
}

bool SetModemLine(int fd, int bit, std::optional<ModemLine> state) {
    if (!state || (state != ModemLine::On && state != ModemLine::Off)) return true;
    return ::ioctl(fd, state == ModemLine::On ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

// Raw mode with reads that return as soon as one byte is there: whatever the port held before
// (a terminal's cooked defaults, another program's settings), no byte is swallowed, mapped,
// echoed or held back for a line end, and no flow control is on; an instrument's XOFF (0x13)
// would otherwise stall our output and its XON and XOFF bytes would vanish. Speed, size, parity
// and stop bits are left to the mode string.
bool SetRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    t.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | TOSTOP);
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}
} // namespace

struct TSerialConnection::Device {
    GuardedFd port;
    WakeEvent stop; //!< Signalled by Close to release a blocked Read or Write.
};

TSerialConnection::TSerialConnection() : device_(std::make_unique<Device>()) {
    TSerialConnection::Init();
}
TSerialConnection::~TSerialConnection() {
    TSerialConnection::Deinit();
}

bool TSerialConnection::IsOpen() const {
    return device_->port.IsOpen();
}

std::vector<int> TSerialConnection::WaitDescriptors() const {
    if (!device_->port.IsOpen()) return {};
    return {device_->port.Fd()};
}

std::string TSerialConnection::DevicePath(const std::string& portName) {
    // A name is a device under /dev ("ttyUSB0", "pts/3"); only a leading '/' makes it a path, so
    // nothing depends on the working folder.
    return !portName.empty() && portName[0] == '/' ? portName : "/dev/" + portName;
}

bool TSerialConnection::Open(const std::string& params) {
    if (device_->port.IsOpen()) return false;
    std::string name, mode;
    SplitSerialParams(params, name, mode);
    const std::string path = DevicePath(name);
    device_->stop.Reset(); // a Close from before this open (of an earlier connection) is over
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetReason(path + ": " + GetSystemErrorText(errno));
        return false;
    }
    // Exclusive like a Windows COM port: a second open, from this or another program, fails.
    if (!::isatty(fd)) {
        SetReason(path + " is not a serial port");
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetReason(path + " is in use by another program");
        ::close(fd);
        return false;
    }
    ClaimExclusive(fd);
    device_->port.Attach(fd);
    // A Close that came while this was opening found nothing to close: the open is given up.
    if (device_->stop.IsSignalled()) {
        SetReason("cancelled");
        Close();
        return false;
    }
    // Raw first: the mode string then turns on what it asks for, flow control included.
    if (!SetRaw(device_->port.Fd())) {
        SetReason(path + ": " + GetSystemErrorText(errno));
        Close();
        return false;
    }
    Configure(mode);
    return true;
}

bool TSerialConnection::Configure(const std::string& mode) {
    if (!device_->port.IsOpen() || mode.empty()) return true;
    SerialMode parsed;
    if (!ParseSerialMode(mode, parsed)) return false;
    int fd = device_->port.Fd();
    termios before{};
    if (::tcgetattr(fd, &before) != 0) return false;
    termios wanted = before;
    if (!ApplyModeToTermios(parsed, wanted)) return false;
    termios applied{};
    // tcsetattr succeeds when any part was taken, so read back what the driver really holds.
    bool ok = ::tcsetattr(fd, TCSANOW, &wanted) == 0 && ::tcgetattr(fd, &applied) == 0 &&
              SameLineSettings(applied, wanted) && SetModemLine(fd, TIOCM_RTS, parsed.Rts) &&
              SetModemLine(fd, TIOCM_DTR, parsed.Dtr);
    if (!ok) ::tcsetattr(fd, TCSANOW, &before);
    if (ok && parsed.Rts) rtsHandshake_ = *parsed.Rts == ModemLine::Handshake;
    return ok;
}

namespace {
// The modem-line call on fd: 0 when done, else the system's code.
int ModemIoctl(int fd, unsigned long request, int* bits) {
    if (fd < 0) return EBADF;
    return ::ioctl(fd, request, bits) == 0 ? 0 : errno;
}
} // namespace

bool TSerialConnection::ModemResult(int code) {
    if (code == 0) return true;
    // A pseudo-terminal or a plain tty answers "not a typewriter" or "invalid argument".
    modemFailure_ = code == ENOTTY || code == EINVAL
                        ? "The port has no modem lines (" + std::string(std::strerror(code)) + ")."
                        : std::string(std::strerror(code)) + ".";
    return false;
}

bool TSerialConnection::ReadModemLines(ModemLines& lines) {
    int bits = 0;
    if (!ModemResult(ModemIoctl(device_->port.Fd(), TIOCMGET, &bits))) return false;
    lines = {(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CAR) != 0,
             (bits & TIOCM_RNG) != 0, (bits & TIOCM_DTR) != 0, (bits & TIOCM_RTS) != 0};
    return true;
}

bool TSerialConnection::SetDtr(bool on) {
    int bit = TIOCM_DTR;
    return ModemResult(ModemIoctl(device_->port.Fd(), on ? TIOCMBIS : TIOCMBIC, &bit));
}

bool TSerialConnection::SetRts(bool on) {
    int bit = TIOCM_RTS;
    return ModemResult(ModemIoctl(device_->port.Fd(), on ? TIOCMBIS : TIOCMBIC, &bit));
}

bool TSerialConnection::SetBreak(bool on) {
    return ModemResult(ModemIoctl(device_->port.Fd(), on ? TIOCSBRK : TIOCCBRK, nullptr));
}

void TSerialConnection::Close() {
    // Signalled also when nothing is open yet, so an open under way in the reader gives up.
    device_->port.Close();
    device_->stop.Signal();
}

int TSerialConnection::Write(const void* data, int length) {
    if (!device_->port.IsOpen()) {
        SetReason("not connected");
        return -1;
    }
    if (WriteAll(device_->port, device_->stop, data, static_cast<size_t>(length)) < 0) {
        SetReasonOnce(errno == ETIMEDOUT ? "the device takes no data" : GetSystemErrorText(errno));
        Close();
        return 0;
    }
    return length;
}

int TSerialConnection::ReadWithin(void* buffer, int size, int timeoutMs) {
    if (!device_->port.IsOpen() || size < 2) return -1;
    WaitResult waited = WaitReadable(device_->port.Fd(), device_->stop, timeoutMs);
    if (waited == WaitResult::Timeout) return 0;
    if (waited == WaitResult::Woken) return -1;
    if (waited != WaitResult::Ready) {
        SetReasonOnce("the device went away");
        Close();
        return -1;
    }
    ssize_t n = device_->port.ReadSome(buffer, static_cast<size_t>(size - 1));
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (n <= 0) {
        // The device hung up (an adapter unplugged, the far end of a pseudo-terminal closed):
        // poll would report it at once forever, so this is the end of the connection.
        if (!(n < 0 && errno == EBADF)) SetReasonOnce("the device went away");
        Close();
        return -1;
    }
    static_cast<char*>(buffer)[n] = 0;
    TraceIo(TraceDirection::Receive, buffer, static_cast<size_t>(n));
    return static_cast<int>(n);
}

bool TSerialConnection::Purge(int /*flags*/) {
    int fd = device_->port.Fd();
    return fd >= 0 && ::tcflush(fd, TCIOFLUSH) == 0;
}
