#pragma once
// The bookmark field's page control: a tab widget whose tab bar measures each tab once. Qt lays the
// whole bar out again for every tab inserted (it asks which tab is under the mouse), and measuring a
// tab asks the style and the font; with the measures kept, loading a file of thousands of tabs
// stays quick. A tab's measures are kept until the font or the style changes: the field never renames
// a tab (it builds its tabs anew from the file); whoever does must call Forget.
#include <QTabBar>
#include <QTabWidget>

#include <vector>

class TMeasuredTabBar : public QTabBar {
public:
    explicit TMeasuredTabBar(QWidget* parent = nullptr) : QTabBar(parent) {}
    // Every tab is measured again at the next layout.
    void Forget();

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;
    void changeEvent(QEvent* event) override;

private:
    struct Measure {
        QSize size, minimum; // invalid: not measured yet
    };
    mutable std::vector<Measure> measures_; //!< One per tab, in the tabs' order.
    mutable bool measuringMinimum_ = false; //!< Qt's minimum measure asks tabSizeHint with an elided text.
};

class TBookmarkTabs : public QTabWidget {
public:
    explicit TBookmarkTabs(QWidget* parent = nullptr) : QTabWidget(parent) {
        setTabBar(new TMeasuredTabBar(this));
    }
};
