#include "text/BookmarkTabs.h"

#include "text/BookmarkTabsAccessible.h"

#include <QKeyEvent>
#include <QStackedWidget>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabBar>
#include <QToolButton>

#include <algorithm>
#include <utility>

namespace {
// The pages, in the frame a tab widget draws around them.
class TPagesFrame : public QStackedWidget {
public:
    explicit TPagesFrame(QWidget* parent) : QStackedWidget(parent) { FitMargins(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionTabWidgetFrame option;
        option.initFrom(this);
        option.shape = QTabBar::RoundedNorth;
        option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
    }
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::StyleChange) FitMargins();
        QStackedWidget::changeEvent(event);
    }

private:
    void FitMargins() {
        const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        setContentsMargins(frame, frame, frame, frame);
    }
};

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAccessibleName(name); // an arrow has no text a screen reader could say
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
    return button;
}
} // namespace

TPageTabBar::TPageTabBar(QWidget* parent)
    : QWidget(parent), left_(MakeArrow(this, Qt::LeftArrow, "Scroll tabs left")),
      right_(MakeArrow(this, Qt::RightArrow, "Scroll tabs right")) {
    InstallPageTabBarAccessible();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    connect(left_, &QToolButton::clicked, this, [this] { ScrollByTab(-1); });
    connect(right_, &QToolButton::clicked, this, [this] { ScrollByTab(1); });
}

void TPageTabBar::Add(const QString& text) {
    tabs_.push_back(Tab{text});
    tabsChanged_ = true;
    MarkChanged();
    if (current_ < 0) SetCurrent(0);
}

void TPageTabBar::RemoveAt(int index) {
    if (index < 0 || index >= Count()) return;
    tabs_.erase(tabs_.begin() + index);
    hover_ = -1;
    tabsChanged_ = true;
    MarkChanged();
    if (index < current_) {
        --current_; // the same tab, one place further left
        PageTabSelected(this, -1, current_);
        if (OnCurrentChanged) OnCurrentChanged(current_);
    } else if (index == current_) {
        current_ = -1; // the tab on its right moves into its place and is chosen
        SetCurrent(std::min(index, Count() - 1));
    }
}

QString TPageTabBar::Text(int index) const {
    return index >= 0 && index < Count() ? tabs_[static_cast<size_t>(index)].text : QString();
}

void TPageTabBar::SetCurrent(int index) {
    index = Count() == 0 ? -1 : std::clamp(index, 0, Count() - 1);
    if (index == current_) return;
    const int previous = std::exchange(current_, index);
    showCurrent_ = true;
    RequestSettle();
    PageTabSelected(this, previous, index);
    if (OnCurrentChanged) OnCurrentChanged(index);
}

QRect TPageTabBar::TabRect(int index) const {
    if (index < 0 || index >= Count()) return {};
    Lay();
    const Tab& tab = tabs_[static_cast<size_t>(index)];
    return {tab.left - scroll_, 0, tab.width, tabHeight_};
}

bool TPageTabBar::TabShown(int index) const {
    const QRect rect = TabRect(index);
    return rect.isValid() && rect.right() >= 0 && rect.left() < RowWidth();
}

QSize TPageTabBar::sizeHint() const {
    Lay();
    // As a tab widget bounds its bar's wish: many tabs scroll rather than widen the window.
    return {std::min(totalWidth_, 200), tabHeight_};
}

QSize TPageTabBar::minimumSizeHint() const {
    Lay();
    return {2 * right_->sizeHint().width(), tabHeight_};
}

void TPageTabBar::MarkChanged() {
    laidOut_ = false;
    updateGeometry();
    RequestSettle();
}

// Arrows and scrolling follow the tabs once the current round of changes is over: a file's
// thousands of tabs, added or removed one by one, cost one layout, not one each.
void TPageTabBar::RequestSettle() {
    update();
    if (settlePending_) return;
    settlePending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Settle(); }, Qt::QueuedConnection);
}

void TPageTabBar::Settle() {
    settlePending_ = false;
    // Told once per round of changes, as the layout is: a file's thousands of tabs, one event.
    if (std::exchange(tabsChanged_, false)) PageTabsChanged(this);
    Lay();
    ArrangeArrows();
    if (std::exchange(showCurrent_, false) && current_ >= 0) {
        const Tab& tab = tabs_[static_cast<size_t>(current_)];
        if (tab.left < scroll_) {
            scroll_ = tab.left;
        } else if (tab.left + tab.width > scroll_ + RowWidth()) {
            scroll_ = tab.left + tab.width - RowWidth();
        }
    }
    ClampScroll();
}

void TPageTabBar::ClampScroll() {
    // No room left empty on the right while tabs are scrolled out on the left.
    scroll_ = std::max(0, std::min(scroll_, totalWidth_ - RowWidth()));
    left_->setEnabled(scroll_ > 0);
    right_->setEnabled(scroll_ < totalWidth_ - RowWidth());
    update();
}

std::vector<TPageTabBar::Tab>::const_iterator TPageTabBar::FirstEndingAfter(int x) const {
    return std::upper_bound(tabs_.cbegin(), tabs_.cend(), x,
                            [](int at, const Tab& tab) { return at < tab.left + tab.width; });
}

void TPageTabBar::Lay() const {
    if (laidOut_) return;
    laidOut_ = true;
    // A tab's height comes from the font alone, not from its text: measured once for all.
    if (tabHeight_ < 0) tabHeight_ = MeasureTab(QString()).height();
    int left = 0;
    for (Tab& tab : tabs_) {
        if (tab.width < 0) tab.width = MeasureTab(tab.text).width();
        tab.left = left;
        left += tab.width;
    }
    totalWidth_ = left;
}

// The size Qt's tab bar gives a tab of this text (no icon, no buttons on the tab).
QSize TPageTabBar::MeasureTab(const QString& text) const {
    QStyleOptionTab option;
    option.initFrom(this);
    option.shape = QTabBar::RoundedNorth;
    option.text = text;
    const int hSpace = style()->pixelMetric(QStyle::PM_TabBarTabHSpace, &option, this);
    const int vSpace = style()->pixelMetric(QStyle::PM_TabBarTabVSpace, &option, this);
    const QFontMetrics metrics = fontMetrics();
    const QSize contents(metrics.size(Qt::TextShowMnemonic, text).width() + hSpace,
                         metrics.height() + vSpace);
    return style()->sizeFromContents(QStyle::CT_TabBarTab, &option, contents, this);
}

void TPageTabBar::InitOption(QStyleOptionTab& option, int index) const {
    option.initFrom(this);
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.rect = TabRect(index);
    option.shape = QTabBar::RoundedNorth;
    option.features |= QStyleOptionTab::HasFrame; // the tabs stand on the pages' frame
    option.text = Text(index);
    if (index == current_) {
        option.state |= QStyle::State_Selected;
        if (hasFocus()) option.state |= QStyle::State_HasFocus;
    }
    if (index == hover_) option.state |= QStyle::State_MouseOver;
    const bool first = index == 0, last = index == Count() - 1;
    option.position = first && last ? QStyleOptionTab::OnlyOneTab
                      : first       ? QStyleOptionTab::Beginning
                      : last        ? QStyleOptionTab::End
                                    : QStyleOptionTab::Middle;
    option.selectedPosition = index - 1 == current_   ? QStyleOptionTab::PreviousIsSelected
                              : index + 1 == current_ ? QStyleOptionTab::NextIsSelected
                                                      : QStyleOptionTab::NotAdjacent;
}

void TPageTabBar::paintEvent(QPaintEvent*) {
    Lay();
    QStylePainter painter(this);
    painter.setClipRect(0, 0, RowWidth(), height());
    // Only the tabs in view are drawn; the chosen one last, as it overlaps its neighbours.
    for (auto tab = FirstEndingAfter(scroll_); tab != tabs_.cend() && tab->left - scroll_ < RowWidth();
         ++tab) {
        const int index = static_cast<int>(tab - tabs_.cbegin());
        if (index == current_) continue;
        QStyleOptionTab option;
        InitOption(option, index);
        painter.drawControl(QStyle::CE_TabBarTab, option);
    }
    if (current_ >= 0) {
        QStyleOptionTab option;
        InitOption(option, current_);
        painter.drawControl(QStyle::CE_TabBarTab, option);
    }
}

void TPageTabBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showCurrent_ = true;
    Settle();
}

void TPageTabBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int index = TabAt(event->position().toPoint());
    if (index >= 0) SetCurrent(index);
}

void TPageTabBar::mouseMoveEvent(QMouseEvent* event) {
    const int index = TabAt(event->position().toPoint());
    if (index == hover_) return;
    hover_ = index;
    update();
}

void TPageTabBar::leaveEvent(QEvent* event) {
    hover_ = -1;
    update();
    QWidget::leaveEvent(event);
}

// As Qt's tab bar: the wheel steps through the tabs.
void TPageTabBar::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (delta == 0 || Count() == 0) return;
    SetCurrent(current_ + (delta > 0 ? -1 : 1));
}

void TPageTabBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        SetCurrent(current_ - 1);
    } else if (event->key() == Qt::Key_Right) {
        SetCurrent(current_ + 1);
    } else {
        event->ignore();
    }
}

// A new font or style measures every tab again.
void TPageTabBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        for (Tab& tab : tabs_)
            tab.width = -1;
        tabHeight_ = -1;
        MarkChanged();
    }
    QWidget::changeEvent(event);
}

int TPageTabBar::TabAt(QPoint position) const {
    Lay();
    if (position.y() < 0 || position.y() >= tabHeight_ || position.x() < 0 || position.x() >= RowWidth())
        return -1;
    const auto tab = FirstEndingAfter(position.x() + scroll_);
    return tab == tabs_.cend() ? -1 : static_cast<int>(tab - tabs_.cbegin());
}

int TPageTabBar::RowWidth() const {
    return left_->isVisible() ? left_->x() : width();
}

void TPageTabBar::ArrangeArrows() {
    const bool needed = totalWidth_ > width();
    if (needed) {
        const int buttonWidth = style()->pixelMetric(QStyle::PM_TabBarScrollButtonWidth, nullptr, this);
        right_->setGeometry(width() - buttonWidth, 0, buttonWidth, height());
        left_->setGeometry(width() - 2 * buttonWidth, 0, buttonWidth, height());
    }
    left_->setVisible(needed);
    right_->setVisible(needed);
}

// Shows the next tab cut off or hidden in the given direction, as Qt's arrows do.
void TPageTabBar::ScrollByTab(int direction) {
    Lay();
    if (direction < 0) {
        const auto firstWhole = std::lower_bound(tabs_.cbegin(), tabs_.cend(), scroll_,
                                                 [](const Tab& tab, int x) { return tab.left < x; });
        if (firstWhole == tabs_.cbegin()) return;
        scroll_ = std::prev(firstWhole)->left;
    } else {
        const auto cut = FirstEndingAfter(scroll_ + RowWidth());
        if (cut == tabs_.cend()) return;
        scroll_ = cut->left + cut->width - RowWidth();
    }
    ClampScroll();
}

TBookmarkTabs::TBookmarkTabs(QWidget* parent)
    : QWidget(parent), bar_(new TPageTabBar(this)), pages_(new TPagesFrame(this)) {
    bar_->OnCurrentChanged = [this](int index) { pages_->setCurrentIndex(index); };
    Arrange();
}

// As a tab widget places them: the row overlaps the pages' frame, so the chosen tab stands open
// to its page.
void TBookmarkTabs::Arrange() {
    const int barHeight = bar_->sizeHint().height();
    const int overlap = Overlap();
    bar_->setGeometry(0, 0, width(), barHeight);
    pages_->setGeometry(0, barHeight - overlap, width(), std::max(0, height() - barHeight + overlap));
    bar_->raise();
}

int TBookmarkTabs::Overlap() const {
    return style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
}

QSize TBookmarkTabs::sizeHint() const {
    const QSize bar = bar_->sizeHint(), pages = pages_->sizeHint();
    return {std::max(bar.width(), pages.width()), bar.height() + pages.height() - Overlap()};
}

QSize TBookmarkTabs::minimumSizeHint() const {
    const QSize bar = bar_->minimumSizeHint(), pages = pages_->minimumSizeHint();
    return {std::max(bar.width(), pages.width()), bar.height() + pages.height() - Overlap()};
}

void TBookmarkTabs::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

// The row asks for a new height when its font changes.
bool TBookmarkTabs::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) {
        Arrange();
        updateGeometry();
    }
    return QWidget::event(event);
}

int TBookmarkTabs::addTab(QWidget* page, const QString& text) {
    pages_->addWidget(page);
    bar_->Add(text);
    pages_->setCurrentIndex(bar_->Current());
    return count() - 1;
}

void TBookmarkTabs::removeTab(int index) {
    QWidget* page = widget(index);
    if (!page) return;
    pages_->removeWidget(page);
    bar_->RemoveAt(index);
    pages_->setCurrentIndex(bar_->Current());
}

int TBookmarkTabs::count() const {
    return bar_->Count();
}

int TBookmarkTabs::currentIndex() const {
    return bar_->Current();
}

void TBookmarkTabs::setCurrentIndex(int index) {
    if (index >= 0 && index < count()) bar_->SetCurrent(index);
}

void TBookmarkTabs::setCurrentWidget(QWidget* page) {
    setCurrentIndex(pages_->indexOf(page));
}

QWidget* TBookmarkTabs::widget(int index) const {
    return pages_->widget(index);
}

QString TBookmarkTabs::tabText(int index) const {
    return bar_->Text(index);
}

// As a tab widget: Ctrl+Tab and Ctrl+Shift+Tab step through the pages, round at the ends.
void TBookmarkTabs::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
    if (!ctrl || (event->key() != Qt::Key_Tab && event->key() != Qt::Key_Backtab) || count() < 2) {
        event->ignore();
        return;
    }
    bar_->SetCurrent((currentIndex() + (back ? count() - 1 : 1)) % count());
}
