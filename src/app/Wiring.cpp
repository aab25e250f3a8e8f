#include "app/Wiring.h"

#include "app/ConsoleTools.h"
#include "app/Fconsole.h"
#include "app/SerialTools.h"
#include "batch/Fbatchsend.h"
#include "platform/Config.h"
#include "projects/Fgotoprojdlg.h"

#include "platform/QtPlatform.h"
#include "text/Fbuttonfield.h"
#include "text/Fmemo.h"

#include <QPointer>
#include <QTimer>

void WireBatchToConsole(TFormConsole& console, TFormBatchSend& batch) {
    QPointer<TFormBatchSend> window(&batch);
    TFormConsole::BatchHooks hooks;
    hooks.IsVisible = [window] { return window && window->isVisible(); };
    hooks.InsertLine = [window](const std::string& text) {
        if (window) window->InsertLine(text);
    };
    // The step a line triggers runs after the line's hand-over has returned: a prompt it opens
    // must not hold up the reader, which goes on reading and logging meanwhile. Posted to the
    // hand-over, it runs right after the delivery, without waiting for another turn of the event
    // loop (which cost about ten times the whole step).
    hooks.NotifyRxLine = [window](const std::string& text) {
        if (!window) return;
        Handover::Main().Post([window, text] {
            if (window) Guarded([&] { window->NotifyRxLine(text); });
        });
    };
    hooks.ShowFromConsole = [window] {
        if (window) window->ShowFromConsole();
    };
    hooks.LoadScript = [window](const std::string& path) { return window && window->LoadScript(path); };
    hooks.ConnectionLost = [window] {
        if (window) window->ConnectionLost();
    };
    hooks.ConnectionPaused = [window] {
        if (window) window->ConnectionPaused();
    };
    hooks.ConnectionBack = [window] {
        if (window) window->ConnectionBack();
    };
    console.SetBatchHooks(std::move(hooks));

    QPointer<TFormConsole> owner(&console);
    TFormBatchSend::ConsoleHooks back;
    back.SendLine = [owner](const std::string& text) {
        if (!owner) return;
        owner->SendTextCommand(text, nullptr);
    };
    back.Log = [owner](const std::string& text, uint32_t colour) {
        if (owner) owner->AddLogLine(text, colour);
    };
    back.SendBreak = [owner](uint32_t ms) {
        return owner ? owner->SerialTools().SendBreakFor(static_cast<int>(ms)) : std::string("no console");
    };
    batch.AttachToConsole(std::move(back));
}

namespace {
constexpr char ShareRootSetting[] = "ProjectShareRoot";

// Shows the navigator over the share root of the settings; OK: folder := the chosen folder.
std::function<bool(std::string&)> ChooseProjectFolder(TFormGotoProj& navigator) {
    QPointer<TFormGotoProj> window(&navigator);
    return [window](std::string& folder) {
        if (!window) return false;
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        std::string root = settings.ReadStr(ShareRootSetting, "");
        settings.CloseKey();
        window->SetShareRoot(root);
        if (window->ShowModal() != TFormGotoProj::mrOk) return false;
        folder = window->SelectedFolder();
        return true;
    };
}
} // namespace

void WireNavigatorToConsole(TFormConsole& console, TFormGotoProj& navigator) {
    TConsoleTools::ProjectHooks hooks;
    hooks.ChooseFolder = ChooseProjectFolder(navigator);
    console.Tools().SetProjectHooks(std::move(hooks));
    navigator.OnShareRootChosen = [](const std::string& root) {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteStr(ShareRootSetting, root);
        settings.CloseKey();
    };
}

void WireNavigatorToMemo(TFormMemo& memo, TFormGotoProj& navigator) {
    memo.ProjectFolderHook = ChooseProjectFolder(navigator);
}

void WireMemoToConsole(TFormConsole& console, TFormMemo& memo) {
    QPointer<TFormMemo> editor(&memo);
    TConsoleTools::EditorHooks hooks;
    hooks.SetCaption = [editor](const std::string& caption) {
        if (editor) editor->SetCaption(caption);
    };
    hooks.SetText = [editor](const std::string& text) {
        if (!editor) return;
        editor->SetText(text);
        editor->SetModified(false);
    };
    hooks.ShowModal = [editor] { return editor && editor->ShowModal(); };
    hooks.Text = [editor] { return editor ? editor->Text() : std::string(); };
    hooks.Lines = [editor] { return editor ? editor->Lines() : std::vector<std::string>{}; };
    console.Tools().SetEditorHooks(std::move(hooks));
    // The button field edits its bookmark file's lines in the same editor.
    console.ButtonField()->EditText = [editor](std::string& text, const std::string& caption) {
        if (!editor) return false;
        editor->SetCaption(caption);
        editor->SetText(text);
        editor->SetModified(false);
        if (!editor->ShowModal()) return false;
        text = editor->Text();
        return true;
    };
}
