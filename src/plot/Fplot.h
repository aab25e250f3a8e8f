#pragma once
// The plot window: the series taken from the replies against local time, one line each, with a
// legend; one value axis per unit (PlotAxes.h), the time axis ticked on round times.
// It follows the newest data unless the operator zooms, pans or pauses; the wheel zooms the time
// around the cursor, a drag of the left button zooms into a rectangle, the right button zooms
// out, a drag with the middle button (or Shift and the left) pans. Below the chart the cursor's time
// and each series' value there are read out. It draws from a timer, never per point: each redraw reduces
// what is in view to the pixel columns (ReduceToColumns), so a soak of millions of points stays quick.
// Everything here runs on the UI thread, the thread the series are filled on.
#include <QPointF>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ReplySeries;

class TFormPlot : public QWidget {
public:
    static constexpr int RedrawIntervalMs = 100;
    static constexpr int64_t DefaultSpanMs = 60000;

    // series stays the caller's and outlives the window.
    explicit TFormPlot(ReplySeries& series, QWidget* parent = nullptr);
    ~TFormPlot() override;

    // Shows and raises the window.
    void ShowPlot();
    // Draws what is in view now (the timer does this while the window is shown).
    void Redraw();
    // Every point in view, oldest to newest; the view stays there (following stops).
    void ShowAll();
    // The read-out label's text for the cursor at local time timeMs.
    std::string ReadOut(double timeMs) const;

    // The folder the export suggests (the documents folder until one is chosen).
    void SetExportFolder(const std::string& folder);
    // Asks where the CSV export goes, starting from suggested (folder and file name): path := the
    // chosen file, true. The file dialog unless replaced (tests answer it themselves).
    std::function<bool(const std::string& suggested, std::string& path)> ChooseCsvFile;
    // An export was written into folder; the wiring keeps it in the settings.
    std::function<void(const std::string& folder)> ExportFolderUsed;
    // The series dialog's OK: the definitions were taken; the wiring stores them in the settings.
    std::function<void()> SeriesChanged;

private:
    struct Chart;
    void BuildControls();
    void RebuildLines();
    void RebuildValueAxes();
    void ExportClick();
    void SeriesClick();
    void FollowChanged(bool on);
    // The time axis' range and ticks, and each value axis fitted to low..high (per axis).
    void SetAxes(const std::vector<double>& low, const std::vector<double>& high);
    void SetTimeTicks();
    // The wheel: the span in view times factor, the time under the cursor (x in pixels) kept.
    void ZoomTime(double factor, double atX);
    // The operator zoomed or panned with the view's own tools: the axes say what is in view.
    void TakeViewFromAxes();
    void StopFollowing();
    void ShowCursor(QPointF at);

    ReplySeries& series_;
    std::unique_ptr<Chart> chart_;
};
