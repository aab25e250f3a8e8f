#pragma once
// The settings store: named values of the current user, over QSettings (organisation "Veltrask",
// application "Corvane"). Reading a missing value writes its default, so after the first run
// every setting exists with its default. Used only from the UI thread.
#include <QSettings>
#include <memory>
#include <stdexcept>
#include <string>

// The key all of Corvane's values live under.
inline constexpr char SettingsKeyPath[] = "\\Software\\Veltrask\\Corvane";

// A value of the wrong type, or a write the store refuses. No caller catches it: the event
// handler guard shows it and the running operation ends.
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SettingsStore {
public:
    SettingsStore() = default;
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Opens path (SettingsKeyPath itself, or a key below it), creating what is missing.
    bool OpenKey(const std::string& path);
    // Closes the open key, committing what was written.
    void CloseKey();
    bool ValueExists(const std::string& name);
    int ReadInt(const std::string& name, int defaultValue);
    void WriteInt(const std::string& name, int value);
    std::string ReadStr(const std::string& name, const std::string& defaultValue);
    void WriteStr(const std::string& name, const std::string& value);

private:
    QSettings& Store();
    void Commit(const std::string& name);

    std::unique_ptr<QSettings> settings_; //!< The open key; none between operations.
};

// The program's one settings object.
SettingsStore& Settings();
