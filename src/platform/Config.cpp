#include "platform/Config.h"

#include "platform/QtPlatform.h"
#include "platform/System.h"

#include <filesystem>

namespace {
// QSettings says only that a write failed; the system says why. The store writes a new file beside
// the old one and renames it, so the folder must take new files.
std::string WriteFailure(const std::string& file) {
    const std::string folder = std::filesystem::path(file).parent_path().string();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.message();
    if (const int refused = FileAccessError(folder, true)) return GetSystemErrorText(refused);
    if (FileAccessError(file, false) == 0) {
        if (const int refused = FileAccessError(file, true)) return GetSystemErrorText(refused);
    }
    return "the file could not be written";
}

// The store of each platform is already rooted at the application's key, so that prefix of a
// path is dropped; a key below it becomes a group.
QString GroupOf(const std::string& path) {
    std::string rest = path;
    const std::string root = SettingsKeyPath;
    if (rest.compare(0, root.size(), root) == 0) rest.erase(0, root.size());
    while (!rest.empty() && rest.front() == '\\')
        rest.erase(0, 1);
    QString group = ToQt(rest);
    group.replace('\\', '/');
    return group;
}
} // namespace

SettingsStore::~SettingsStore() {
    CloseKey();
}

bool SettingsStore::OpenKey(const std::string& path) {
    CloseKey();
    settings_ =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane");
    QString group = GroupOf(path);
    if (!group.isEmpty()) settings_->beginGroup(group);
    return settings_->isWritable();
}

void SettingsStore::CloseKey() {
    if (settings_) settings_->sync();
    settings_.reset();
}

QSettings& SettingsStore::Store() {
    if (!settings_) OpenKey(SettingsKeyPath);
    return *settings_;
}

bool SettingsStore::ValueExists(const std::string& name) {
    return Store().contains(ToQt(name));
}

int SettingsStore::ReadInt(const std::string& name, int defaultValue) {
    if (!ValueExists(name)) {
        WriteInt(name, defaultValue);
        return defaultValue;
    }
    // A text store keeps numbers as text: a value reads as an integer when all of it is one.
    bool ok = false;
    int value = Store().value(ToQt(name)).toString().trimmed().toInt(&ok);
    if (!ok) throw ESettingsError("Invalid data type for '" + name + "'");
    return value;
}

void SettingsStore::WriteInt(const std::string& name, int value) {
    Store().setValue(ToQt(name), value);
    Commit(name);
}

std::string SettingsStore::ReadStr(const std::string& name, const std::string& defaultValue) {
    if (!ValueExists(name)) {
        WriteStr(name, defaultValue);
        return defaultValue;
    }
    QVariant value = Store().value(ToQt(name));
    // A value written by hand with an unquoted comma ("gpib:0,7:Simulator") reads as a list: it
    // was meant as one text.
    if (value.typeId() == QMetaType::QStringList) return FromQt(value.toStringList().join(','));
    if (!value.canConvert<QString>()) throw ESettingsError("Invalid data type for '" + name + "'");
    return FromQt(value.toString());
}

void SettingsStore::WriteStr(const std::string& name, const std::string& value) {
    Store().setValue(ToQt(name), ToQt(value));
    Commit(name);
}

void SettingsStore::Commit(const std::string& name) {
    Store().sync();
    if (Store().status() == QSettings::NoError) return;
    const std::string file = PathFromQt(Store().fileName());
    throw ESettingsError("Failed to set data for '" + name + "' in " + file + ": " + WriteFailure(file));
}

SettingsStore& Settings() {
    static SettingsStore settings;
    return settings;
}
