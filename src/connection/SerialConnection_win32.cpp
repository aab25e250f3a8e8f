#include "connection/SerialConnection.h"

#include "connection/ConnectionString.h"
#include "connection/FdIo.h"
#include "connection/SerialMode.h"
#include "connection/TraceIo.h"
#include "platform/System.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <mutex>

namespace {
BYTE ParityCode(char parity) {
    switch (parity) {
    case 'o':
        return ODDPARITY;
    case 'e':
        return EVENPARITY;
    case 'm':
        return MARKPARITY;
    case 's':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

DWORD DtrControl(ModemLine line) {
    return line == ModemLine::On          ? DTR_CONTROL_ENABLE
           : line == ModemLine::Handshake ? DTR_CONTROL_HANDSHAKE
                                          : DTR_CONTROL_DISABLE;
}

DWORD RtsControl(ModemLine line) {
    switch (line) {
    case ModemLine::On:
        return RTS_CONTROL_ENABLE;
    case ModemLine::Handshake:
        return RTS_CONTROL_HANDSHAKE;
    case ModemLine::Toggle:
        return RTS_CONTROL_TOGGLE;
    default:
        return RTS_CONTROL_DISABLE;
    }
}

// The DCB part of a mode. The driver itself refuses what its hardware cannot do (SetCommState).
void ApplyModeToDcb(const SerialMode& mode, DCB& dcb) {
    if (mode.Baud) dcb.BaudRate = *mode.Baud;
    if (mode.Parity) {
        dcb.Parity = ParityCode(*mode.Parity);
        dcb.fParity = *mode.Parity != 'n';
    }
    if (mode.DataBits) dcb.ByteSize = static_cast<BYTE>(*mode.DataBits);
    if (mode.StopBitsTimes2) {
        const int stop = *mode.StopBitsTimes2;
        dcb.StopBits = stop == 2 ? ONESTOPBIT : stop == 3 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    if (mode.XonXoff) dcb.fOutX = dcb.fInX = *mode.XonXoff;
    if (mode.OutCts) dcb.fOutxCtsFlow = *mode.OutCts;
    if (mode.OutDsr) dcb.fOutxDsrFlow = *mode.OutDsr;
    if (mode.InDsr) dcb.fDsrSensitivity = *mode.InDsr;
    if (mode.Dtr) dcb.fDtrControl = DtrControl(*mode.Dtr);
    if (mode.Rts) dcb.fRtsControl = RtsControl(*mode.Rts);
}

bool SameLineSettings(const DCB& a, const DCB& b) {
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
           a.StopBits == b.StopBits && a.fOutX == b.fOutX && a.fInX == b.fInX &&
           a.fOutxCtsFlow == b.fOutxCtsFlow && a.fOutxDsrFlow == b.fOutxDsrFlow &&
           a.fRtsControl == b.fRtsControl && a.fDtrControl == b.fDtrControl;
}

// Raw: every byte passes as it is, no flow control, no error character; DTR and RTS on, as a
// port opened on Linux has them. Speed, size, parity and stop bits are left to the mode string.
bool SetRaw(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) return false;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!::SetCommState(port, &dcb)) return false;
    // A read returns at once with what has come; the waits for input are WaitCommEvent's, with
    // the stop event beside them.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    return ::SetCommTimeouts(port, &timeouts) != 0 && ::SetCommMask(port, EV_RXCHAR) != 0;
}

// An overlapped operation's event, made per call: the reader and a writer each have their own.
struct Overlapped {
    OVERLAPPED ov{};
    HANDLE port = INVALID_HANDLE_VALUE; //!< The port it was started on.
    Overlapped() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { ::CloseHandle(ov.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
};
} // namespace

struct TSerialConnection::Device {
    std::mutex lock;                    //!< Held while I/O is started or cancelled and across Close.
    HANDLE port = INVALID_HANDLE_VALUE; //!< Written under lock.
    std::atomic<bool> open{false};
    WakeEvent stop; //!< Signalled by Close to release a waiting Read or Write.
    //! As last set (Windows cannot read back its own outputs); set by an open in the reader too.
    std::atomic<bool> dtr{true}, rts{true};

    // Starts an overlapped read or write under the lock; false (with the system's code) when the
    // port is closed or the call failed.
    template <typename Start> bool Begin(Overlapped& op, Start start, DWORD& code) {
        std::lock_guard guard(lock);
        if (port == INVALID_HANDLE_VALUE) {
            code = ERROR_INVALID_HANDLE;
            return false;
        }
        op.port = port;
        if (start(port) || ::GetLastError() == ERROR_IO_PENDING) return true;
        code = ::GetLastError();
        return false;
    }
    // Ends an operation that is still under way (a time-out, a stop) and waits until the system
    // let go of its buffer; then tells how many bytes it moved, and whether it succeeded (else
    // GetLastError says why).
    bool Finish(Overlapped& op, bool cancel, DWORD& moved) {
        if (cancel) {
            std::lock_guard guard(lock);
            if (port != INVALID_HANDLE_VALUE) ::CancelIoEx(port, &op.ov);
        }
        ::WaitForSingleObject(op.ov.hEvent, INFINITE);
        moved = 0;
        // The operation is over: its handle is not looked at, even if Close took it meanwhile.
        return ::GetOverlappedResult(op.port, &op.ov, &moved, FALSE) != 0;
    }
    // The port's queues: false when it is closed or gone.
    bool Queues(COMSTAT& status) {
        std::lock_guard guard(lock);
        DWORD errors = 0;
        return port != INVALID_HANDLE_VALUE && ::ClearCommError(port, &errors, &status);
    }
    // The bytes still queued for sending; MAXDWORD when the port cannot tell.
    DWORD Queued() {
        COMSTAT status{};
        return Queues(status) ? status.cbOutQue : MAXDWORD;
    }

    static constexpr long ClosedHere = -1; //!< ReadQueued: Close took the port.
    static constexpr long Gone = -2;       //!< ReadQueued: the port failed.
    // Reads at most room of the bytes the input queue holds: the bytes read, 0 when none are there,
    // or ClosedHere or Gone. A read is started only for queued bytes: with nothing there, Wine's
    // read waits for them whatever the time-outs say.
    long ReadQueued(void* buffer, DWORD room) {
        COMSTAT queues{};
        if (!Queues(queues)) return open ? Gone : ClosedHere;
        if (queues.cbInQue == 0) return 0;
        Overlapped op;
        DWORD code = 0;
        const DWORD wanted = std::min(room, queues.cbInQue);
        if (!Begin(
                op, [&](HANDLE p) { return ::ReadFile(p, buffer, wanted, nullptr, &op.ov); }, code))
            return code == ERROR_INVALID_HANDLE ? ClosedHere : Gone;
        DWORD n = 0;
        if (!Finish(op, false, n)) return ::GetLastError() == ERROR_OPERATION_ABORTED ? ClosedHere : Gone;
        return static_cast<long>(n);
    }
    // Waits at most ms for input (WaitCommEvent) beside the stop event; false when stopped or
    // closed. A wait that fails by itself is a port that went away: the next look at its queues tells.
    bool WaitForInput(int ms) {
        Overlapped op;
        DWORD events = 0;
        DWORD code = 0;
        if (!Begin(
                op, [&](HANDLE p) { return ::WaitCommEvent(p, &events, &op.ov); }, code))
            return open;
        HANDLE waits[2] = {op.ov.hEvent, reinterpret_cast<HANDLE>(stop.Native())};
        const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(ms));
        DWORD unused = 0;
        Finish(op, waited != WAIT_OBJECT_0, unused);
        return waited != WAIT_OBJECT_0 + 1 && open;
    }
};

TSerialConnection::TSerialConnection() : device_(std::make_unique<Device>()) {
    TSerialConnection::Init();
}
TSerialConnection::~TSerialConnection() {
    TSerialConnection::Deinit();
}

bool TSerialConnection::IsOpen() const {
    return device_->open.load();
}

std::vector<int> TSerialConnection::WaitDescriptors() const {
    return {};
}

std::string TSerialConnection::DevicePath(const std::string& portName) {
    // "COM10" and above open only through the device namespace, so every name goes through it.
    return portName.rfind("\\\\", 0) == 0 ? portName : "\\\\.\\" + portName;
}

bool TSerialConnection::Open(const std::string& params) {
    if (IsOpen()) return false;
    std::string name, mode;
    SplitSerialParams(params, name, mode);
    const std::string path = DevicePath(name);
    device_->stop.Reset(); // a Close from before this open (of an earlier connection) is over
    // No sharing: a second open, from this or another program, fails as on Linux with its lock.
    HANDLE port = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        SetReason(code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION
                      ? path + " is in use by another program"
                      : path + ": " + GetSystemErrorText(static_cast<int>(code)));
        return false;
    }
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!::GetCommState(port, &probe)) {
        SetReason(path + " is not a serial port");
        ::CloseHandle(port);
        return false;
    }
    if (!SetRaw(port)) {
        SetReason(path + ": " + GetSystemErrorText(static_cast<int>(::GetLastError())));
        ::CloseHandle(port);
        return false;
    }
    {
        std::lock_guard guard(device_->lock);
        device_->port = port;
        device_->open = true;
        device_->dtr = true;
        device_->rts = true;
    }
    // A Close that came while this was opening found nothing to close: the open is given up.
    if (device_->stop.IsSignalled()) {
        SetReason("cancelled");
        Close();
        return false;
    }
    Configure(mode);
    return true;
}

bool TSerialConnection::Configure(const std::string& mode) {
    if (!IsOpen() || mode.empty()) return true;
    SerialMode parsed;
    if (!ParseSerialMode(mode, parsed)) return false;
    std::lock_guard guard(device_->lock);
    HANDLE port = device_->port;
    DCB before{};
    before.DCBlength = sizeof before;
    if (!::GetCommState(port, &before)) return false;
    DCB wanted = before;
    ApplyModeToDcb(parsed, wanted);
    DCB applied{};
    applied.DCBlength = sizeof applied;
    // Read back what the driver really holds, as on Linux.
    const bool ok =
        ::SetCommState(port, &wanted) && ::GetCommState(port, &applied) && SameLineSettings(applied, wanted);
    if (!ok) ::SetCommState(port, &before);
    if (ok && parsed.Rts) rtsHandshake_ = *parsed.Rts == ModemLine::Handshake;
    if (ok && parsed.Dtr) device_->dtr = *parsed.Dtr != ModemLine::Off;
    if (ok && parsed.Rts) device_->rts = *parsed.Rts != ModemLine::Off;
    return ok;
}

bool TSerialConnection::ModemResult(int code) {
    if (code == 0) return true;
    const std::string text = GetSystemErrorText(code);
    // A port without modem lines (Wine's port on a pseudo-terminal) refuses the calls as unsupported.
    modemFailure_ =
        code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_PARAMETER
            ? "The port has no modem lines (" + text + ")."
            : text + ".";
    return false;
}

namespace {
// One modem-line call on the open port: 0 when done, else the system's code.
template <typename Call> int ModemCall(std::mutex& lock, const HANDLE& port, Call call) {
    std::lock_guard guard(lock);
    if (port == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    return call(port) ? 0 : static_cast<int>(::GetLastError());
}
} // namespace

bool TSerialConnection::ReadModemLines(ModemLines& lines) {
    DWORD bits = 0;
    if (!ModemResult(ModemCall(device_->lock, device_->port,
                               [&](HANDLE p) { return ::GetCommModemStatus(p, &bits); })))
        return false;
    lines = {(bits & MS_CTS_ON) != 0,
             (bits & MS_DSR_ON) != 0,
             (bits & MS_RLSD_ON) != 0,
             (bits & MS_RING_ON) != 0,
             device_->dtr,
             device_->rts};
    return true;
}

bool TSerialConnection::SetDtr(bool on) {
    const bool done = ModemResult(ModemCall(device_->lock, device_->port, [&](HANDLE p) {
        return ::EscapeCommFunction(p, on ? SETDTR : CLRDTR);
    }));
    if (done) device_->dtr = on;
    return done;
}

bool TSerialConnection::SetRts(bool on) {
    const bool done = ModemResult(ModemCall(device_->lock, device_->port, [&](HANDLE p) {
        return ::EscapeCommFunction(p, on ? SETRTS : CLRRTS);
    }));
    if (done) device_->rts = on;
    return done;
}

bool TSerialConnection::SetBreak(bool on) {
    return ModemResult(ModemCall(device_->lock, device_->port,
                                 [&](HANDLE p) { return on ? ::SetCommBreak(p) : ::ClearCommBreak(p); }));
}

void TSerialConnection::Close() {
    {
        std::lock_guard guard(device_->lock);
        if (device_->port != INVALID_HANDLE_VALUE) {
            // What is under way in other threads ends now; each waits for its own end (Finish).
            ::CancelIoEx(device_->port, nullptr);
            ::CloseHandle(device_->port);
            device_->port = INVALID_HANDLE_VALUE;
        }
        device_->open = false;
    }
    // Signalled also when nothing is open yet, so an open under way in the reader gives up.
    device_->stop.Signal();
}

int TSerialConnection::Write(const void* data, int length) {
    if (!IsOpen()) {
        SetReason("not connected");
        return -1;
    }
    Overlapped op;
    DWORD code = 0;
    const auto size = static_cast<DWORD>(length);
    if (!device_->Begin(
            op, [&](HANDLE p) { return ::WriteFile(p, data, size, nullptr, &op.ov); }, code)) {
        SetReasonOnce(GetSystemErrorText(static_cast<int>(code)));
        Close();
        return 0;
    }
    // The time-out is on progress, as on Linux: the bytes still queued must go down within each
    // WriteTimeoutMs. A port that cannot tell its queue is given one time-out in all.
    HANDLE waits[2] = {op.ov.hEvent, reinterpret_cast<HANDLE>(device_->stop.Native())};
    DWORD queued = MAXDWORD;
    for (;;) {
        const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, WriteTimeoutMs);
        if (waited == WAIT_OBJECT_0) break;
        const DWORD now = waited == WAIT_TIMEOUT ? device_->Queued() : MAXDWORD;
        if (now != 0 && now < queued) {
            queued = now;
            continue;
        }
        DWORD moved = 0;
        device_->Finish(op, true, moved);
        SetReasonOnce(waited == WAIT_TIMEOUT ? "the device takes no data" : "the port was closed");
        Close();
        return 0;
    }
    DWORD moved = 0;
    if (!device_->Finish(op, false, moved) || moved != size) {
        SetReasonOnce(GetSystemErrorText(static_cast<int>(::GetLastError())));
        Close();
        return 0;
    }
    return length;
}

// Reads what has come, or waits for input at most timeoutMs. A character that comes between the
// look and the wait is seen at the next look: no wait is longer than SliceMs.
int TSerialConnection::ReadWithin(void* buffer, int size, int timeoutMs) {
    constexpr int SliceMs = 100;
    if (!IsOpen() || size < 2) return -1;
    const unsigned start = ::GetTickCount();
    for (;;) {
        const long n = device_->ReadQueued(buffer, static_cast<DWORD>(size - 1));
        if (n > 0) {
            static_cast<char*>(buffer)[n] = 0;
            TraceIo(TraceDirection::Receive, buffer, static_cast<size_t>(n));
            return static_cast<int>(n);
        }
        if (n < 0) {
            // The device went away (an adapter unplugged, the far end of a pseudo-terminal closed).
            if (n == Device::Gone) SetReasonOnce("the device went away");
            Close();
            return -1;
        }
        const unsigned spent = ::GetTickCount() - start;
        if (timeoutMs >= 0 && spent >= static_cast<unsigned>(timeoutMs)) return 0;
        const int left = timeoutMs < 0 ? SliceMs : std::min(SliceMs, timeoutMs - static_cast<int>(spent));
        if (!device_->WaitForInput(left)) return -1;
    }
}

bool TSerialConnection::Purge(int /*flags*/) {
    std::lock_guard guard(device_->lock);
    return device_->port != INVALID_HANDLE_VALUE && ::PurgeComm(device_->port, PURGE_RXCLEAR | PURGE_TXCLEAR);
}
