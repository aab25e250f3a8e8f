#include "ConsoleFixture.h"

#include "platform/QtPlatform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void ConsoleTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    console = std::make_unique<TFormConsole>();
    console->DnsDomain = [] { return std::string("example.org"); }; // no name service in tests
    // A bookmark file beside the "program", so that start-up never asks for one.
    QFile(dir.filePath("Bookmarks.txt")).open(QIODevice::WriteOnly);
    console->ExeDir = [this] { return PathFromQt(dir.path()); };
    FormConsole = console.get();
    FormSelIpAddr = new TFormSelIpAddr(console.get());
    FormOpenCom = new TFormOpenCom(console.get());
    // Never offer the machine's own serial ports: a test must not open one.
    FormOpenCom->ListPorts = [] { return std::vector<SerialPortInfo>{}; };
}

void ConsoleTest::TearDown() {
    console->close();
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    console.reset();
}

void ConsoleTest::Preset(const char* name, const QVariant& value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane");
    settings.setValue(name, value);
}

QVariant ConsoleTest::Stored(const char* name) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane");
    return settings.value(name);
}

void ConsoleTest::AnswerDialog(bool ok, std::function<void(TFormOpenCom&)> change) {
    auto* poll = new QTimer(console.get());
    QObject::connect(poll, &QTimer::timeout, poll, [poll, ok, change] {
        if (!FormOpenCom || !FormOpenCom->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        if (change) change(*FormOpenCom);
        FormOpenCom->findChild<QPushButton*>(ok ? "ButtonOk" : "ButtonCanel")->click();
    });
    poll->start(5);
}

void ConsoleTest::Start() {
    console->show();
    console->FormActivate();
}

void ConsoleTest::StartWith(const std::string& connection) {
    Preset("Connection", ToQt(connection));
    AnswerDialog(true);
    Start();
}

bool ConsoleTest::Until(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

std::vector<std::string> ConsoleTest::LogTexts() const {
    std::vector<std::string> texts;
    const LogLines& lines = console->Log()->Lines();
    for (size_t i = 0; i < lines.Count(); ++i) {
        std::string text(lines.Text(i));
        // "[hh:nn:ss.zzz] " comes first on every line the console writes.
        texts.push_back(text.size() > 15 && text[0] == '[' && text[13] == ']' ? text.substr(15) : text);
    }
    return texts;
}

std::vector<uint32_t> ConsoleTest::LogColours() const {
    std::vector<uint32_t> colours;
    const LogLines& lines = console->Log()->Lines();
    for (size_t i = 0; i < lines.Count(); ++i)
        colours.push_back(lines.Colour(i));
    return colours;
}

bool ConsoleTest::LogHas(const std::string& text) const {
    for (const auto& line : LogTexts()) {
        if (line == text) return true;
    }
    return false;
}

void ConsoleTest::Type(const std::string& text) {
    auto* edit = Find<QLineEdit>("EditRawIn");
    edit->setText(ToQt(text));
    QTest::keyClick(edit, Qt::Key_Return);
}
