#pragma once
// How the program's windows reach each other. Each window knows only the narrow hooks it is
// given; the wiring lives here, so no window includes another's header.
class TFormConsole;
class TFormBatchSend;
class TFormMemo;

// The console forwards replies to, shows and loads scripts into the batch window; the batch window
// sends through the console's send path and logs into its log. Both live until the program ends;
// the hooks check that the other window still exists.
void WireBatchToConsole(TFormConsole& console, TFormBatchSend& batch);

// The console's tools borrow the shared editor: caption, text, modal OK, the lines back. The
// editor lives until the program ends; the hooks check that it still exists.
void WireMemoToConsole(TFormConsole& console, TFormMemo& memo);
