#pragma once
// The console's colour log: a scroll area over a LogLines store that lays out and paints only the
// rows in view. Every row has the height of one line of the monospace font, so the row at any
// scroll position is found by arithmetic, whatever the number of lines.
//
// Appending is cheap: the line goes into the store and one update is scheduled per turn of the
// event loop (a posted call), which sets the scroll bars and scrolls to the newest line; the rows
// and scroll bars are repainted for new lines at most once per frame (16 ms), as no screen shows
// more.
// The view follows the newest line only while it shows the bottom: an operator who has scrolled
// up to read keeps the place, and follows again after scrolling back to the end.
//
// Selection is one range of whole lines (click, shift-click, drag, Ctrl+A); Ctrl+C and the context
// menu copy it. Assistive technology reads the lines in view as text (LogViewAccessible.h). Used
// only from the UI thread.
#include "log/LogLines.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QMenu;
class QPalette;

// The colour of a log colour value: plain RGB 0x00BBGGRR (R in the low byte), or for a system
// colour reference 0xFF0000nn the palette role that stands for system colour nn (8 window text,
// 5 window, 15 button face, 13 highlight, ...). An unknown system index gives the text colour.
QColor LogColour(uint32_t colour, const QPalette& palette);

// The fixed-pitch font of the log, the console's input line and the batch script: Lucida Console
// where it is installed, else the system's fixed font.
QFont ConsoleFont(int pointSize = 10);

class TLogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TLogView(QWidget* parent = nullptr);
    ~TLogView() override;

    // Appends one log entry; line ends inside text make several lines of the one colour. The
    // screen catches up on the next turn of the event loop.
    void AppendLine(const std::string& text, uint32_t colour);
    // Brings the scroll bars and the screen up to date at once, for callers that keep the event
    // loop waiting while they log (the conversion-table tools).
    void FlushNow();
    void Clear();
    // Called before any row is painted and before each frame's repaint is asked for, hidden or
    // not: the owner writes what must be safe on disk before it is seen (the session log file).
    void SetBeforePaint(std::function<void()> beforePaint) { beforePaint_ = std::move(beforePaint); }

    const LogLines& Lines() const { return lines_; }

    // Shows every control byte (below 0x20, and 0x7f) as "\xhh" in a dimmer shade of its line's
    // colour, and with high also every byte 0x80-0xff; both false shows the bytes as they are.
    // Only the rows in view are drawn again, so a switch costs the same at any number of lines;
    // the stored lines, the selection and copying keep the bytes as received. high alone is off.
    void SetShowControlChars(bool controls, bool high);
    ControlCharMode ShownControlChars() const { return controlChars_; }
    // Shows every sent and received line as its bytes in hex beside them as text (HexBytes.h),
    // its stamp and direction as they are; other lines stay as the control-character mode shows
    // them. Like that mode it changes only what is drawn: the stored lines, find, the selection
    // and copying keep the bytes, and a switch redraws only the rows in view.
    void SetShowHex(bool on);
    bool ShowsHex() const { return hexView_; }
    // The characters row shows from its first column on, as the modes above lay it out.
    std::string ShownText(qint64 row) const;

    // Selection: lines between the anchor and the current line, both included.
    bool HasSelection() const { return anchor_ >= 0; }
    qint64 SelectionFirst() const { return std::min(anchor_, current_); }
    qint64 SelectionLast() const { return std::max(anchor_, current_); }
    void SelectAll();
    void SelectLines(qint64 anchor, qint64 current);
    // The selected lines joined with LF (the desktop's line end), none after the last.
    std::string SelectedText() const;
    // Puts SelectedText on the clipboard; nothing happens without a selection.
    void Copy();
    // A menu with Copy and Select All acting on this view, Find... when a find is offered, and the
    // owner's view actions; the caller owns it.
    QMenu* CreateContextMenu(QWidget* parent);
    // An action of the owner's (a view toggle such as the hex view) that the context menu offers
    // after its own; the owner keeps it alive as long as this view.
    void AddViewAction(QAction* action) { viewActions_.push_back(action); }
    // What the menu's Find... calls; none (the default) leaves the entry out.
    void SetFindRequest(std::function<void()> request) { findRequest_ = std::move(request); }
    // Rows for which tinted(row) is true get a tinted background (the matches of a find); only the
    // rows in view are asked, at each paint. None by default.
    void SetRowTint(std::function<bool(qint64 row)> tinted);
    // Selects row alone and scrolls it into view.
    void ShowRow(qint64 row);

    // Geometry, in viewport coordinates: the line at y (-1 below the last line), the first line
    // in view and the last one shown in full.
    int RowHeight() const { return rowHeight_; }
    qint64 RowAt(int y) const;
    qint64 FirstVisibleRow() const;
    qint64 LastVisibleRow() const;
    // The character cell at row and column (tabs expanded), in viewport coordinates, and the
    // column under x (negative left of the first).
    QRect CellRect(qint64 row, qint64 column) const;
    qint64 ColumnAt(int x) const;

protected:
    // Ctrl+F in the log is the log's own Find... while one is offered, whatever else in the window
    // has that shortcut.
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void ScheduleUpdate();
    void ApplyPending();
    void RequestFrame();
    void PaintFrame();
    void HoldScrollBarPaints(bool hold);
    void UpdateScrollBars();
    void SetRanges();
    void UpdateMetrics();
    int FullRows() const;
    qint64 ClampedRowAt(int y) const;
    void ScrollToShow(qint64 row);
    void PaintRow(QPainter& painter, qint64 row, int top, qint64 firstColumn, qint64 columns);
    void PaintEscapedRow(QPainter& painter, std::string_view text, const QColor& colour, const QColor& dim,
                         qreal x, int baseline, qint64 firstColumn, qint64 columns);

    LogLines lines_;
    ControlCharMode controlChars_ = ControlCharMode::Off;
    bool hexView_ = false;
    bool updatePosted_ = false;   //!< A posted ApplyPending is on its way.
    bool dirty_ = false;          //!< Lines came since the scroll bars were last set.
    bool followingLines_ = false; //!< The scroll bars are being moved to show new lines.
    QElapsedTimer sincePaint_;    //!< Since the viewport was last painted.
    QTimer frameTimer_;           //!< Repaints new lines that came too soon after a paint.
    int rowHeight_ = 1;
    qreal charWidth_ = 1;
    int ascent_ = 0;
    qint64 anchor_ = -1; //!< Where the selection began; -1 for none.
    qint64 current_ = -1;
    std::function<void()> beforePaint_;
    std::function<void()> findRequest_;
    std::function<bool(qint64)> rowTint_;
    std::vector<QAction*> viewActions_;
};
