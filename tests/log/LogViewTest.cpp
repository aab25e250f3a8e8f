// The log view, headless: following the newest line per turn of the event loop, keeping the place
// when scrolled up, selection and copy, Clear, and what the rows look like when painted.
#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

TEST(LogColour, PlainValuesAreBgrAndReferencesArePaletteRoles) {
    QPalette palette;
    palette.setColor(QPalette::Text, QColor(1, 2, 3));
    palette.setColor(QPalette::Base, QColor(4, 5, 6));
    palette.setColor(QPalette::Button, QColor(7, 8, 9));
    palette.setColor(QPalette::Highlight, QColor(10, 11, 12));

    EXPECT_EQ(LogColour(LogColours::Teal, palette), QColor(0, 128, 128));
    EXPECT_EQ(LogColour(LogColours::Maroon, palette), QColor(128, 0, 0));
    EXPECT_EQ(LogColour(LogColours::Blue, palette), QColor(0, 0, 255));
    EXPECT_EQ(LogColour(LogColours::Red, palette), QColor(255, 0, 0));
    EXPECT_EQ(LogColour(0x00123456, palette), QColor(0x56, 0x34, 0x12));

    EXPECT_EQ(LogColour(LogColours::WindowText, palette), QColor(1, 2, 3));
    EXPECT_EQ(LogColour(0xFF000005, palette), QColor(4, 5, 6));
    EXPECT_EQ(LogColour(0xFF00000F, palette), QColor(7, 8, 9));
    EXPECT_EQ(LogColour(0xFF00000D, palette), QColor(10, 11, 12));
    EXPECT_EQ(LogColour(0xFF0000FE, palette), QColor(1, 2, 3)); // no such system colour
}

namespace {
class LogViewTest : public testing::Test {
protected:
    void SetUp() override {
        view.resize(400, 300);
        view.show();
        Turn();
    }
    static void Turn() { QCoreApplication::processEvents(); }
    void AppendNumbered(int count, uint32_t colour = LogColours::Maroon) {
        for (int i = 0; i < count; ++i) {
            view.AppendLine("line " + std::to_string(next++), colour);
        }
    }
    QPoint RowCentre(qint64 row) const {
        return {30, static_cast<int>(row - view.FirstVisibleRow()) * view.RowHeight() + view.RowHeight() / 2};
    }
    void Click(qint64 row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, RowCentre(row));
    }
    void DragTo(qint64 row) {
        QPointF at = RowCentre(row);
        QMouseEvent move(QEvent::MouseMove, at, view.viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &move);
    }
    QScrollBar* Vertical() const { return view.verticalScrollBar(); }

    TLogView view;
    int next = 0;
};
} // namespace

TEST_F(LogViewTest, TheNewestLineIsTheBottomRowAfterEachTurn) {
    AppendNumbered(1000);
    Turn();
    EXPECT_GT(Vertical()->maximum(), 0);
    EXPECT_EQ(Vertical()->value(), Vertical()->maximum());
    EXPECT_EQ(view.LastVisibleRow(), 999);
    EXPECT_EQ(view.RowAt(view.viewport()->height() + 1), -1);

    view.AppendLine("Point List:\r\n1 2\r\n3 4", LogColours::Blue);
    Turn();
    EXPECT_EQ(view.Lines().Count(), 1003u);
    EXPECT_EQ(view.LastVisibleRow(), 1002);
    EXPECT_EQ(Vertical()->value(), Vertical()->maximum());

    // Tools that keep the event loop waiting while they log bring the view up to date at once.
    AppendNumbered(3);
    view.FlushNow();
    EXPECT_EQ(view.LastVisibleRow(), 1005);
}

TEST_F(LogViewTest, AViewScrolledUpKeepsItsPlaceAndFollowsAgainAtTheBottom) {
    AppendNumbered(500);
    Turn();
    Vertical()->setValue(10);
    AppendNumbered(100);
    Turn();
    EXPECT_EQ(view.FirstVisibleRow(), 10);
    EXPECT_LT(view.LastVisibleRow(), 500);

    Vertical()->setValue(Vertical()->maximum());
    AppendNumbered(100);
    Turn();
    EXPECT_EQ(view.LastVisibleRow(), 699);
}

TEST_F(LogViewTest, ClickShiftClickAndDragSelectLinesThatCopyJoined) {
    AppendNumbered(8);
    Turn();
    ASSERT_EQ(view.FirstVisibleRow(), 0);

    Click(2);
    Click(4, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "line 2\nline 3\nline 4");

    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, RowCentre(6));
    DragTo(5);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, RowCentre(5));
    EXPECT_EQ(view.SelectedText(), "line 5\nline 6");

    // A click below the last line takes the last line.
    Click(20);
    EXPECT_EQ(view.SelectedText(), "line 7");
}

TEST_F(LogViewTest, SelectAllCopiesEveryLineWithItsBytes) {
    view.AppendLine("Rx: \xb0"
                    "C \xe4",
                    LogColours::Maroon);
    view.AppendLine("Point List:\r\n1 2", LogColours::Blue);
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), ToQt("Rx: \xb0"
                                                      "C \xe4\nPoint List:\n1 2"));
}

TEST_F(LogViewTest, ContextMenuCopiesAndSelectsAll) {
    AppendNumbered(3);
    std::unique_ptr<QMenu> menu(view.CreateContextMenu(nullptr));
    auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "Copy");
    EXPECT_FALSE(actions[0]->isEnabled()); // nothing selected yet
    EXPECT_EQ(actions[1]->text(), "Select All");
    actions[1]->trigger();
    QApplication::clipboard()->clear();
    std::unique_ptr<QMenu> second(view.CreateContextMenu(nullptr));
    ASSERT_TRUE(second->actions()[0]->isEnabled());
    second->actions()[0]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "line 0\nline 1\nline 2");
}

TEST_F(LogViewTest, ClearEmptiesTheLogSelectionAndScrollBars) {
    for (int i = 0; i < 300; ++i) {
        view.AppendLine(std::string(200, 'w'), LogColours::Teal);
    }
    Turn();
    view.SelectAll();
    ASSERT_GT(Vertical()->maximum(), 0);
    ASSERT_GT(view.horizontalScrollBar()->maximum(), 0);

    view.Clear();
    EXPECT_EQ(view.Lines().Count(), 0u);
    EXPECT_FALSE(view.HasSelection());
    EXPECT_EQ(view.SelectedText(), "");
    EXPECT_EQ(Vertical()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.LastVisibleRow(), -1);

    AppendNumbered(2);
    Turn();
    EXPECT_EQ(view.LastVisibleRow(), 1);
    EXPECT_EQ(view.Lines().Text(0), "line 0");
}

namespace {
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    int paints = 0;
};

// Runs the event loop until done() holds, for at most two seconds.
template <class Done> bool RunUntil(Done done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return done();
}
} // namespace

// Rows are repainted for new lines at most once per frame; lines that come right after a paint
// must still reach the screen, and the scroll bars with them.
TEST_F(LogViewTest, LinesThatComeRightAfterAPaintArePaintedInTheNextFrame) {
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);
    AppendNumbered(100);
    Turn();
    Turn(); // the scroll bars have appeared and the viewport has its final size
    view.FlushNow();
    int paints = counter.paints;
    ASSERT_GT(paints, 0);
    AppendNumbered(5);
    Turn();
    EXPECT_EQ(view.LastVisibleRow(), 104);
    EXPECT_TRUE(RunUntil([&] { return counter.paints > paints; }));
    EXPECT_TRUE(RunUntil([&] { return Vertical()->updatesEnabled(); }));
    view.viewport()->removeEventFilter(&counter);
}

namespace {
// True when some pixel of the rectangle is within tolerance of colour in every channel; glyph
// edges are blended with the background, their stems are not.
bool AreaHasColour(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 24) {
    QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) <= tolerance &&
                std::abs(pixel.green() - colour.green()) <= tolerance &&
                std::abs(pixel.blue() - colour.blue()) <= tolerance) {
                return true;
            }
        }
    }
    return false;
}
} // namespace

TEST_F(LogViewTest, RowsArePaintedInTheirColoursAtEverySize) {
    for (QSize size : {QSize(160, 90), QSize(400, 300), QSize(900, 140)}) {
        SCOPED_TRACE(size.width());
        view.Clear();
        view.resize(size);
        AppendNumbered(200, LogColours::Teal);
        view.AppendLine("Error: ######## failed", LogColours::Red);
        view.AppendLine("Rx: ######## STATUS", LogColours::Maroon);
        view.AppendLine("Delaying ######## ms", LogColours::Blue);
        Turn();
        view.SelectLines(200, 200);

        QImage image = view.grab().toImage();
        QPoint origin = view.viewport()->geometry().topLeft();
        auto rowArea = [&](qint64 row) {
            int top = static_cast<int>(row - view.FirstVisibleRow()) * view.RowHeight();
            return QRect(origin.x(), origin.y() + top, view.viewport()->width(), view.RowHeight());
        };
        QPalette palette = view.palette();
        ASSERT_EQ(view.LastVisibleRow(), 202);
        EXPECT_TRUE(AreaHasColour(image, rowArea(202), QColor(0, 0, 255)));
        EXPECT_TRUE(AreaHasColour(image, rowArea(201), QColor(128, 0, 0)));
        EXPECT_FALSE(AreaHasColour(image, rowArea(201), QColor(0, 0, 255), 60));
        if (view.FirstVisibleRow() <= 200) {
            EXPECT_TRUE(AreaHasColour(image, rowArea(200), palette.color(QPalette::Highlight), 0));
            EXPECT_FALSE(AreaHasColour(image, rowArea(200), QColor(255, 0, 0), 60));
        }
        if (view.FirstVisibleRow() <= 199) {
            EXPECT_TRUE(AreaHasColour(image, rowArea(199), QColor(0, 128, 128)));
        }
        EXPECT_TRUE(AreaHasColour(image, rowArea(199), QColor(0, 128, 128)));
    }
}

// No word wrap: a long line stays one row and the view scrolls sideways to its end.
TEST_F(LogViewTest, LongLinesScrollHorizontally) {
    view.AppendLine("short", LogColours::Blue);
    view.AppendLine(std::string(500, '-') + "########", LogColours::Red);
    Turn();
    EXPECT_EQ(view.Lines().Count(), 2u);
    QScrollBar* horizontal = view.horizontalScrollBar();
    ASSERT_GT(horizontal->maximum(), 0);

    QRect row1(view.viewport()->geometry().topLeft() + QPoint(0, view.RowHeight()),
               QSize(view.viewport()->width(), view.RowHeight()));
    QRect row0(view.viewport()->geometry().topLeft(), QSize(view.viewport()->width(), view.RowHeight()));
    horizontal->setValue(horizontal->maximum());
    QImage image = view.grab().toImage();
    EXPECT_TRUE(AreaHasColour(image, row1, QColor(255, 0, 0)));
    EXPECT_FALSE(AreaHasColour(image, row0, QColor(0, 0, 255), 60)); // "short" is out of view
}

// Escapes take their line's colour halfway to the background, the rest of the line its own
// colour; the switch widens the horizontal extent at once and switching back restores it. The
// stored bytes and copying are untouched.
TEST_F(LogViewTest, ControlBytesShowAsDimEscapesWhenSwitchedOn) {
    QPalette palette = view.palette();
    palette.setColor(QPalette::Base, Qt::white);
    view.setPalette(palette);
    const std::string raw = std::string("\x01\x02\x03\x04\x05\x06\x07\x08") + "########" + "\xe9";
    view.AppendLine(raw, LogColours::Red);
    Turn();
    const qreal cell = QFontMetricsF(view.font()).horizontalAdvance(QLatin1Char('0'));
    const QPoint origin = view.viewport()->geometry().topLeft();
    auto columns = [&](int first, int count) {
        return QRect(origin.x() + 3 + static_cast<int>(first * cell), origin.y(),
                     static_cast<int>(count * cell), view.RowHeight());
    };
    const QColor red(255, 0, 0);
    const QColor dim(255, 127, 127);

    view.SetShowControlChars(true, false);
    EXPECT_EQ(view.ShownControlChars(), ControlCharMode::Controls);
    QImage image = view.grab().toImage();
    EXPECT_TRUE(AreaHasColour(image, columns(0, 32), dim, 8));   // eight escapes, dim
    EXPECT_FALSE(AreaHasColour(image, columns(0, 32), red, 60)); // none in full red
    EXPECT_TRUE(AreaHasColour(image, columns(32, 8), red, 24));  // the text after them

    view.SetShowControlChars(false, true); // the high-byte option alone shows nothing
    EXPECT_EQ(view.ShownControlChars(), ControlCharMode::Off);
    image = view.grab().toImage();
    EXPECT_TRUE(AreaHasColour(image, columns(8, 8), red, 24)); // the text is back in column 8

    view.resize(static_cast<int>(30 * cell), 300); // wider than the plain line, narrower than escaped
    Turn();
    const int plainExtent = view.horizontalScrollBar()->maximum();
    view.SetShowControlChars(true, false);
    EXPECT_GT(view.horizontalScrollBar()->maximum(), plainExtent);
    view.SetShowControlChars(false, false);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), plainExtent);

    view.SetShowControlChars(true, true);
    EXPECT_EQ(view.ShownControlChars(), ControlCharMode::ControlsAndHigh);
    view.SelectAll();
    EXPECT_EQ(view.SelectedText(), raw);
}
