// The settings store against QSettings in a folder of the test's own.
#include "platform/Config.h"
#include "RecordingBoxes.h"
#include "platform/Handover.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>

namespace {
class SettingsInTempDir : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }
    QString FileText() {
        QFile file(dir.path() + "/Veltrask/Corvane.conf");
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    QTemporaryDir dir;
    SettingsStore store;
};
} // namespace

TEST_F(SettingsInTempDir, AMissingValueIsWrittenWithItsDefaultOnFirstRead) {
    store.OpenKey(SettingsKeyPath);
    EXPECT_FALSE(store.ValueExists("Connection"));
    EXPECT_EQ(store.ReadStr("Connection", "tcp:192.168.1.253:2500"), "tcp:192.168.1.253:2500");
    EXPECT_EQ(store.ReadInt("WindowPosLeft", 177), 177);
    EXPECT_EQ(store.ReadStr("BookmarkFile", ""), "");
    EXPECT_TRUE(store.ValueExists("Connection"));
    EXPECT_TRUE(store.ValueExists("BookmarkFile"));
    store.CloseKey();
    QString text = FileText();
    EXPECT_TRUE(text.contains("Connection=\"tcp:192.168.1.253:2500\"") ||
                text.contains("Connection=tcp:192.168.1.253:2500"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("WindowPosLeft=177")) << text.toStdString();
    // A later read returns what is stored, not the default.
    store.OpenKey(SettingsKeyPath);
    EXPECT_EQ(store.ReadInt("WindowPosLeft", 5), 177);
    store.CloseKey();
}

TEST_F(SettingsInTempDir, ValuesRoundTripWithTheirTypesAndEightBitText) {
    store.OpenKey(SettingsKeyPath);
    store.WriteInt("WindowHeight", -42);
    store.WriteStr("Connection", "com:ttyUSB0:baud=19200 parity=E data=8 stop=1 rts=off dtr=on");
    store.WriteStr("BookmarkFile", "/home/b\xe4r/Bookmarks.txt");
    store.CloseKey();
    SettingsStore other;
    other.OpenKey(SettingsKeyPath);
    EXPECT_EQ(other.ReadInt("WindowHeight", 0), -42);
    EXPECT_EQ(other.ReadStr("Connection", ""),
              "com:ttyUSB0:baud=19200 parity=E data=8 stop=1 rts=off dtr=on");
    EXPECT_EQ(other.ReadStr("BookmarkFile", ""), "/home/b\xe4r/Bookmarks.txt");
    other.CloseKey();
}

TEST_F(SettingsInTempDir, AValueOfTheWrongTypeRaisesAnErrorTheHandlerGuardShows) {
    store.OpenKey(SettingsKeyPath);
    store.WriteStr("WindowPosTop", "not a number");
    RecordingBoxes boxes;
    bool after = false;
    Guarded([&] {
        store.ReadInt("WindowPosTop", 140);
        after = true;
    });
    store.CloseKey();
    EXPECT_FALSE(after) << "the rest of the handler is skipped";
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, "error");
    EXPECT_EQ(boxes.boxes[0].title, "Corvane");
    EXPECT_EQ(boxes.boxes[0].text, "Invalid data type for 'WindowPosTop'");
}

TEST_F(SettingsInTempDir, ADeletedValueComesBackWithItsDefault) {
    store.OpenKey(SettingsKeyPath);
    store.WriteStr("Connection", "tcp:10.0.0.5:23");
    store.CloseKey();
    {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane");
        raw.remove("Connection");
    }
    store.OpenKey(SettingsKeyPath);
    EXPECT_EQ(store.ReadStr("Connection", "tcp:192.168.1.253:2500"), "tcp:192.168.1.253:2500");
    store.CloseKey();
}

TEST_F(SettingsInTempDir, AKeyBelowTheApplicationKeyIsAGroupOfItsOwn) {
    store.OpenKey(std::string(SettingsKeyPath) + "\\Finder");
    store.WriteInt("Port", 8001);
    store.CloseKey();
    store.OpenKey(SettingsKeyPath);
    EXPECT_FALSE(store.ValueExists("Port"));
    store.CloseKey();
    EXPECT_TRUE(FileText().contains("[Finder]"));
}

TEST(QtHandover, StepsFromAWorkerRunInQtsEventLoop) {
    Handover ui;
    InstallQtHandover(ui);
    bool ran = false;
    bool workerDone = false;
    std::thread worker([&] {
        ui.Synchronize([&] { ran = QThread::currentThread() == QApplication::instance()->thread(); });
        workerDone = true;
    });
    // Only Qt's loop runs here: the posted event must run the step.
    QElapsedTimer timer;
    timer.start();
    while (!ran && timer.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    bool ranInQtLoop = ran;
    ui.RunPending(); // never leave the worker stuck, whatever happened
    worker.join();
    EXPECT_TRUE(ranInQtLoop);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(workerDone);
}
