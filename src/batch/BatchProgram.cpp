// corvane-batch: the headless runner as a program of its own, built from the core alone, so a
// test station or CI needs neither Qt nor a display. It takes the command line of
// `corvane --batch`; with the script first, "--batch" may be left out.
#include "CorvaneVersion.h"
#include "batch/HeadlessOptions.h"
#include "batch/HeadlessRunner.h"
#include "connection/Sockets.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    std::string bad;
    const ProgramMode mode = ReadProgramMode({args.begin() + 1, args.end()}, bad);
    if (mode == ProgramMode::Help) {
        std::fputs(HeadlessUsage, stdout);
        return 0;
    }
    if (mode == ProgramMode::Version) {
        std::puts("corvane-batch " CORVANE_VERSION);
        return 0;
    }
    if (args.size() > 1 && !args[1].starts_with("-")) args.insert(args.begin() + 1, "--batch");
    std::vector<char*> argvOut;
    argvOut.reserve(args.size() + 1);
    for (std::string& arg : args)
        argvOut.push_back(arg.data());
    argvOut.push_back(nullptr);
    SocketStartup();
    const int result = RunHeadlessCommand(static_cast<int>(args.size()), argvOut.data());
    SocketCleanup();
    return result;
}
