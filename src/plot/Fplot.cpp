#include "plot/Fplot.h"

#include "platform/ModalBoxes.h"
#include "platform/QtPlatform.h"
#include "plot/FplotSeries.h"
#include "plot/PlotAxes.h"
#include "plot/PlotTime.h"
#include "plot/ReplySeries.h"
#include "plot/SeriesExport.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
// The chart view with the operator's mouse: the wheel zooms the time axis, the middle button (or
// Shift and the left) pans, and every move reports the cursor. The rubber band and the right
// button's zoom-out are the view's own.
class PlotView : public QChartView {
public:
    using QChartView::QChartView;
    std::function<void(double factor, double atX)> Zoom;
    std::function<void()> Moved; //!< the operator panned or zoomed with the view's own tools
    std::function<void(QPointF)> Cursor;

protected:
    void wheelEvent(QWheelEvent* e) override {
        const double factor = e->angleDelta().y() > 0 ? 0.8 : 1.25;
        if (Zoom) Zoom(factor, e->position().x());
        e->accept();
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (IsPan(e)) {
            panFrom_ = e->position();
            panning_ = true;
            e->accept();
            return;
        }
        QChartView::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (Cursor) Cursor(e->position());
        if (!panning_) return QChartView::mouseMoveEvent(e);
        const QPointF delta = e->position() - panFrom_;
        panFrom_ = e->position();
        chart()->scroll(-delta.x(), delta.y());
        if (Moved) Moved();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (panning_) {
            panning_ = false;
            return;
        }
        QChartView::mouseReleaseEvent(e);
        if (Moved) Moved();
    }

private:
    static bool IsPan(const QMouseEvent* e) {
        return e->button() == Qt::MiddleButton ||
               (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier));
    }
    QPointF panFrom_;
    bool panning_ = false;
};

// Qt lets no exception cross its event loop: every handler runs guarded.
template <class Handler> auto Guard(Handler handler) {
    return [handler] { Guarded(handler); };
}
template <class Handler> auto GuardToggle(Handler handler) {
    return [handler](bool on) { Guarded([&] { handler(on); }); };
}
} // namespace

struct TFormPlot::Chart {
    QChart* chart = nullptr;
    PlotView* view = nullptr;
    // The time axis in local wall-clock milliseconds; its categories are the ticks, labelled at
    // their values, which QDateTimeAxis (evenly spaced, not on round times) cannot do.
    QCategoryAxis* x = nullptr;
    std::vector<TimeTick> ticks; //!< what x shows now; set again only when they change
    std::vector<UnitAxis> units; //!< the value axes' series, one per unit
    std::vector<QValueAxis*> ys; //!< one per entry of units
    std::vector<QLineSeries*> lines;
    std::string exportFolder;
    QCheckBox* follow = nullptr;
    QPushButton* pause = nullptr;
    QLabel* readOut = nullptr;
    QTimer* timer = nullptr;
    uint64_t drawnVersion = ~uint64_t{0};
    uint64_t definitionsVersion = ~uint64_t{0};
    int64_t fromMs = 0, toMs = 0; //!< the time in view, local wall-clock milliseconds
    bool autoY = true;            //!< the value axis fits the data (until the operator zooms)
    bool settingRange = false;    //!< the axis moves because we move it
};

TFormPlot::TFormPlot(ReplySeries& series, QWidget* parent)
    : QWidget(parent, Qt::Window), series_(series), chart_(std::make_unique<Chart>()) {
    setObjectName("FormPlot");
    setWindowTitle("Plot");
    resize(800, 450);
    BuildControls();
    ChooseCsvFile = [this](const std::string& suggested, std::string& path) {
        const QString chosen = QFileDialog::getSaveFileName(
            this, "Export CSV", QString::fromStdString(suggested), "CSV files (*.csv)");
        path = chosen.toStdString();
        return !chosen.isEmpty();
    };
}

TFormPlot::~TFormPlot() = default;

void TFormPlot::BuildControls() {
    Chart& c = *chart_;
    c.chart = new QChart;
    c.x = new QCategoryAxis;
    c.x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    c.chart->addAxis(c.x, Qt::AlignBottom);
    c.exportFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    c.chart->legend()->setVisible(true);
    c.chart->legend()->setAlignment(Qt::AlignTop);
    c.view = new PlotView(c.chart);
    c.view->setObjectName("PlotView");
    c.view->setRubberBand(QChartView::RectangleRubberBand);
    c.view->setMouseTracking(true);
    c.follow = new QCheckBox("&Follow newest");
    c.follow->setObjectName("CheckFollow");
    c.follow->setChecked(true);
    c.pause = new QPushButton("&Pause");
    c.pause->setObjectName("ButtonPause");
    c.pause->setCheckable(true);
    auto* allButton = new QPushButton("Show &All");
    allButton->setObjectName("ButtonShowAll");
    auto* exportButton = new QPushButton("&Export CSV...");
    exportButton->setObjectName("ButtonExport");
    auto* seriesButton = new QPushButton("&Series...");
    seriesButton->setObjectName("ButtonSeries");
    c.readOut = new QLabel;
    c.readOut->setObjectName("LabelReadOut");
    auto* bar = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{seriesButton, c.follow, c.pause, allButton, exportButton})
        bar->addWidget(w);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(c.view);
    // A row of its own: with a few series the read-out is wider than the room beside the buttons.
    layout->addWidget(c.readOut);

    c.timer = new QTimer(this);
    c.timer->setInterval(RedrawIntervalMs);
    connect(c.timer, &QTimer::timeout, this, Guard([this] {
                if (isVisible() && !chart_->pause->isChecked() && series_.Version() != chart_->drawnVersion)
                    Redraw();
            }));
    connect(c.follow, &QCheckBox::toggled, this, GuardToggle([this](bool on) { FollowChanged(on); }));
    connect(c.pause, &QPushButton::toggled, this, GuardToggle([this](bool on) {
                if (!on) Redraw();
            }));
    connect(allButton, &QPushButton::clicked, this, Guard([this] { ShowAll(); }));
    connect(exportButton, &QPushButton::clicked, this, Guard([this] { ExportClick(); }));
    connect(seriesButton, &QPushButton::clicked, this, Guard([this] { SeriesClick(); }));
    c.view->Zoom = [this](double factor, double atX) { Guarded([&] { ZoomTime(factor, atX); }); };
    c.view->Moved = [this] { Guarded([&] { TakeViewFromAxes(); }); };
    c.view->Cursor = [this](QPointF at) { Guarded([&] { ShowCursor(at); }); };
}

void TFormPlot::ShowPlot() {
    show();
    raise();
    activateWindow();
    chart_->timer->start();
    Redraw();
}

void TFormPlot::RebuildLines() {
    Chart& c = *chart_;
    for (QLineSeries* line : c.lines) {
        c.chart->removeSeries(line);
        delete line;
    }
    c.lines.clear();
    RebuildValueAxes();
    for (const SeriesDefinition& d : series_.Definitions()) {
        auto* line = new QLineSeries;
        const QString unit = QString::fromLatin1(d.unit).trimmed();
        line->setName(QString::fromLatin1(d.name) + (unit.isEmpty() ? QString() : " [" + unit + "]"));
        c.chart->addSeries(line);
        line->attachAxis(c.x);
        c.lines.push_back(line);
    }
    for (size_t a = 0; a < c.units.size(); ++a) {
        for (size_t i : c.units[a].series)
            c.lines[i]->attachAxis(c.ys[a]);
    }
    c.definitionsVersion = series_.DefinitionsVersion();
}

// One axis per unit, the first on the left, the next on the right, and so on.
void TFormPlot::RebuildValueAxes() {
    Chart& c = *chart_;
    for (QValueAxis* y : c.ys) {
        c.chart->removeAxis(y);
        delete y;
    }
    c.ys.clear();
    c.units = GroupByUnit(series_.Definitions());
    for (size_t a = 0; a < c.units.size(); ++a) {
        auto* y = new QValueAxis;
        y->setTitleText(QString::fromLatin1(AxisTitle(c.units[a])));
        c.chart->addAxis(y, a % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
        c.ys.push_back(y);
    }
}

namespace {
// The newest point of all series; none without points.
std::optional<int64_t> NewestTime(const ReplySeries& series) {
    std::optional<int64_t> newest;
    for (size_t i = 0; i < series.Count(); ++i) {
        const SeriesStore& points = series.Points(i);
        if (points.Size() != 0)
            newest = std::max(newest.value_or(INT64_MIN), points.At(points.Size() - 1).timeMs);
    }
    return newest;
}

std::optional<int64_t> OldestTime(const ReplySeries& series) {
    std::optional<int64_t> oldest;
    for (size_t i = 0; i < series.Count(); ++i) {
        const SeriesStore& points = series.Points(i);
        if (points.Size() != 0) oldest = std::min(oldest.value_or(INT64_MAX), points.At(0).timeMs);
    }
    return oldest;
}
} // namespace

void TFormPlot::Redraw() {
    Chart& c = *chart_;
    if (c.definitionsVersion != series_.DefinitionsVersion()) RebuildLines();
    c.drawnVersion = series_.Version();
    if (c.follow->isChecked()) {
        const int64_t span = c.toMs > c.fromMs ? c.toMs - c.fromMs : DefaultSpanMs;
        c.toMs = NewestTime(series_).value_or(LocalNowMs()) + 1;
        c.fromMs = c.toMs - span;
    }
    const int columns = std::max(1, static_cast<int>(c.chart->plotArea().width()));
    std::vector<double> low(c.ys.size(), HUGE_VAL), high(c.ys.size(), -HUGE_VAL);
    for (size_t a = 0; a < c.units.size(); ++a) {
        for (size_t i : c.units[a].series) {
            const std::vector<PlotPoint> points =
                ReduceToColumns(series_.Points(i), c.fromMs, c.toMs, columns);
            QList<QPointF> shown;
            shown.reserve(static_cast<qsizetype>(points.size()));
            for (const PlotPoint& p : points) {
                shown.append(QPointF(static_cast<double>(p.timeMs), p.value));
                low[a] = std::min(low[a], p.value);
                high[a] = std::max(high[a], p.value);
            }
            c.lines[i]->replace(shown);
        }
    }
    SetAxes(low, high);
}

void TFormPlot::ShowAll() {
    Chart& c = *chart_;
    const std::optional<int64_t> oldest = OldestTime(series_), newest = NewestTime(series_);
    if (!oldest) return;
    c.fromMs = *oldest;
    c.toMs = std::max(*newest + 1, *oldest + 10);
    c.autoY = true;
    StopFollowing();
    Redraw();
}

void TFormPlot::SetAxes(const std::vector<double>& low, const std::vector<double>& high) {
    Chart& c = *chart_;
    c.settingRange = true;
    c.x->setRange(static_cast<double>(c.fromMs), static_cast<double>(c.toMs));
    SetTimeTicks();
    for (size_t a = 0; a < c.ys.size() && c.autoY; ++a) {
        if (low[a] > high[a]) continue;
        const double margin =
            high[a] > low[a] ? (high[a] - low[a]) * 0.05 : std::max(1.0, std::abs(high[a]) * 0.05);
        c.ys[a]->setRange(low[a] - margin, high[a] + margin);
        c.ys[a]->applyNiceNumbers(); // ticks on round values, for a few more pixels of range
    }
    c.settingRange = false;
}

// A category per tick, labelled at its end; set again only when the ticks change, so following
// the newest data redraws labels only as a tick moves in or out.
void TFormPlot::SetTimeTicks() {
    Chart& c = *chart_;
    std::vector<TimeTick> ticks =
        TimeTicks(c.fromMs, c.toMs, std::max(1, static_cast<int>(c.chart->plotArea().width())));
    if (ticks == c.ticks) return;
    for (const QString& label : c.x->categoriesLabels())
        c.x->remove(label);
    // A category ends after it starts: a tick right on the view's edge keeps its label.
    c.x->setStartValue(static_cast<double>(c.fromMs) - 1);
    for (const TimeTick& tick : ticks)
        c.x->append(QString::fromStdString(tick.label), static_cast<double>(tick.timeMs));
    c.ticks = std::move(ticks);
}

void TFormPlot::FollowChanged(bool on) {
    if (on) chart_->autoY = true;
    Redraw();
}

void TFormPlot::ZoomTime(double factor, double atX) {
    Chart& c = *chart_;
    const QRectF area = c.chart->plotArea();
    if (area.width() <= 0) return;
    const double share = std::clamp((atX - area.left()) / area.width(), 0.0, 1.0);
    const double span = static_cast<double>(c.toMs - c.fromMs);
    const double at = static_cast<double>(c.fromMs) + share * span;
    const double newSpan = std::max(10.0, span * factor);
    c.fromMs = std::llround(at - share * newSpan);
    c.toMs = std::llround(at + (1 - share) * newSpan);
    StopFollowing();
    Redraw();
}

void TFormPlot::TakeViewFromAxes() {
    Chart& c = *chart_;
    c.fromMs = std::llround(c.x->min());
    c.toMs = std::llround(c.x->max());
    c.autoY = false;
    StopFollowing();
    Redraw();
}

void TFormPlot::StopFollowing() {
    QSignalBlocker quiet(chart_->follow);
    chart_->follow->setChecked(false);
}

void TFormPlot::ShowCursor(QPointF at) {
    Chart& c = *chart_;
    if (c.lines.empty() || !c.chart->plotArea().contains(at)) {
        c.readOut->clear();
        return;
    }
    c.readOut->setText(QString::fromLatin1(ReadOut(c.chart->mapToValue(at, c.lines.front()).x())));
}

std::string TFormPlot::ReadOut(double timeMs) const {
    return CursorReadOut(series_, std::llround(timeMs));
}

void TFormPlot::SetExportFolder(const std::string& folder) {
    if (!folder.empty()) chart_->exportFolder = folder;
}

void TFormPlot::ExportClick() {
    const std::string suggested = QDir(QString::fromStdString(chart_->exportFolder))
                                      .filePath(QString::fromStdString(SuggestedExportName(LocalNowMs())))
                                      .toStdString();
    std::string path;
    if (!ChooseCsvFile || !ChooseCsvFile(suggested, path)) return;
    std::string reason;
    if (!ExportCsv(series_, path, reason)) {
        Boxes().Error("Export CSV", "The series were not exported to \"" + path + "\". " + reason);
        return;
    }
    chart_->exportFolder = QFileInfo(QString::fromStdString(path)).absolutePath().toStdString();
    if (ExportFolderUsed) ExportFolderUsed(chart_->exportFolder);
}

void TFormPlot::SeriesClick() {
    TFormPlotSeries dialog(this);
    dialog.SetDefinitions(series_.Definitions());
    if (dialog.exec() != QDialog::Accepted) return;
    std::string reason;
    if (!series_.SetDefinitions(dialog.Definitions(), reason)) {
        Boxes().Error("Plot Series", reason);
        return;
    }
    if (SeriesChanged) SeriesChanged();
    Redraw();
}
