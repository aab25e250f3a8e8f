#pragma once
// The plot window and the console: the console's Connection menu shows the plot, the plot draws
// the series of the console's session, and the series live in the settings (key Plot below
// SettingsKeyPath: SeriesNName, SeriesNPattern and SeriesNUnit, N = 1..8, a set stored without
// units reading as series without one; ExportFolder, the folder of the last export). Built into corvane_plot,
// the one library that needs Qt Charts. UI thread.
#include "plot/ReplySeries.h"

#include <vector>

class TFormConsole;
class TFormPlot;

// The series stored in the settings; none when none were ever set (nothing is written then).
std::vector<SeriesDefinition> ReadSeriesSettings();
void WriteSeriesSettings(const std::vector<SeriesDefinition>& definitions);

// Makes the plot window (a child of the console, which owns it), gives the session the stored
// series and hooks up the menu's "miPlot". A stored set that is no longer valid is not taken, and
// the log says why.
TFormPlot* WirePlotToConsole(TFormConsole& console);
