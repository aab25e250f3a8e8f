#include "log/LogView.h"
#include "log/HexBytes.h"
#include "log/LogViewAccessible.h"
#include "platform/QtPlatform.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>

#include <array>
#include <climits>
#include <cmath>
#include <memory>

namespace {
// Space between the frame and the first column, in pixels.
constexpr int TextMargin = 3;
// The shortest time between two repaints for new lines: one frame of a 60 Hz screen.
constexpr qint64 FrameMs = 16;

struct SystemColour {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The palette role standing for each system colour index of the colour references, 0..30.
constexpr std::array<SystemColour, 31> SystemColours{{
    {QPalette::Active, QPalette::Button},          // 0 scroll bar
    {QPalette::Active, QPalette::Dark},            // 1 desktop
    {QPalette::Active, QPalette::Highlight},       // 2 active caption
    {QPalette::Inactive, QPalette::Highlight},     // 3 inactive caption
    {QPalette::Active, QPalette::Window},          // 4 menu
    {QPalette::Active, QPalette::Base},            // 5 window (the background of text views)
    {QPalette::Active, QPalette::Shadow},          // 6 window frame
    {QPalette::Active, QPalette::WindowText},      // 7 menu text
    {QPalette::Active, QPalette::Text},            // 8 window text (text on the window colour)
    {QPalette::Active, QPalette::HighlightedText}, // 9 caption text
    {QPalette::Active, QPalette::Button},          // 10 active border
    {QPalette::Inactive, QPalette::Button},        // 11 inactive border
    {QPalette::Active, QPalette::Dark},            // 12 application workspace
    {QPalette::Active, QPalette::Highlight},       // 13 highlight
    {QPalette::Active, QPalette::HighlightedText}, // 14 highlight text
    {QPalette::Active, QPalette::Button},          // 15 button face
    {QPalette::Active, QPalette::Dark},            // 16 button shadow
    {QPalette::Disabled, QPalette::Text},          // 17 grey text
    {QPalette::Active, QPalette::ButtonText},      // 18 button text
    {QPalette::Inactive, QPalette::WindowText},    // 19 inactive caption text
    {QPalette::Active, QPalette::Light},           // 20 button highlight
    {QPalette::Active, QPalette::Shadow},          // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // 23 info text
    {QPalette::Active, QPalette::ToolTipBase},     // 24 info background
    {QPalette::Active, QPalette::Text},            // 25 (unused)
    {QPalette::Active, QPalette::Link},            // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},       // 27 active caption gradient
    {QPalette::Inactive, QPalette::Highlight},     // 28 inactive caption gradient
    {QPalette::Active, QPalette::Highlight},       // 29 menu highlight
    {QPalette::Active, QPalette::Window},          // 30 menu bar
}};

// The characters of text shown in columns [first, first + count), tabs expanded to spaces.
QString VisibleCells(std::string_view text, qint64 first, qint64 count) {
    if (text.find('\t') == std::string_view::npos) {
        if (first >= static_cast<qint64>(text.size())) {
            return {};
        }
        auto length = std::min<qint64>(count, static_cast<qint64>(text.size()) - first);
        return QString::fromLatin1(text.data() + first, length);
    }
    QString cells;
    qint64 column = 0;
    qint64 end = first + count;
    for (char c : text) {
        qint64 next = c == '\t' ? (column / LogLines::TabWidth + 1) * LogLines::TabWidth : column + 1;
        for (qint64 cell = std::max(column, first); cell < std::min(next, end); ++cell) {
            cells.append(c == '\t' ? QChar(' ') : QChar::fromLatin1(c));
        }
        column = next;
        if (column >= end) {
            break;
        }
    }
    return cells;
}

// The shade of escapes: the text colour halfway to the background.
QColor Dimmed(const QColor& text, const QColor& background) {
    return QColor((text.red() + background.red()) / 2, (text.green() + background.green()) / 2,
                  (text.blue() + background.blue()) / 2);
}

// The background of a found line: a quarter of the highlight over the background, light enough that
// the line's own colour stays readable on it.
QColor Tinted(const QColor& highlight, const QColor& background) {
    auto mix = [](int a, int b) { return (a + 3 * b) / 4; };
    return QColor(mix(highlight.red(), background.red()), mix(highlight.green(), background.green()),
                  mix(highlight.blue(), background.blue()));
}

int ClampToInt(qint64 value) {
    return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX));
}
} // namespace

QFont ConsoleFont(int pointSize) {
    QFont font("Lucida Console", pointSize);
    QFontInfo info(font);
    if (info.family() == font.family() && info.fixedPitch()) return font;
    // The log finds and clips its rows by column arithmetic, so the font must be fixed-pitch.
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(pointSize);
    return font;
}

QColor LogColour(uint32_t colour, const QPalette& palette) {
    if ((colour & LogColours::SystemReference) == LogColours::SystemReference) {
        uint32_t index = colour & 0xFF;
        if (index >= SystemColours.size()) {
            return palette.color(QPalette::Active, QPalette::Text);
        }
        return palette.color(SystemColours[index].group, SystemColours[index].role);
    }
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(ConsoleFont());
    setFocusPolicy(Qt::StrongFocus);
    // paintEvent fills every pixel it is asked for; Qt need not clear the viewport first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::IBeamCursor);
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, &TLogView::PaintFrame);
    UpdateMetrics();
    InstallLogViewAccessible();
}

TLogView::~TLogView() = default;

void TLogView::AppendLine(const std::string& text, uint32_t colour) {
    lines_.Append(text, colour);
    ScheduleUpdate();
}

// One posted call per turn of the event loop, however many lines arrive in that turn: the cost of
// scrolling and painting is paid per turn, not per line.
void TLogView::ScheduleUpdate() {
    dirty_ = true;
    if (updatePosted_) {
        return;
    }
    updatePosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            updatePosted_ = false;
            ApplyPending();
        },
        Qt::QueuedConnection);
}

// The scroll bars follow every turn; the pixels of the rows and of the scroll bars follow at most
// once per frame, since a screen shows no more and a repaint costs far more than a turn with a
// line or two in it (ping-pong delivers each reply in a turn of its own).
void TLogView::ApplyPending() {
    if (!dirty_) {
        return;
    }
    dirty_ = false;
    HoldScrollBarPaints(true);
    followingLines_ = true;
    UpdateScrollBars();
    followingLines_ = false;
    RequestFrame();
}

void TLogView::RequestFrame() {
    qint64 sincePaint = sincePaint_.isValid() ? sincePaint_.elapsed() : FrameMs;
    if (sincePaint >= FrameMs) {
        PaintFrame();
    } else if (!frameTimer_.isActive()) {
        frameTimer_.start(static_cast<int>(FrameMs - sincePaint));
    }
}

void TLogView::PaintFrame() {
    if (beforePaint_) beforePaint_();
    HoldScrollBarPaints(false);
    viewport()->update();
}

// Re-enabling updates repaints a scroll bar.
void TLogView::HoldScrollBarPaints(bool hold) {
    for (QScrollBar* bar : {verticalScrollBar(), horizontalScrollBar()}) {
        if (bar->updatesEnabled() == hold) {
            bar->setUpdatesEnabled(!hold);
        }
    }
}

// Scrolling by the operator repaints at once; scrolling to follow new lines waits for the frame.
void TLogView::scrollContentsBy(int, int) {
    if (!followingLines_) {
        viewport()->update();
    }
}

void TLogView::FlushNow() {
    if (beforePaint_) beforePaint_();
    dirty_ = false;
    frameTimer_.stop();
    HoldScrollBarPaints(false);
    UpdateScrollBars();
    viewport()->repaint();
    verticalScrollBar()->repaint();
}

void TLogView::Clear() {
    lines_.Clear();
    anchor_ = current_ = -1;
    dirty_ = false;
    UpdateScrollBars();
    viewport()->update();
}

void TLogView::SetShowControlChars(bool controls, bool high) {
    ControlCharMode mode = !controls ? ControlCharMode::Off
                           : high    ? ControlCharMode::ControlsAndHigh
                                     : ControlCharMode::Controls;
    if (mode == controlChars_) {
        return;
    }
    controlChars_ = mode;
    SetRanges();
    viewport()->update();
}

void TLogView::SetShowHex(bool on) {
    if (on == hexView_) {
        return;
    }
    hexView_ = on;
    SetRanges();
    viewport()->update();
}

std::string TLogView::ShownText(qint64 row) const {
    std::string_view text = lines_.Text(static_cast<std::size_t>(row));
    if (hexView_ && HexPayloadStart(text) != std::string_view::npos) {
        return HexRowCells(text, 0, SIZE_MAX);
    }
    if (controlChars_ != ControlCharMode::Off) {
        return RenderControlChars(text, controlChars_).text;
    }
    return FromQt(VisibleCells(text, 0, static_cast<qint64>(LogLines::Width(text))));
}

void TLogView::UpdateMetrics() {
    QFontMetricsF metrics(font());
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
    charWidth_ = std::max(1.0, metrics.horizontalAdvance(QLatin1Char('0')));
    ascent_ = static_cast<int>(std::ceil(metrics.ascent()));
    horizontalScrollBar()->setSingleStep(static_cast<int>(std::ceil(charWidth_)));
}

int TLogView::FullRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

// The bottom stays in view if it was before. Showing or hiding a scroll bar resizes the viewport
// later (QAbstractScrollArea lays out on a queued call), and resizeEvent comes back here.
void TLogView::UpdateScrollBars() {
    QScrollBar* vertical = verticalScrollBar();
    bool follow = vertical->value() >= vertical->maximum();
    SetRanges();
    if (follow) {
        vertical->setValue(vertical->maximum());
    }
}

void TLogView::SetRanges() {
    int rows = FullRows();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, ClampToInt(static_cast<qint64>(lines_.Count()) - rows));
    vertical->setPageStep(rows);
    QScrollBar* horizontal = horizontalScrollBar();
    std::size_t longest = lines_.LongestWidth(controlChars_);
    if (hexView_) {
        longest = std::max(longest, lines_.LongestHexWidth());
    }
    qint64 contentWidth = qint64{2} * TextMargin + std::llround(longest * charWidth_);
    horizontal->setRange(0, ClampToInt(contentWidth - viewport()->width()));
    horizontal->setPageStep(std::max(1, viewport()->width()));
}

qint64 TLogView::FirstVisibleRow() const {
    return verticalScrollBar()->value();
}

qint64 TLogView::LastVisibleRow() const {
    return std::min<qint64>(static_cast<qint64>(lines_.Count()), FirstVisibleRow() + FullRows()) - 1;
}

qint64 TLogView::RowAt(int y) const {
    if (y < 0) {
        return -1;
    }
    qint64 row = FirstVisibleRow() + y / rowHeight_;
    return row < static_cast<qint64>(lines_.Count()) ? row : -1;
}

QRect TLogView::CellRect(qint64 row, qint64 column) const {
    const qreal left = TextMargin + column * charWidth_ - horizontalScrollBar()->value();
    const qint64 top = (row - FirstVisibleRow()) * rowHeight_;
    return {static_cast<int>(std::floor(left)), static_cast<int>(std::clamp<qint64>(top, INT_MIN, INT_MAX)),
            static_cast<int>(std::ceil(charWidth_)), rowHeight_};
}

qint64 TLogView::ColumnAt(int x) const {
    return static_cast<qint64>(std::floor((x + horizontalScrollBar()->value() - TextMargin) / charWidth_));
}

// The line under y, or the nearest one when y lies above or below the lines (a drag past an
// edge); -1 for an empty log.
qint64 TLogView::ClampedRowAt(int y) const {
    qint64 count = static_cast<qint64>(lines_.Count());
    if (count == 0) {
        return -1;
    }
    qint64 offset = y >= 0 ? y / rowHeight_ : -1 - (-1 - y) / rowHeight_;
    return std::clamp<qint64>(FirstVisibleRow() + offset, 0, count - 1);
}

void TLogView::ScrollToShow(qint64 row) {
    QScrollBar* vertical = verticalScrollBar();
    if (row < FirstVisibleRow()) {
        vertical->setValue(ClampToInt(row));
    } else if (row >= FirstVisibleRow() + FullRows()) {
        vertical->setValue(ClampToInt(row - FullRows() + 1));
    }
}

void TLogView::SelectLines(qint64 anchor, qint64 current) {
    qint64 last = static_cast<qint64>(lines_.Count()) - 1;
    if (last < 0) {
        return;
    }
    anchor_ = std::clamp<qint64>(anchor, 0, last);
    current_ = std::clamp<qint64>(current, 0, last);
    viewport()->update();
}

void TLogView::SelectAll() {
    SelectLines(0, static_cast<qint64>(lines_.Count()) - 1);
}

std::string TLogView::SelectedText() const {
    if (!HasSelection()) {
        return {};
    }
    return lines_.JoinText(static_cast<std::size_t>(SelectionFirst()),
                           static_cast<std::size_t>(SelectionLast()), "\n");
}

void TLogView::Copy() {
    if (HasSelection()) {
        QGuiApplication::clipboard()->setText(ToQt(SelectedText()));
    }
}

QMenu* TLogView::CreateContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* copy = menu->addAction(tr("Copy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(HasSelection());
    connect(copy, &QAction::triggered, this, [this] { Guarded([this] { Copy(); }); });
    QAction* all = menu->addAction(tr("Select All"));
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(lines_.Count() > 0);
    connect(all, &QAction::triggered, this, [this] { Guarded([this] { SelectAll(); }); });
    if (findRequest_) {
        menu->addSeparator();
        QAction* find = menu->addAction(tr("Find..."));
        find->setShortcut(QKeySequence::Find);
        connect(find, &QAction::triggered, this, [this] { Guarded([this] { findRequest_(); }); });
    }
    if (!viewActions_.empty()) {
        menu->addSeparator();
        for (QAction* action : viewActions_) {
            menu->addAction(action);
        }
    }
    return menu;
}

void TLogView::SetRowTint(std::function<bool(qint64 row)> tinted) {
    rowTint_ = std::move(tinted);
    viewport()->update();
}

void TLogView::ShowRow(qint64 row) {
    // The scroll range must hold lines that came this turn before the row can be scrolled to.
    FlushNow();
    SelectLines(row, row);
    ScrollToShow(row);
}

void TLogView::paintEvent(QPaintEvent* event) {
    if (beforePaint_) beforePaint_();
    sincePaint_.start();
    QPainter painter(viewport());
    QRect area = event->rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    qint64 firstColumn = std::max<qint64>(
        0, static_cast<qint64>(std::floor((horizontalScrollBar()->value() - TextMargin) / charWidth_)));
    qint64 columns = static_cast<qint64>(std::ceil(viewport()->width() / charWidth_)) + 2;
    qint64 count = static_cast<qint64>(lines_.Count());
    int firstSlot = std::max(0, area.top() / rowHeight_);
    int lastSlot = area.bottom() / rowHeight_;
    for (int slot = firstSlot; slot <= lastSlot; ++slot) {
        qint64 row = FirstVisibleRow() + slot;
        if (row >= count) {
            break;
        }
        PaintRow(painter, row, slot * rowHeight_, firstColumn, columns);
    }
}

void TLogView::PaintRow(QPainter& painter, qint64 row, int top, qint64 firstColumn, qint64 columns) {
    bool selected = HasSelection() && row >= SelectionFirst() && row <= SelectionLast();
    QColor colour;
    QColor background;
    if (selected) {
        painter.fillRect(0, top, viewport()->width(), rowHeight_, palette().color(QPalette::Highlight));
        colour = palette().color(QPalette::HighlightedText);
        background = palette().color(QPalette::Highlight);
    } else {
        colour = LogColour(lines_.Colour(static_cast<std::size_t>(row)), palette());
        background = palette().color(QPalette::Base);
        if (rowTint_ && rowTint_(row)) {
            background = Tinted(palette().color(QPalette::Highlight), background);
            painter.fillRect(0, top, viewport()->width(), rowHeight_, background);
        }
    }
    painter.setPen(colour);
    qreal x = TextMargin + firstColumn * charWidth_ - horizontalScrollBar()->value();
    std::string_view text = lines_.Text(static_cast<std::size_t>(row));
    if (hexView_ && HexPayloadStart(text) != std::string_view::npos) {
        std::string cells =
            HexRowCells(text, static_cast<std::size_t>(firstColumn), static_cast<std::size_t>(columns));
        painter.drawText(QPointF(x, top + ascent_),
                         QString::fromLatin1(cells.data(), static_cast<qsizetype>(cells.size())));
        return;
    }
    if (controlChars_ != ControlCharMode::Off) {
        PaintEscapedRow(painter, text, colour, Dimmed(colour, background), x, top + ascent_, firstColumn,
                        columns);
        return;
    }
    QString cells = VisibleCells(text, firstColumn, columns);
    if (cells.isEmpty()) {
        return;
    }
    painter.drawText(QPointF(x, top + ascent_), cells);
}

// The shown text holds no tab, so column n is character n; plain runs and escape runs are drawn
// one by one in their shades, clipped to the columns in view. x is where firstColumn begins.
void TLogView::PaintEscapedRow(QPainter& painter, std::string_view text, const QColor& colour,
                               const QColor& dim, qreal x, int baseline, qint64 firstColumn, qint64 columns) {
    DisplayLine shown = RenderControlChars(text, controlChars_);
    const qint64 size = static_cast<qint64>(shown.text.size());
    const qint64 end = std::min(size, firstColumn + columns);
    auto drawRun = [&](qint64 from, qint64 to, const QColor& pen) {
        from = std::max(from, firstColumn);
        to = std::min(to, end);
        if (from >= to) {
            return;
        }
        painter.setPen(pen);
        painter.drawText(QPointF(x + (from - firstColumn) * charWidth_, baseline),
                         QString::fromLatin1(shown.text.data() + from, to - from));
    };
    qint64 plainFrom = 0;
    for (const EscapeSpan& span : shown.escapes) {
        const auto start = static_cast<qint64>(span.start);
        if (start >= end) {
            break;
        }
        drawRun(plainFrom, start, colour);
        drawRun(start, start + static_cast<qint64>(span.length), dim);
        plainFrom = start + static_cast<qint64>(span.length);
    }
    drawRun(plainFrom, end, colour);
}

void TLogView::resizeEvent(QResizeEvent*) {
    UpdateScrollBars();
}

void TLogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    qint64 row = ClampedRowAt(event->position().toPoint().y());
    if (row < 0) {
        return;
    }
    bool extend = (event->modifiers() & Qt::ShiftModifier) && HasSelection();
    SelectLines(extend ? anchor_ : row, row);
}

// Dragging past the top or bottom edge scrolls one line per mouse move.
void TLogView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !HasSelection()) {
        return;
    }
    qint64 row = ClampedRowAt(event->position().toPoint().y());
    if (row < 0) {
        return;
    }
    ScrollToShow(row);
    SelectLines(anchor_, row);
}

bool TLogView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && findRequest_ &&
        static_cast<QKeyEvent*>(event) == QKeySequence::Find) {
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

void TLogView::keyPressEvent(QKeyEvent* event) {
    Guarded([&] {
        if (event == QKeySequence::Find && findRequest_) {
            findRequest_();
        } else if (event == QKeySequence::Copy) {
            Copy();
        } else if (event == QKeySequence::SelectAll) {
            SelectAll();
        } else if (event == QKeySequence::MoveToStartOfDocument) {
            verticalScrollBar()->setValue(0);
        } else if (event == QKeySequence::MoveToEndOfDocument) {
            verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        } else {
            QAbstractScrollArea::keyPressEvent(event);
        }
    });
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
    Guarded([&] {
        std::unique_ptr<QMenu> menu(CreateContextMenu(this));
        menu->exec(event->globalPos());
    });
}

void TLogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        UpdateScrollBars();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}
