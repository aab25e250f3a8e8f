#pragma once
// A local serial port: termios here, a COM port with overlapped I/O on Windows. The port name is
// a device under /dev ("ttyUSB0") or, when it starts with "/", a path; on Windows a COM name
// ("COM3"). The port is opened exclusively and fully raw, so every byte passes as it is both ways
// and no flow control is on; a mode string sets its line settings and turns flow control on when
// it asks for it (see SerialMode.h).
#include "connection/ModemLines.h"
#include "connection/TConnection.h"

#include <atomic>
#include <memory>
#include <string>

class TSerialConnection : public TConnection {
public:
    TSerialConnection();
    ~TSerialConnection() override;

    void Init() override;
    void Deinit() override;
    // "name" or "name:mode". False when already open, when the device is missing, busy or not a
    // terminal, or when raw mode cannot be set. A mode that cannot be applied leaves the port
    // open with its previous settings.
    bool Open(const std::string& params) override;
    // Applies a mode string; closed port or empty mode: true, nothing changed. All or nothing:
    // when any setting is refused the previous settings are restored and the result is false.
    bool Configure(const std::string& mode) override;
    void Close() override;
    // Blocks until all bytes are written; a failed write closes the port and returns 0. A write
    // fails when the port takes no byte for WriteTimeoutMs (see FdIo.h), however long it lasts.
    int Write(const void* data, int length) override;
    // Waits without limit (timeoutMs is not used) for at least one byte and reads at most size - 1,
    // putting a 0 after them, and traces them. The device hanging up ends the connection (-1).
    int Read(void* buffer, int size, int timeoutMs) override;
    // As Read, but waits at most timeoutMs (-1: no limit); nothing by then gives 0.
    int ReadWithin(void* buffer, int size, int timeoutMs) override;
    bool IsOpen() const override;
    // The port's descriptor on POSIX; none on Windows, whose port is waited on through its own
    // events.
    std::vector<int> WaitDescriptors() const override;
    // Discards what is queued in both directions.
    bool Purge(int flags) override;

    // The modem lines, for the UI thread while the port is open. Each is false when the port has
    // no such lines (a pseudo-terminal) or is closed; ModemFailure() then says why.
    bool ReadModemLines(ModemLines& lines);
    bool SetDtr(bool on);
    bool SetRts(bool on);
    // Starts (on) or ends a break: the line held at space until ended.
    bool SetBreak(bool on);
    const std::string& ModemFailure() const { return modemFailure_; }
    // The mode string handed RTS to hardware flow control ("rts=hs"): it is not the operator's.
    bool RtsIsHandshake() const { return rtsHandshake_; }

    // The device path that a port name stands for ("/dev/ttyUSB0", "\\.\COM3").
    static std::string DevicePath(const std::string& portName);

private:
    // 0: the modem-line call was done; else its system code, which ModemFailure() then explains.
    bool ModemResult(int code);

    std::string modemFailure_; //!< UI thread.
    std::atomic<bool> rtsHandshake_{false};

    struct Device; //!< The system's side of the open port, and the wake-up of its waits.
    std::unique_ptr<Device> device_;
};
