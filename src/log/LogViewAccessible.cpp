#include "log/LogViewAccessible.h"

#include "log/LogView.h"

#include <QAccessibleWidget>
#include <QScrollBar>

#include <vector>

namespace {
// The lines in view as one text; starts[i] is where line first + i begins in it.
struct VisibleText {
    qint64 first = 0;
    QString text;
    std::vector<int> starts;
    std::vector<std::string> shown; //!< Each line's bytes as the view shows them.

    // The line of offset (clamped to the lines there are) and the offset within it.
    std::pair<size_t, int> LineOf(int offset) const {
        size_t line = 0;
        while (line + 1 < starts.size() && starts[line + 1] <= offset)
            ++line;
        return {line, offset - starts[line]};
    }
};

VisibleText ReadVisible(const TLogView& view) {
    VisibleText visible;
    visible.first = view.FirstVisibleRow();
    const ControlCharMode mode = view.ShownControlChars();
    for (qint64 row = visible.first; row <= view.LastVisibleRow(); ++row) {
        const std::string_view bytes = view.Lines().Text(static_cast<size_t>(row));
        std::string line =
            mode == ControlCharMode::Off ? std::string(bytes) : RenderControlChars(bytes, mode).text;
        if (row > visible.first) visible.text.append('\n');
        visible.starts.push_back(static_cast<int>(visible.text.size()));
        visible.text.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
        visible.shown.push_back(std::move(line));
    }
    return visible;
}

class LogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LogViewAccessible(TLogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && View()->accessibleName().isEmpty()) return QStringLiteral("Log");
        if (t == QAccessible::Value) return ReadVisible(*View()).text;
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    // The view selects whole lines: the part of the selection in view is one range.
    int selectionCount() const override {
        int start = 0, end = 0;
        selection(0, &start, &end);
        return start < end ? 1 : 0;
    }
    void selection(int index, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
        const TLogView& view = *View();
        if (index != 0 || !view.HasSelection()) return;
        const VisibleText visible = ReadVisible(view);
        const qint64 last = visible.first + static_cast<qint64>(visible.starts.size()) - 1;
        const qint64 from = std::max(view.SelectionFirst(), visible.first);
        const qint64 to = std::min(view.SelectionLast(), last);
        if (from > to) return;
        *startOffset = visible.starts[static_cast<size_t>(from - visible.first)];
        const auto after = static_cast<size_t>(to - visible.first + 1);
        *endOffset =
            after < visible.starts.size() ? visible.starts[after] - 1 : static_cast<int>(visible.text.size());
    }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int) override {}
    void setSelection(int, int startOffset, int endOffset) override {
        const VisibleText visible = ReadVisible(*View());
        if (visible.starts.empty()) return;
        View()->SelectLines(visible.first + static_cast<qint64>(visible.LineOf(startOffset).first),
                            visible.first + static_cast<qint64>(visible.LineOf(endOffset).first));
    }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}

    QString text(int startOffset, int endOffset) const override {
        return ReadVisible(*View()).text.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(ReadVisible(*View()).text.size()); }

    QRect characterRect(int offset) const override {
        const VisibleText visible = ReadVisible(*View());
        if (visible.starts.empty()) return {};
        const auto [line, at] = visible.LineOf(offset);
        const std::string& shown = visible.shown[line];
        const auto column = static_cast<qint64>(LogLines::Width(shown.substr(0, static_cast<size_t>(at))));
        const QRect cell = View()->CellRect(visible.first + static_cast<qint64>(line), column);
        return {View()->viewport()->mapToGlobal(cell.topLeft()), cell.size()};
    }

    int offsetAtPoint(const QPoint& point) const override {
        const QPoint at = View()->viewport()->mapFromGlobal(point);
        const qint64 row = View()->RowAt(at.y());
        const VisibleText visible = ReadVisible(*View());
        if (row < visible.first || row - visible.first >= static_cast<qint64>(visible.starts.size()))
            return -1;
        const auto line = static_cast<size_t>(row - visible.first);
        const std::string& shown = visible.shown[line];
        const qint64 column = View()->ColumnAt(at.x());
        if (column < 0) return -1;
        // The character whose cells hold the column: a tab spans up to the next tab stop.
        qint64 end = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            constexpr auto tab = static_cast<qint64>(LogLines::TabWidth);
            end = shown[i] == '\t' ? (end / tab + 1) * tab : end + 1;
            if (end > column) return visible.starts[line] + static_cast<int>(i);
        }
        return -1;
    }

    void scrollToSubstring(int, int) override {} // the text is what is in view already
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    TLogView* View() const { return static_cast<TLogView*>(widget()); }
};

QAccessibleInterface* MakeAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(TLogView::staticMetaObject.className())) return nullptr;
    return new LogViewAccessible(static_cast<TLogView*>(object));
}
} // namespace

void InstallLogViewAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeAccessible);
        return true;
    }();
    (void)installed;
}
