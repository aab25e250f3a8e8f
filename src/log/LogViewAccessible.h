#pragma once
// What assistive technology (a screen reader, over AT-SPI on Linux) sees of the console's log
// (TLogView): a read-only multi-line text named "Log" whose text is the lines in view, as shown
// (with control characters as "\xhh" while the view shows them so), joined with LF. Only the
// rows in view are read, so it costs the same at any number of lines. UI thread only.

// Registers the interface factory with QAccessible once; every log view calls it when made.
void InstallLogViewAccessible();
