// The program entry: the socket layer, the application, the windows (created once, in a fixed
// order, kept for the whole run), the event loop. With --batch the script runs without windows:
// no QApplication is made, so no display is needed; nor for --help, --version and a wrong option.
#include "CorvaneVersion.h"
#include "app/Fconsole.h"
#include "app/PlotWiring.h"
#include "app/Wiring.h"
#include "batch/Fbatchsend.h"
#include "batch/HeadlessOptions.h"
#include "batch/HeadlessRunner.h"
#include "connection/Fopencom.h"
#include "connection/Fselipaddr.h"
#include "connection/Sockets.h"
#include "finder/Fampfinder.h"
#include "finder/MdnsSearch.h"
#include "platform/QtPlatform.h"
#include "projects/Fgotoprojdlg.h"
#include "text/Fmemo.h"

#include <QApplication>
#include <cstdio>
#include <exception>
#include <memory>

namespace {
// The windows live for the whole run; the dialogs are the console's children and go with it.
std::unique_ptr<TFormConsole> CreateWindows() {
    auto console = std::make_unique<TFormConsole>();
    FormConsole = console.get();
    FormGotoProj = new TFormGotoProj(console.get());
    WireNavigatorToConsole(*console, *FormGotoProj);
    FormMemo = new TFormMemo(console.get());
    WireMemoToConsole(*console, *FormMemo);
    WireNavigatorToMemo(*FormMemo, *FormGotoProj);
    FormAmpFinder = new TFormAmpFinder(console.get());
    if (auto mdns = MakeMdnsSearch())
        FormAmpFinder->AddSearch(TFormAmpFinder::SearchKind::Mdns, std::move(mdns));
    FormSelIpAddr = new TFormSelIpAddr(console.get());
    FormOpenCom = new TFormOpenCom(console.get());
    FormAmpFinder->AttachToOpenCom(*FormOpenCom);
    FormBatchSend = new TFormBatchSend(console.get());
    WireBatchToConsole(*console, *FormBatchSend);
    WirePlotToConsole(*console);
    return console;
}

int Run(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    QApplication::setApplicationDisplayName("Corvane");
    QApplication::setOrganizationName("Veltrask");
    InstallQtHandover();
    QtModalBoxes boxes;
    SetBoxes(&boxes);
    std::unique_ptr<TFormConsole> console;
    try {
        console = CreateWindows();
    } catch (const std::exception& e) {
        ShowHandlerError(e.what());
        return 1;
    }
    if (argc > 1) console->SetStartScript(argv[1]);
    console->show();
    int result = QApplication::exec();
    FormBatchSend = nullptr;
    FormOpenCom = nullptr;
    FormSelIpAddr = nullptr;
    FormGotoProj = nullptr;
    FormAmpFinder = nullptr;
    FormMemo = nullptr;
    console.reset();
    SetBoxes(nullptr);
    return result;
}
} // namespace

int main(int argc, char** argv) {
    std::string badOption;
    const ProgramMode mode = ReadProgramMode({argv + 1, argv + argc}, badOption);
    if (mode == ProgramMode::Help) {
        std::fputs(ProgramUsage().c_str(), stdout);
        return 0;
    }
    if (mode == ProgramMode::Version) {
        std::puts("corvane " CORVANE_VERSION);
        return 0;
    }
    if (mode == ProgramMode::BadOption) {
        std::fprintf(stderr, "corvane: unknown option '%s'\n%s", badOption.c_str(), ProgramUsage().c_str());
        return 1;
    }
    SocketStartup();
    int result = mode == ProgramMode::Headless ? RunHeadlessCommand(argc, argv) : Run(argc, argv);
    SocketCleanup();
    return result;
}
