#pragma once
// The console window as its session's face: log lines into the log view, the open's wait with its
// connecting window, the reconnect timer and device watch as Qt objects, the link read on the
// window's own thread when it is readable, and what the window shows of the link through the
// window's public members. Only the console window makes one.
#include "console/ConsoleSession.h"

#include <vector>

class QSocketNotifier;
class QTimer;
class QWidget;
class TLogView;

// What the face needs of the console window (the window implements it).
class ConsoleFaceHost {
public:
    virtual ~ConsoleFaceHost() = default;
    // The window the face's timers, watches and connecting window belong to.
    virtual QWidget* FaceWidget() = 0;
    virtual ConsoleSession& Session() const = 0;
    virtual TLogView* Log() const = 0;
    // A received line, logged: the window shows it and sends or steps on.
    virtual void TakeReceivedLine(const std::string& line) = 0;
    virtual void ShowSessionState() = 0;
    virtual void EndSending() = 0;
    virtual void PauseSending() = 0;
    virtual void ResumeSending() = 0;
    virtual void AnswerServiceRequest() = 0;
};

class TConsoleFace : public SessionFace {
public:
    // The most lines one turn of the event loop takes from the link, and the longest it reads: a
    // flood still leaves the window its repaints and the operator's keys.
    static constexpr int MaxLinesPerTurn = 2000;
    static constexpr int MaxReadMsPerTurn = 20;
    // How long a turn waits on for the reply to a command sent in it.
    static constexpr uint32_t ReplyLingerMs = 1;

    explicit TConsoleFace(ConsoleFaceHost& console);
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
    void WatchLink(const std::vector<int>& fds, int dueMs) override;

private:
    // Takes what the link has for this turn.
    void ReadLink();
    void StopWatchingLink();

    ConsoleFaceHost& console_;
    QTimer* timer_;                    //!< "TimerReconnect"
    QSocketNotifier* watch_ = nullptr; //!< the device folder's readiness
    std::vector<int> linkFds_;
    std::vector<QSocketNotifier*> linkWatch_; //!< one per descriptor of linkFds_
    QTimer* linkDue_;                         //!< a half line's idle time
};
