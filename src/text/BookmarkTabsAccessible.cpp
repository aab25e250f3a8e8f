#include "text/BookmarkTabsAccessible.h"

#include "text/BookmarkTabs.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

#include <unordered_map>

namespace {
// The caption as a screen reader says it: the row shows "&&" for one "&", and a single "&" would
// mark a mnemonic.
QString StripMnemonics(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') ++i;
        if (i < caption.size()) plain.append(caption[i]);
    }
    return plain;
}

// One tab. It holds its row and its place, not a copy of the tab, so it stays true while the row
// lives and is merely invalid once its place is gone.
class PageTabAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    PageTabAccessible(TPageTabBar* bar, int index) : bar_(bar), index_(index) {}

    int Index() const { return index_; }

    bool isValid() const override { return bar_ && index_ < bar_->Count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? StripMnemonics(bar_->Text(index_)) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect local = bar_->TabRect(index_);
        return {bar_->mapToGlobal(local.topLeft()), local.size()};
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) return state;
        state.selectable = true;
        state.focusable = true;
        state.selected = index_ == bar_->Current();
        state.focused = state.selected && bar_->hasFocus();
        state.invisible = !bar_->isVisible();
        state.offscreen = !bar_->TabShown(index_);
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid()) bar_->SetCurrent(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<TPageTabBar> bar_;
    int index_;
};

// The row: its tabs, then the two arrow buttons, as Qt's tab bar lists them.
class PageTabBarAccessible : public QAccessibleWidget {
public:
    explicit PageTabBarAccessible(TPageTabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
    ~PageTabBarAccessible() override { ForgetTabs(); }

    // Interfaces of tabs are owned by QAccessible's registry; the ones made here go with the row.
    void ForgetTabs() {
        for (const auto& [index, id] : tabs_)
            QAccessible::deleteAccessibleInterface(id);
        tabs_.clear();
    }

    int childCount() const override { return Bar()->Count() + 2; }

    QAccessibleInterface* child(int index) const override {
        const int count = Bar()->Count();
        if (index < 0 || index >= count + 2) return nullptr;
        if (index == count) return QAccessible::queryAccessibleInterface(Bar()->ScrollLeftButton());
        if (index == count + 1) return QAccessible::queryAccessibleInterface(Bar()->ScrollRightButton());
        if (const auto known = tabs_.find(index); known != tabs_.end())
            return QAccessible::accessibleInterface(known->second);
        auto* tab = new PageTabAccessible(Bar(), index);
        tabs_.emplace(index, QAccessible::registerAccessibleInterface(tab));
        return tab;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        if (const auto* tab = dynamic_cast<const PageTabAccessible*>(child))
            return tab->parent() == this && tab->isValid() ? tab->Index() : -1;
        if (child->object() == Bar()->ScrollLeftButton()) return Bar()->Count();
        if (child->object() == Bar()->ScrollRightButton()) return Bar()->Count() + 1;
        return -1;
    }

    // Asked directly: the generic search would make an interface for every tab of the row.
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = Bar()->mapFromGlobal(QPoint(x, y));
        for (int arrow = 0; arrow < 2; ++arrow) {
            const QToolButton* button = arrow == 0 ? Bar()->ScrollLeftButton() : Bar()->ScrollRightButton();
            if (button->isVisible() && button->geometry().contains(at)) return child(Bar()->Count() + arrow);
        }
        const int index = Bar()->TabAt(at);
        return index >= 0 ? child(index) : nullptr;
    }

    // As Qt's tab bar: unless named, the row is called by its current tab.
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        const QString name = Bar()->accessibleName();
        return name.isEmpty() ? StripMnemonics(Bar()->Text(Bar()->Current())) : name;
    }

private:
    TPageTabBar* Bar() const { return static_cast<TPageTabBar*>(widget()); }

    mutable std::unordered_map<int, QAccessible::Id> tabs_;
};

QAccessibleInterface* MakeAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(TPageTabBar::staticMetaObject.className())) return nullptr;
    return new PageTabBarAccessible(static_cast<TPageTabBar*>(object));
}

PageTabBarAccessible* AccessibleOf(TPageTabBar* bar) {
    if (!QAccessible::isActive()) return nullptr;
    return dynamic_cast<PageTabBarAccessible*>(QAccessible::queryAccessibleInterface(bar));
}
} // namespace

void InstallPageTabBarAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeAccessible);
        return true;
    }();
    (void)installed;
}

void PageTabsChanged(TPageTabBar* bar) {
    // No reorder event, as Qt's tab bar sends none: Qt's AT-SPI bridge answers one by making and
    // announcing an interface for every child, thousands here. Readers ask for children anew.
    if (PageTabBarAccessible* row = AccessibleOf(bar)) row->ForgetTabs();
}

void PageTabSelected(TPageTabBar* bar, int previous, int index) {
    if (!AccessibleOf(bar) || index < 0) return;
    for (const int changed : {previous, index}) {
        if (changed < 0 || changed >= bar->Count()) continue;
        QAccessibleEvent selection(bar, QAccessible::Selection);
        selection.setChild(changed);
        QAccessible::updateAccessibility(&selection);
    }
    if (!bar->hasFocus()) return;
    QAccessibleEvent focus(bar, QAccessible::Focus);
    focus.setChild(index);
    QAccessible::updateAccessibility(&focus);
}
