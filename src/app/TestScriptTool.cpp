#include "app/TestScriptTool.h"

#include "console/ConsoleSession.h"
#include "log/LogColours.h"
#include "platform/QtPlatform.h"
#include "script/TestRunCommand.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>

namespace {
constexpr char RunCaption[] = "Run Test Script...";
constexpr char StopCaption[] = "Stop Test Script";
// How long a stopped run may take to write its reports before it is killed.
constexpr int StopWaitMs = 3000;
} // namespace

TTestScriptTool::TTestScriptTool(QWidget* window, QMenu* menu, ConsoleSession& session)
    : QObject(window), window_(window), session_(session) {
    RunnerProgram = PathFromQt(QCoreApplication::applicationFilePath());
    menu->addSeparator();
    action_ = menu->addAction(RunCaption);
    connect(action_, &QAction::triggered, this, [this] { Guarded([this] { Triggered(); }); });
    ChooseScript = [this](std::string& path) {
        const QString chosen = QFileDialog::getOpenFileName(window_, "Run Test Script", {},
                                                            "Test scripts (*.lua);;All files (*)");
        path = PathFromQt(chosen);
        return !chosen.isEmpty();
    };
}

TTestScriptTool::~TTestScriptTool() {
    if (!process_) return;
    process_->disconnect(this);
    process_->terminate();
    if (!process_->waitForFinished(StopWaitMs)) process_->kill();
    process_->waitForFinished(StopWaitMs);
}

void TTestScriptTool::Triggered() {
    if (Running()) {
        Stop();
        return;
    }
    std::string script;
    if (ChooseScript && ChooseScript(script)) Start(script);
}

void TTestScriptTool::Start(const std::string& script) {
    if (Running()) return;
    const std::string connection = session_.Connection();
    if (session_.Connected()) {
        reopen_ = connection;
        session_.Log("The console's connection is closed while the test script runs.", LogColours::Status);
        session_.Close();
    }
    session_.Log("Test script " + script + " runs on " + connection + ".", LogColours::Status);
    process_ = new QProcess(this);
    process_->setStandardErrorFile(QProcess::nullDevice()); // its errors are in its log too
    connect(process_, &QProcess::readyReadStandardOutput, this,
            [this] { Guarded([this] { ReadOutput(); }); });
    connect(process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        Guarded([=, this] { Finished(status == QProcess::NormalExit ? code : -1); });
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) Guarded([this] { Finished(-1); });
    });
    // The script is a file name (the file system's bytes), the rest instrument text.
    QStringList args;
    for (const std::string& arg :
         TestRunArguments(script, connection, session_.GetLineEnds(), session_.Escapes()))
        args << (arg == script ? PathToQt(arg) : ToQt(arg));
    action_->setText(StopCaption);
    process_->start(PathToQt(RunnerProgram), args);
}

void TTestScriptTool::Stop() {
    if (process_) process_->terminate();
}

void TTestScriptTool::ReadOutput() {
    const QByteArray bytes = process_->readAllStandardOutput();
    pending_.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    size_t start = 0;
    for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1)
        TakeLine(pending_.substr(start, end - start));
    pending_.erase(0, start);
}

void TTestScriptTool::TakeLine(const std::string& line) {
    session_.LogLine(line, RunLineColour(line));
}

void TTestScriptTool::Finished(int exitCode) {
    if (!process_) return;
    ReadOutput();
    if (!pending_.empty()) TakeLine(pending_);
    pending_.clear();
    process_->deleteLater();
    process_ = nullptr;
    action_->setText(RunCaption);
    session_.Log(TestRunEndText(exitCode), exitCode == 0 ? LogColours::Status : LogColours::Error);
    if (reopen_.empty() || !Reopen) return;
    const std::string connection = std::move(reopen_);
    reopen_.clear();
    Reopen(connection);
}
