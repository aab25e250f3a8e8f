#pragma once
// How the program's windows reach each other. Each window knows only the narrow hooks it is
// given; the wiring lives here, so no window includes another's header.
class TFormConsole;
class TFormBatchSend;
class TFormGotoProj;
class TFormMemo;

// The console forwards replies to, shows and loads scripts into the batch window; the batch window
// sends through the console's send path and logs into its log. Both live until the program ends;
// the hooks check that the other window still exists.
void WireBatchToConsole(TFormConsole& console, TFormBatchSend& batch);

// The console's Ctrl+Save shows the navigator; the navigator searches below the share root of the
// setting ProjectShareRoot, read each time it is shown, and stores a root the operator chooses.
void WireNavigatorToConsole(TFormConsole& console, TFormGotoProj& navigator);
// The console's tools borrow the shared editor: caption, text, modal OK, the lines back. The
// editor lives until the program ends; the hooks check that it still exists.
void WireMemoToConsole(TFormConsole& console, TFormMemo& memo);

// The editor's Ctrl+Open and Ctrl+Save as ask the navigator for the folder first.
void WireNavigatorToMemo(TFormMemo& memo, TFormGotoProj& navigator);
