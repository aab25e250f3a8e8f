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
    if (auto* action = console.findChild<QAction*>("miPlot"))
        QObject::connect(action, &QAction::triggered, plot,
                         [plot] { Guarded([plot] { plot->ShowPlot(); }); });
    return plot;
}
