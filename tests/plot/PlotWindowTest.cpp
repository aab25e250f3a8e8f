// The plot window wired to the console, headless: the series dialog refuses a bad pattern and
// stores good ones, replies from the simulator reach the chart, the export writes them.
#include "ConsoleFixture.h"
#include "DialogTestHelpers.h"
#include "app/PlotWiring.h"
#include "plot/Fplot.h"

#include <QAction>
#include <QChartView>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
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
        QMetaObject::invokeMethod(dialog, "accept");
    });
    ::Find<QPushButton>(*plot, "ButtonSeries")->click();
    ASSERT_EQ(answers, 1);
    EXPECT_EQ(boxes.boxes[0].text,
              "These series cannot be plotted: series \"FWD\": a parenthesis is not closed or not opened.");
    EXPECT_EQ(ReadSeriesSettings(), (std::vector<SeriesDefinition>{{"FWD", "^FWD ([0-9.]+)"}}));

    for (int i = 0; i < 3; ++i)
        Type("FWD?");
    const ReplySeries& series = console->Session().Series();
    ASSERT_TRUE(Until([&] { return series.Count() == 1 && series.Points(0).Size() == 3; }));
    plot->Redraw();
    auto* view = ::Find<QChartView>(*plot, "PlotView");
    ASSERT_EQ(view->chart()->series().size(), 1);
    // Replies this close together may share a pixel column: what is drawn are stored values.
    const QList<QPointF> drawn = static_cast<QLineSeries*>(view->chart()->series()[0])->points();
    ASSERT_GE(drawn.size(), 2);
    for (const QPointF& p : drawn) {
        bool stored = false;
        for (size_t i = 0; i < 3; ++i)
            stored |= series.Points(0).At(i).value == p.y();
        EXPECT_TRUE(stored) << p.y();
    }

    const std::string path = (std::filesystem::path(dir.path().toStdString()) / "plot.csv").string();
    plot->ChooseCsvFile = [&](std::string& chosen) {
        chosen = path;
        return true;
    };
    ::Find<QPushButton>(*plot, "ButtonExport")->click();
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string csv = text.str();
    EXPECT_TRUE(csv.starts_with("Time,FWD\r\n")) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4) << csv;
}
