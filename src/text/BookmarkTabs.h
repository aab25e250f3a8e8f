#pragma once
// The bookmark field's page control: a row of tabs over a stack of pages, the tabs drawn by the
// style just as a tab bar draws them. A bookmark file may hold thousands of tabs, and Qt's tab bar
// lays all of its tabs out again for every tab added (it asks which tab is under the mouse), so a
// load grew with the square of the tabs. Here a tab is measured once, when first laid out, and
// the row is laid out once after any number of tabs were added or removed. Everything here runs
// on the UI thread.
#include <QWidget>

#include <functional>
#include <vector>

class QStackedWidget;
class QStyleOptionTab;
class QToolButton;

// The row of tabs. When the tabs are wider than the row, it scrolls, with two arrow buttons at
// its right end as Qt's tab bar has them. Assistive technology sees it as a page tab list
// (BookmarkTabsAccessible.h).
class TPageTabBar : public QWidget {
    Q_OBJECT

public:
    explicit TPageTabBar(QWidget* parent = nullptr);

    int Count() const { return static_cast<int>(tabs_.size()); }
    void Add(const QString& text);
    void RemoveAt(int index);
    QString Text(int index) const;
    int Current() const { return current_; }
    // Selects the tab (clamped to the tabs there are), scrolls it into view and tells
    // OnCurrentChanged when the selection changed.
    void SetCurrent(int index);
    // Where the tab is drawn, in the bar's own coordinates (scrolled); empty for a bad index.
    QRect TabRect(int index) const;
    // Whether any of the tab is in view, left of the arrow buttons.
    bool TabShown(int index) const;
    // The tab at position (the bar's own coordinates); -1 for none.
    int TabAt(QPoint position) const;
    QToolButton* ScrollLeftButton() const { return left_; }
    QToolButton* ScrollRightButton() const { return right_; }

    std::function<void(int)> OnCurrentChanged;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Tab {
        QString text;
        int left = 0;   //!< Unscrolled, valid while the row is laid out.
        int width = -1; //!< -1: not measured yet.
    };

    void MarkChanged();
    void RequestSettle();
    void Settle();
    void ClampScroll();
    // Measures the tabs not yet measured and places every tab; a no-op while nothing changed.
    void Lay() const;
    std::vector<Tab>::const_iterator FirstEndingAfter(int x) const;
    QSize MeasureTab(const QString& text) const;
    void InitOption(QStyleOptionTab& option, int index) const;
    int RowWidth() const; //!< Room for tabs, left of the arrow buttons when they show.
    void ArrangeArrows();
    void ScrollByTab(int direction);

    mutable std::vector<Tab> tabs_;
    mutable bool laidOut_ = true;
    mutable int tabHeight_ = -1; //!< -1: not measured yet.
    mutable int totalWidth_ = 0;
    int current_ = -1;
    int hover_ = -1;
    int scroll_ = 0; //!< Pixels of the row scrolled out on the left.
    bool settlePending_ = false;
    bool showCurrent_ = false; //!< The current tab is to be scrolled into view at the next settling.
    bool tabsChanged_ = false; //!< Tabs came or went since the last settling.
    QToolButton* left_ = nullptr;
    QToolButton* right_ = nullptr;
};

// The tab row and the pages, with the few calls of a tab widget that the field makes.
class TBookmarkTabs : public QWidget {
public:
    explicit TBookmarkTabs(QWidget* parent = nullptr);

    int addTab(QWidget* page, const QString& text);
    // The page is no longer shown nor owned; the tab on its right takes its place when it was
    // the current one.
    void removeTab(int index);
    int count() const;
    int currentIndex() const;
    void setCurrentIndex(int index);
    void setCurrentWidget(QWidget* page);
    QWidget* widget(int index) const;
    QString tabText(int index) const;
    TPageTabBar* TabBar() const { return bar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Arrange();
    int Overlap() const;

    TPageTabBar* bar_;
    QStackedWidget* pages_;
};
