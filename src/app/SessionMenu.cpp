#include "app/SessionMenu.h"

#include "console/ConsoleSession.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <type_traits>

namespace {
// Writes one setting; a store that cannot be written is said in the log.
template <typename Value> void Remember(ConsoleSession& session, const char* name, const Value& value) {
    try {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        if constexpr (std::is_same_v<Value, int>) {
            settings.WriteInt(name, value);
        } else {
            settings.WriteStr(name, value);
        }
        settings.CloseKey();
    } catch (const ESettingsError& e) {
        session.Log(e.what(), LogColours::Error);
    }
}
} // namespace

TSessionMenu::TSessionMenu(QObject* owner, Items items, ConsoleSession& session,
                           std::function<bool(std::string& path)> chooseLogFile)
    : QObject(owner), items_(items), session_(session), chooseLogFile_(std::move(chooseLogFile)) {
    connect(items_.logToFile, &QAction::triggered, this, [this] { Guarded([this] { LogToFileClick(); }); });
    // The options that change the session and are remembered at once.
    auto option = [this](auto* control, auto signal, const char* setting, auto apply) {
        connect(control, signal, this, [this, control, setting, apply] {
            Guarded([&] {
                const bool on = control->isChecked();
                apply(on);
                Remember(session_, setting, on ? 1 : 0);
            });
        });
    };
    option(items_.autoReconnect, &QAction::triggered, "ReconnectAutomatically",
           [this](bool on) { session_.SetAutoReconnect(on); });
    option(items_.showReplyStatistics, &QAction::triggered, "ShowReplyStatistics",
           [this](bool on) { items_.statistics->setVisible(on); });
    option(items_.escapes, &QCheckBox::clicked, "Escapes", [this](bool on) { session_.SetEscapes(on); });
}

void TSessionMenu::LogToFileClick() {
    if (!items_.logToFile->isChecked()) {
        session_.StopLogFile();
        Remember(session_, "LogToFile", 0);
        return;
    }
    std::string path = session_.LogFile().Path();
    if (!chooseLogFile_ || !chooseLogFile_(path) || !session_.StartLogFile(path)) {
        items_.logToFile->setChecked(false);
        return;
    }
    Remember(session_, "LogFile", path);
    Remember(session_, "LogToFile", 1);
}
