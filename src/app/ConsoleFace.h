#pragma once
// The console window as its session's face: log lines into the log view, the open's wait with its
// connecting window, the reconnect timer and device watch as Qt objects, and what the window shows
// of the link. Only the console window makes one.
#include "console/ConsoleSession.h"

class QSocketNotifier;
class QTimer;
class TFormConsole;

class TConsoleFace : public SessionFace {
public:
    explicit TConsoleFace(TFormConsole& console);
    ~TConsoleFace() override;

    void ShowLine(const std::string& line, uint32_t colour) override;
    OpenResult AwaitOpen(ConsoleLink& link, std::string& reason) override;
    void LineReceived(const std::string& line) override;
    void StateChanged() override;
    void SendingEnded() override;
    void SendingPaused() override;
    void SendingResumed() override;
    void ServiceRequest() override;
    void ArmTimer(uint32_t ms) override;
    void CancelTimer() override;
    void WatchFd(int fd) override;

private:
    void SendAgainFromLoop();

    TFormConsole& console_;
    QTimer* timer_;                    //!< "TimerReconnect"
    QSocketNotifier* watch_ = nullptr; //!< the device folder's readiness
};
