#pragma once
// A local serial port through termios. The port name is a device under /dev ("ttyUSB0") or, when
// it holds a "/", a path. The port is opened exclusively and fully raw, so every byte passes as
// it is both ways and no flow control is on; a mode string sets its line settings and turns flow
// control on when it asks for it (see SerialMode.h).
#include "connection/FdIo.h"
#include "connection/TConnection.h"

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
    bool IsOpen() const override { return port_.IsOpen(); }
    // Discards what is queued in both directions.
    bool Purge(int flags) override;

    // The device path that a port name stands for.
    static std::string DevicePath(const std::string& portName);

private:
    bool SetRaw();

    GuardedFd port_;
    WakeEvent stop_; //!< Signalled by Close to release a blocked Read or Write.
};
