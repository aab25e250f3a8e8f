#pragma once
// What assistive technology (a screen reader, over AT-SPI on Linux) sees of the bookmark tab row:
// as of Qt's own tab bar, a page tab list whose children are one page tab per tab, named by its
// caption, selectable and selected while current, whose press action shows its page; after them
// the two arrow buttons. A row may hold thousands of tabs, so a tab's interface is made only
// when asked for, and a tab is no QObject. UI thread only.
class QAccessibleInterface;
class QObject;
class TPageTabBar;

// Registers the interface factory with QAccessible once; every tab row calls it when made, so
// no interface of a row is asked for before the factory is there.
void InstallPageTabBarAccessible();

// The tabs of bar were added or removed: interfaces made for tabs are dropped, as their places
// may now hold other tabs. Nothing happens while accessibility is off.
void PageTabsChanged(TPageTabBar* bar);
// The current tab of bar is now index: the tab that lost the selection (previous, -1 for none) and
// the one that has it are told (and the focus, when the row has it).
void PageTabSelected(TPageTabBar* bar, int previous, int index);
