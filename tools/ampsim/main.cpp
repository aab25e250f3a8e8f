// ampsim: a simulated amplifier on TCP and/or a pseudo-terminal (TCP only on Windows). See --help.
#include <cstdio>
#include <string>

#include "CorvaneVersion.h"
#include "Io.h"
#include "Options.h"
#include "Server.h"

int main(int argc, char** argv) {
    std::string error;
    if (!ampsim::PrepareIo(error)) {
        std::fprintf(stderr, "ampsim: %s\n", error.c_str());
        return 1;
    }
    std::optional<ampsim::Options> options = ampsim::ParseOptions(argc, argv, error);
    if (options && !options->help && !options->version) error = ampsim::UnsupportedOption(*options);
    if (!options || !error.empty()) {
        std::fprintf(stderr, "ampsim: %s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(ampsim::HelpText().c_str(), stdout);
        return 0;
    }
    if (options->version) {
        std::puts("ampsim " CORVANE_VERSION);
        return 0;
    }
    ampsim::Server server(*options);
    if (!server.Open(error)) {
        std::fprintf(stderr, "ampsim: %s\n", error.c_str());
        return 1;
    }
    // Parents wait for "ready" on a pipe, so the lines must leave now, not at exit.
    for (const std::string& line : server.Announcements())
        std::printf("%s\n", line.c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    server.Run();
    return 0;
}
