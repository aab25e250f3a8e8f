"""Reads and drives a11y_window over AT-SPI with pyatspi, as a screen reader would (run by
accessibility_test.sh inside a private session bus); exits 1 when a check fails."""
import sys
import time

import pyatspi

APP_NAME = "corvane-a11y-window"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    print(("ok   " if condition else "FAIL ") + what)


def find(root, role, name=None):
    return pyatspi.findDescendant(
        root, lambda a: a is not None and a.getRole() == role and (name is None or a.name == name))


def fresh(accessible):
    # States are cached from events; read them anew from the application.
    accessible.clearCache()
    return accessible.getState()


def wait_for_window():
    """The application registers on the bus after it has started: poll the desktop for it."""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == APP_NAME:
                tabs = find(app, pyatspi.ROLE_PAGE_TAB_LIST)
                if tabs is not None:
                    return app, tabs
        time.sleep(0.05)
    sys.exit("the window did not appear on the accessibility bus")


def children(accessible):
    return [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]


def selected_names(tabs):
    return [t.name for t in children(tabs) if t.getRole() == pyatspi.ROLE_PAGE_TAB
            and fresh(t).contains(pyatspi.STATE_SELECTED)]


def main():
    app, tabs = wait_for_window()
    page_tabs = [t for t in children(tabs) if t.getRole() == pyatspi.ROLE_PAGE_TAB]
    names = [t.name for t in page_tabs]
    check(names == ["Main", "\u041f\u0443\u043b\u044c\u0442", "M\u00e4\u00dfig & Co"],
          "the page tab list names its tabs by their captions: %r" % names)
    check(all(fresh(t).contains(pyatspi.STATE_SELECTABLE) for t in page_tabs), "every tab is selectable")
    check(selected_names(tabs) == ["Main"], "the first tab is the selected one")
    arrows = [c.name for c in children(tabs) if c.getRole() == pyatspi.ROLE_PUSH_BUTTON]
    check(arrows == ["Scroll tabs left", "Scroll tabs right"], "the arrow buttons are named: %r" % arrows)

    hidden_button = find(app, pyatspi.ROLE_PUSH_BUTTON, "SET NAME \u00e9")
    check(hidden_button is not None and not fresh(hidden_button).contains(pyatspi.STATE_SHOWING),
          "the second page's button is not shown before the switch")
    action = page_tabs[1].queryAction()
    check(action.nActions >= 1 and action.doAction(0), "the second tab's action is done")
    check(selected_names(tabs) == ["\u041f\u0443\u043b\u044c\u0442"], "the action selects its tab alone")
    check(hidden_button is not None and fresh(hidden_button).contains(pyatspi.STATE_SHOWING),
          "the action shows its page")

    asking = find(app, pyatspi.ROLE_PUSH_BUTTON, "SET FREQ ...")
    check(asking is not None and asking.description == "SET FREQ <?f:100>",
          "a button with a parameter describes its whole command")

    log = find(app, pyatspi.ROLE_TEXT, "Log")
    text = log.queryText().getText(0, -1) if log is not None else None
    check(text == "[12:00:00.000] Tx: STATUS?\n[12:00:00.004] Rx: AMP OK",
          "the log is a text named Log holding its lines in view: %r" % text)
    check(log is not None and not fresh(log).contains(pyatspi.STATE_EDITABLE), "the log is read-only")

    if failures:
        sys.exit("%d check(s) failed" % len(failures))


main()
