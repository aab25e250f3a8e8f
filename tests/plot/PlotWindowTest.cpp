// The plot window wired to the console, headless: the series dialog refuses a bad pattern and
// stores good ones with their units, replies from the simulator reach the chart on an axis per
// unit, the cursor reads them out, the export suggests a dated name and writes a row per reply.
#include "ConsoleFixture.h"
#include "DialogTestHelpers.h"
#include "app/PlotWiring.h"
#include "plot/Fplot.h"

#include <QAction>
#include <QApplication>
#include <QCategoryAxis>
#include <QChartView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <fstream>
#include <sstream>

class PlotWindowTest : public ConsoleTest {};

TEST_F(PlotWindowTest, SeriesFromTheDialogPlotTheRepliesAndExport) {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(amp.Ready()) << amp.Error();
    StartWith("tcp:127.0.0.1:" + std::to_string(amp.TcpPort()));
    TFormPlot* plot = WirePlotToConsole(*console);
    Find<QAction>("miPlot")->trigger();
    ASSERT_TRUE(plot->isVisible());

    int answers = 0;
    ModalAnswer answer([&](QWidget* dialog) {
        ::Find<QLineEdit>(*dialog, "EditName1")->setText("FWD");
        ::Find<QLineEdit>(*dialog, "EditPattern1")->setText("^FWD ([0-9.]+");
        QMetaObject::invokeMethod(dialog, "accept"); // refused: the box says why, the dialog stays
        answers = static_cast<int>(boxes.boxes.size());
        ::Find<QLineEdit>(*dialog, "EditPattern1")->setText("^FWD ([0-9.]+)");
        ::Find<QLineEdit>(*dialog, "EditUnit1")->setText("dBm");
        ::Find<QLineEdit>(*dialog, "EditName2")->setText("TEMP");
        ::Find<QLineEdit>(*dialog, "EditPattern2")->setText("^TEMP ([0-9.]+)");
        QMetaObject::invokeMethod(dialog, "accept");
    });
    ::Find<QPushButton>(*plot, "ButtonSeries")->click();
    ASSERT_EQ(answers, 1);
    EXPECT_EQ(boxes.boxes[0].text,
              "These series cannot be plotted: series \"FWD\": a parenthesis is not closed or not opened.");
    EXPECT_EQ(ReadSeriesSettings(),
              (std::vector<SeriesDefinition>{{"FWD", "^FWD ([0-9.]+)", "dBm"}, {"TEMP", "^TEMP ([0-9.]+)"}}));

    for (int i = 0; i < 3; ++i)
        Type("READ?");
    const ReplySeries& series = console->Session().Series();
    ASSERT_TRUE(Until([&] { return series.Count() == 2 && series.Points(1).Size() == 3; }));
    plot->Redraw();
    auto* view = ::Find<QChartView>(*plot, "PlotView");
    ASSERT_EQ(view->chart()->series().size(), 2);
    for (int i = 0; i < 2; ++i) {
        auto* line = static_cast<QLineSeries*>(view->chart()->series()[i]);
        QString titles;
        for (QAbstractAxis* axis : line->attachedAxes())
            titles += axis->titleText();
        EXPECT_EQ(titles, i == 0 ? "dBm" : "no unit");
        // Replies this close together may share a pixel column: what is drawn are stored values.
        ASSERT_GE(line->points().size(), 2);
        for (const QPointF& p : line->points()) {
            bool stored = false;
            for (size_t k = 0; k < 3; ++k)
                stored |= series.Points(i).At(k).value == p.y() && series.Points(i).At(k).timeMs == p.x();
            EXPECT_TRUE(stored) << p.x() << " " << p.y();
        }
    }
    EXPECT_FALSE(
        static_cast<QCategoryAxis*>(view->chart()->axes(Qt::Horizontal)[0])->categoriesLabels().isEmpty());
    const QPointF cursor = view->mapFromScene(view->chart()->plotArea().center());
    QMouseEvent move(QEvent::MouseMove, cursor, view->viewport()->mapToGlobal(cursor), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_TRUE(::Find<QLabel>(*plot, "LabelReadOut")->text().contains(" dBm   TEMP "))
        << ::Find<QLabel>(*plot, "LabelReadOut")->text().toStdString();

    const std::string path = (std::filesystem::path(dir.path().toStdString()) / "plot.csv").string();
    std::string suggested;
    plot->ChooseCsvFile = [&](const std::string& offered, std::string& chosen) {
        suggested = offered;
        chosen = path;
        return true;
    };
    ::Find<QPushButton>(*plot, "ButtonExport")->click();
    const std::filesystem::path documents =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    EXPECT_EQ(std::filesystem::path(suggested).parent_path(), documents);
    EXPECT_TRUE(suggested.ends_with(".csv") && suggested.find("/corvane-plot-20") != std::string::npos)
        << suggested;
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string csv = text.str();
    EXPECT_TRUE(csv.starts_with("Time,FWD,TEMP\r\n")) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4) << "a row per READ?: " << csv;
    EXPECT_EQ(csv.find(",\r\n"), std::string::npos) << "no half-empty row: " << csv;
    ::Find<QPushButton>(*plot, "ButtonExport")->click();
    EXPECT_EQ(std::filesystem::path(suggested).parent_path(), std::filesystem::path(path).parent_path())
        << "the last folder is offered next";
}
