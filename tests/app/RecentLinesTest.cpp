// The recent connections keep their lines through the real settings store, beside a list an older
// program wrote and still reads.
#include "app/SerialTools.h"
#include "console/ConsoleSession.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"

#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class SilentFace : public SessionFace {
public:
    void ShowLine(const std::string&, uint32_t) override {}
    OpenResult AwaitOpen(ConsoleLink&, std::string&) override { return OpenResult::Failed; }
};
} // namespace

TEST(RecentLines, ComeBackFromTheSettingsAndAnOlderEntryHasNone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    const std::string cr = "tcp:127.0.0.1:2501", old = "tcp:127.0.0.1:2502";
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("RecentConnections", ToQt(old));
    SilentFace face;
    ConsoleSession session(face);
    QMainWindow window;
    QMenu menu;
    const ConnectionLines lines{{TxLineEnd::Cr, RxLineEnd::Cr, 150}, true};
    {
        TSerialTools tools(&window, &menu, session);
        tools.ReadSettings();
        tools.Remember(cr, lines);
    }
    TSerialTools read(&window, &menu, session);
    read.ReadSettings();
    EXPECT_EQ(read.Recent(), (std::vector<std::string>{cr, old}));
    ConnectionLines found;
    ASSERT_TRUE(read.LinesOf(cr, found));
    EXPECT_EQ(found, lines);
    EXPECT_FALSE(read.LinesOf(old, found)) << "an entry from before takes its kind's lines";
    EXPECT_EQ(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
                  .value("RecentConnections")
                  .toString(),
              ToQt(cr + "\n" + old))
        << "the list keeps the form an older program reads";
}
