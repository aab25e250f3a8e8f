#include "app/Wiring.h"

#include "app/Fconsole.h"
#include "batch/Fbatchsend.h"
#include "text/Fmemo.h"

#include <QPointer>

void WireBatchToConsole(TFormConsole& console, TFormBatchSend& batch) {
    QPointer<TFormBatchSend> window(&batch);
    TFormConsole::BatchHooks hooks;
    hooks.IsVisible = [window] { return window && window->isVisible(); };
    hooks.InsertLine = [window](const std::string& text) {
        if (window) window->InsertLine(text);
    };
    hooks.NotifyRxLine = [window](const std::string& text) {
        if (window) window->NotifyRxLine(text);
    };
    hooks.ShowFromConsole = [window] {
        if (window) window->ShowFromConsole();
    };
    hooks.LoadScript = [window](const std::string& path) {
        if (window) window->LoadScript(path);
    };
    console.SetBatchHooks(std::move(hooks));

    QPointer<TFormConsole> owner(&console);
    TFormBatchSend::ConsoleHooks back;
    back.SendLine = [owner](const std::string& text) {
        if (!owner) return;
        owner->SetRawInText(text);
        owner->ButtonRawSendClick(nullptr);
    };
    back.Log = [owner](const std::string& text, uint32_t colour) {
        if (owner) owner->AddLogLine(text, colour, true);
    };
    batch.AttachToConsole(std::move(back));
}

void WireMemoToConsole(TFormConsole& console, TFormMemo& memo) {
    QPointer<TFormMemo> editor(&memo);
    TFormConsole::EditorHooks hooks;
    hooks.Show = [editor](const std::string& caption, const std::string& text) {
        if (!editor) return false;
        editor->SetCaption(caption);
        editor->SetText(text);
        editor->SetModified(false);
        return editor->ShowModal();
    };
    hooks.Lines = [editor] { return editor ? editor->Lines() : std::vector<std::string>{}; };
    console.SetEditorHooks(std::move(hooks));
}
