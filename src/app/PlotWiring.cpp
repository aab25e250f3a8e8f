#include "app/PlotWiring.h"

#include "app/Fconsole.h"
#include "log/LogColours.h"
#include "platform/Config.h"
#include "platform/QtPlatform.h"
#include "plot/Fplot.h"

#include <QAction>

namespace {
const std::string PlotKey = std::string(SettingsKeyPath) + "\\Plot";

std::string NameValue(size_t i) {
    return "Series" + std::to_string(i + 1) + "Name";
}
std::string PatternValue(size_t i) {
    return "Series" + std::to_string(i + 1) + "Pattern";
}
std::string UnitValue(size_t i) {
    return "Series" + std::to_string(i + 1) + "Unit";
}
const std::string ExportFolderValue = "ExportFolder";

std::string ReadExportFolder() {
    SettingsStore& settings = Settings();
    settings.OpenKey(PlotKey);
    std::string folder =
        settings.ValueExists(ExportFolderValue) ? settings.ReadStr(ExportFolderValue, "") : "";
    settings.CloseKey();
    return folder;
}

void WriteExportFolder(const std::string& folder) {
    SettingsStore& settings = Settings();
    settings.OpenKey(PlotKey);
    settings.WriteStr(ExportFolderValue, folder);
    settings.CloseKey();
}
} // namespace

std::vector<SeriesDefinition> ReadSeriesSettings() {
    std::vector<SeriesDefinition> definitions;
    SettingsStore& settings = Settings();
    settings.OpenKey(PlotKey);
    for (size_t i = 0; i < MaxSeries; ++i) {
        // Only what was stored is read: reading would write a default, and a user who never sets
        // a series keeps the settings as they were.
        if (!settings.ValueExists(NameValue(i))) continue;
        SeriesDefinition d{settings.ReadStr(NameValue(i), ""), settings.ReadStr(PatternValue(i), "")};
        if (settings.ValueExists(UnitValue(i))) d.unit = settings.ReadStr(UnitValue(i), "");
        if (!d.name.empty()) definitions.push_back(d);
    }
    settings.CloseKey();
    return definitions;
}

void WriteSeriesSettings(const std::vector<SeriesDefinition>& definitions) {
    SettingsStore& settings = Settings();
    settings.OpenKey(PlotKey);
    for (size_t i = 0; i < MaxSeries; ++i) {
        const bool used = i < definitions.size();
        settings.WriteStr(NameValue(i), used ? definitions[i].name : "");
        settings.WriteStr(PatternValue(i), used ? definitions[i].pattern : "");
        settings.WriteStr(UnitValue(i), used ? definitions[i].unit : "");
    }
    settings.CloseKey();
}

TFormPlot* WirePlotToConsole(TFormConsole& console) {
    ReplySeries& series = console.Session().Series();
    std::string reason;
    if (std::vector<SeriesDefinition> stored = ReadSeriesSettings();
        !stored.empty() && !series.SetDefinitions(stored, reason))
        console.AddLogLine("The stored plot series were not taken: " + reason, LogColours::Error);
    auto* plot = new TFormPlot(series, &console);
    plot->SeriesChanged = [&series] { WriteSeriesSettings(series.Definitions()); };
    plot->SetExportFolder(ReadExportFolder());
    plot->ExportFolderUsed = [](const std::string& folder) { WriteExportFolder(folder); };
    if (auto* action = console.findChild<QAction*>("miPlot"))
        QObject::connect(action, &QAction::triggered, plot,
                         [plot] { Guarded([plot] { plot->ShowPlot(); }); });
    return plot;
}
