#include "app/ConsoleFace.h"

#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

TConsoleFace::TConsoleFace(ConsoleFaceHost& console)
    : console_(console), timer_(new QTimer(console.FaceWidget())),
      linkDue_(new QTimer(console.FaceWidget())) {
    timer_->setObjectName("TimerReconnect");
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, console_.FaceWidget(),
                     [this] { Guarded([this] { console_.Session().TimerDue(); }); });
    linkDue_->setSingleShot(true);
    QObject::connect(linkDue_, &QTimer::timeout, console_.FaceWidget(),
                     [this] { Guarded([this] { ReadLink(); }); });
}

TConsoleFace::~TConsoleFace() {
    StopWatchingLink();
}

void TConsoleFace::ShowLine(const std::string& line, uint32_t colour) {
    console_.Log()->AppendLine(line, colour);
}

OpenResult TConsoleFace::AwaitOpen(ConsoleLink& link, std::string& reason) {
    bool finished = false;
    OpenResult result = OpenResult::Failed;
    QEventLoop loop;
    link.BeginOpen([&](OpenResult r, const std::string& why) {
        finished = true;
        result = r;
        reason = why;
        loop.quit();
    });
    if (finished) return result;
    // A connect that takes a moment gets a window that says so and offers to give up; a quick
    // one never shows it.
    QProgressDialog progress(ToQt("Connecting to " + console_.Session().Connection() + " ..."), "&Cancel", 0,
                             0, console_.FaceWidget());
    progress.setObjectName("ProgressConnecting");
    progress.setWindowTitle(QApplication::applicationDisplayName());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.reset();
    progress.hide();
    // Its Cancel button, Esc and closing the little window all give the attempt up, and with it
    // an automatic reconnect.
    auto giveUp = [this] { console_.Session().CancelOpen(); };
    QObject::connect(&progress, &QProgressDialog::canceled, console_.FaceWidget(), giveUp);
    QObject::connect(&progress, &QDialog::rejected, console_.FaceWidget(), giveUp);
    QTimer::singleShot(250, &progress, [&] {
        if (!finished) progress.show();
    });
    loop.exec();
    return result;
}

void TConsoleFace::LineReceived(const std::string& line) {
    console_.TakeReceivedLine(line);
}

void TConsoleFace::StateChanged() {
    console_.ShowSessionState();
}

void TConsoleFace::SendingEnded() {
    console_.EndSending();
}

void TConsoleFace::SendingPaused() {
    console_.PauseSending();
}

void TConsoleFace::SendingResumed() {
    console_.ResumeSending();
}

void TConsoleFace::ServiceRequest() {
    console_.AnswerServiceRequest();
}

void TConsoleFace::ArmTimer(uint32_t ms) {
    timer_->start(static_cast<int>(ms));
}

void TConsoleFace::CancelTimer() {
    timer_->stop();
}

void TConsoleFace::WatchFd(int fd) {
    delete watch_;
    watch_ = nullptr;
    if (fd < 0) return;
    watch_ = new QSocketNotifier(fd, QSocketNotifier::Read, console_.FaceWidget());
    QObject::connect(watch_, &QSocketNotifier::activated, console_.FaceWidget(),
                     [this] { Guarded([this] { console_.Session().FdReady(); }); });
}

// The link is read on this thread as soon as it is readable: a received line wakes this one
// thread, which logs it and sends ping-pong's or a run's next command in the same turn.
void TConsoleFace::WatchLink(const std::vector<int>& fds, int dueMs) {
    if (dueMs < 0) {
        linkDue_->stop();
    } else {
        linkDue_->start(dueMs);
    }
    if (fds == linkFds_) return;
    StopWatchingLink();
    linkFds_ = fds;
    for (const int fd : fds) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, console_.FaceWidget());
        QObject::connect(notifier, &QSocketNotifier::activated, console_.FaceWidget(),
                         [this] { Guarded([this] { ReadLink(); }); });
        linkWatch_.push_back(notifier);
    }
}

// A watch may go while its own signal runs: it is switched off at once and deleted later.
void TConsoleFace::StopWatchingLink() {
    for (QSocketNotifier* notifier : linkWatch_) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    linkWatch_.clear();
    linkFds_.clear();
}

// Takes the lines that have come, up to a turn's share. A command that went out meanwhile is
// answered within a moment as a rule: waiting that moment for its reply here costs less than
// going to sleep and being woken for it. A box that a line opens (a batch's #PROMPT) runs a loop
// of its own, in which the link is read as before: lines that come meanwhile are logged at once.
void TConsoleFace::ReadLink() {
    ConsoleSession& session = console_.Session();
    QElapsedTimer turn;
    turn.start();
    for (int lines = 0; lines < MaxLinesPerTurn && turn.elapsed() < MaxReadMsPerTurn; ++lines) {
        if (!session.Pull(session.AwaitsReply() ? ReplyLingerMs : 0)) break;
    }
}
