#include "AmpsimProcess.h"

#include <cstdlib>

namespace {

bool HasEndpointArg(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--pty" || arg == "--tcp" || arg.starts_with("--tcp=")) return true;
    return false;
}

} // namespace

std::vector<std::string> AmpsimProcess::FullArguments(std::vector<std::string> args) {
    if (!HasEndpointArg(args)) args.insert(args.end(), {"--tcp", "127.0.0.1:0"});
    args.push_back("--exit-on-stdin-eof");
    return args;
}

bool AmpsimProcess::ReadUntilReady(int timeoutMs) {
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready_) {
        char buffer[512];
        long got = ReadOutput(buffer, sizeof buffer, deadline);
        if (got < 0) {
            error_ = "ampsim did not report ready within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        if (got == 0) {
            error_ = "ampsim exited before it was ready (see its message above)";
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t lf; !ready_ && (lf = pending_.find('\n')) != std::string::npos;) {
            TakeLine(pending_.substr(0, lf));
            pending_.erase(0, lf + 1);
        }
    }
    return true;
}

int AmpsimProcess::PortOf(const std::string& kind) const {
    for (const auto& [announced, port] : ports_) {
        if (announced == kind) return port;
    }
    return 0;
}

void AmpsimProcess::TakeLine(const std::string& line) {
    if (const size_t blank = line.find(' '); blank != std::string::npos && line.rfind(':') > blank)
        ports_.emplace_back(line.substr(0, blank), std::atoi(line.c_str() + line.rfind(':') + 1));
    if (line == "ready") {
        ready_ = true;
    } else if (line.starts_with("tcp ") && tcpPort_ == 0) {
        tcpPort_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    } else if (line.starts_with("pty ")) {
        ptyPath_ = line.substr(4);
    }
}
