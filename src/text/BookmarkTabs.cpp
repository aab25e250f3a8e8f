#include "text/BookmarkTabs.h"

#include <QEvent>

QSize TMeasuredTabBar::tabSizeHint(int index) const {
    // Qt measures the minimum with an elided text through this same call: not kept.
    if (measuringMinimum_ || index < 0 || static_cast<size_t>(index) >= measures_.size())
        return QTabBar::tabSizeHint(index);
    QSize& size = measures_[static_cast<size_t>(index)].size;
    if (!size.isValid()) size = QTabBar::tabSizeHint(index);
    return size;
}

QSize TMeasuredTabBar::minimumTabSizeHint(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= measures_.size())
        return QTabBar::minimumTabSizeHint(index);
    QSize& minimum = measures_[static_cast<size_t>(index)].minimum;
    if (!minimum.isValid()) {
        measuringMinimum_ = true;
        minimum = QTabBar::minimumTabSizeHint(index);
        measuringMinimum_ = false;
    }
    return minimum;
}

void TMeasuredTabBar::tabInserted(int index) {
    measures_.insert(measures_.begin() + index, Measure{});
    QTabBar::tabInserted(index);
}

void TMeasuredTabBar::tabRemoved(int index) {
    if (index >= 0 && static_cast<size_t>(index) < measures_.size())
        measures_.erase(measures_.begin() + index);
    QTabBar::tabRemoved(index);
}

void TMeasuredTabBar::Forget() {
    for (Measure& measure : measures_)
        measure = Measure{};
}

// A new font or style measures every tab again.
void TMeasuredTabBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Forget();
    QTabBar::changeEvent(event);
}
