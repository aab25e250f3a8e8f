#include "app/Wiring.h"

#include "app/Config.h"
#include "app/Fconsole.h"
#include "batch/Fbatchsend.h"
#include "projects/Fgotoprojdlg.h"

#include "platform/QtPlatform.h"

#include <QPointer>
#include <QTimer>

void WireBatchToConsole(TFormConsole& console, TFormBatchSend& batch) {
    QPointer<TFormBatchSend> window(&batch);
    TFormConsole::BatchHooks hooks;
    hooks.IsVisible = [window] { return window && window->isVisible(); };
    hooks.InsertLine = [window](const std::string& text) {
        if (window) window->InsertLine(text);
    };
    // The step a line triggers runs from the event loop, after the line's hand-over has returned:
    // a prompt it opens must not hold up the reader, which goes on reading and logging meanwhile.
    hooks.NotifyRxLine = [window](const std::string& text) {
        if (!window) return;
        QTimer::singleShot(0, window, [window, text] {
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

namespace {
constexpr char ShareRootSetting[] = "ProjectShareRoot";
}

void WireNavigatorToConsole(TFormConsole& console, TFormGotoProj& navigator) {
    QPointer<TFormGotoProj> window(&navigator);
    TFormConsole::ProjectHooks hooks;
    hooks.ChooseFolder = [window](std::string& folder) {
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
    console.SetProjectHooks(std::move(hooks));
    navigator.OnShareRootChosen = [](const std::string& root) {
        SettingsStore& settings = Settings();
        settings.OpenKey(SettingsKeyPath);
        settings.WriteStr(ShareRootSetting, root);
        settings.CloseKey();
    };
}
