// A test script's query loop against the batch runner and a Python loop: 5 000 amp:query("STATUS?")
// in Lua, run by corvane-batch against the simulated amplifier (no reply delay), beside the same
// 5 000 STATUS? as a batch script (one line per step) and a pyvisa-py loop over a raw socket. The
// Lua and batch rates come from each run's own log, its first Tx to its last, the Python loop's from
// its own clock, so no start-up counts. The three run one right after the other in each round, the
// order turning, and the ratios printed are the medians of the rounds' ratios, so that what else the
// machine does falls on all alike. Goal: the Lua loop at least 0.9x the batch runner's rate and at
// least twice the Python loop's.
//
// On a machine of two virtual CPUs the wall-clock rates of the runner and the simulator depend on
// where the scheduler puts the two processes (one CPU, handing over directly, or two, woken across
// them), which varies from run to run. The instructions each query costs the runner do not: they
// are counted by callgrind (valgrind's, when installed) as the difference of a 5 000- and a
// 1 000-query run, for the Lua loop and the batch script alike.
#include "AmpsimProcess.h"
#include "BenchSupport.h"
#include "StatusLoops.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace {
constexpr int Queries = 5000;
constexpr int Rounds = 7;

constexpr char LuaLoop[] = R"lua(local amp = corvane.open()
for i = 1, tonumber(corvane.params.count) do
  local reply = amp:query("STATUS?")
  if reply:sub(1, 9) ~= "STATUS OK" then corvane.fail("unexpected reply: " .. reply) end
end
)lua";

struct Files {
    std::filesystem::path dir;
    std::string Path(const char* name) const { return (dir / name).string(); }
};

Files MakeFiles() {
    char pattern[] = "/tmp/bench_lua.XXXXXX";
    Files files{::mkdtemp(pattern)};
    std::ofstream script(files.Path("status.txt"), std::ios::binary);
    for (int i = 0; i < Queries; ++i)
        script << "STATUS?\r\n";
    std::ofstream(files.Path("loop.lua"), std::ios::binary) << LuaLoop;
    std::ofstream(files.Path("loop.py"), std::ios::binary) << PyVisaStatusLoop;
    return files;
}

// A runner's rate from its log; 0 when it failed or the log lacks Tx lines.
double LogRate(const std::vector<std::string>& args, const Files& files) {
    const std::string out = files.Path("out.txt");
    if (!RunChild(args, out)) return 0;
    int count = 0;
    const double span = TxSpan(ReadWhole(out), count);
    return count == Queries && span > 0 ? (count - 1) / span : 0;
}

double PythonRate(int port, const Files& files) {
    const std::string out = files.Path("py.txt");
    if (!RunChild({DistributionPython, files.Path("loop.py"), std::to_string(port), std::to_string(Queries)},
                  out))
        return 0;
    const double span = std::atof(ReadWhole(out).c_str());
    return span > 0 ? (Queries - 1) / span : 0;
}
// The instructions callgrind counts in a whole run of args (0 when it could not run).
double Instructions(std::vector<std::string> args, const Files& files) {
    const std::string out = files.Path("callgrind.out");
    args.insert(args.begin(), {"/usr/bin/valgrind", "--tool=callgrind", "--callgrind-out-file=" + out});
    if (!RunChild(args, files.Path("callgrind.log"))) return 0;
    std::smatch total;
    const std::string text = ReadWhole(out);
    static const std::regex summary(R"(\nsummary: (\d+))");
    return std::regex_search(text, total, summary) ? std::stod(total[1]) : 0;
}

// Instructions per query: the difference of a run of Queries and one of Queries / 5, so that the
// start and the end do not count.
double InstructionsPerQuery(const std::function<std::vector<std::string>(int)>& run, const Files& files) {
    const double many = Instructions(run(Queries), files);
    const double few = Instructions(run(Queries / 5), files);
    return many > 0 && few > 0 ? (many - few) / (Queries - Queries / 5) : 0;
}
} // namespace

int main() {
    AmpsimProcess amp({"--tcp", "127.0.0.1:0"});
    if (!amp.Ready()) {
        std::fprintf(stderr, "ampsim did not start: %s\n", amp.Error().c_str());
        return 1;
    }
    const Files files = MakeFiles();
    const std::string connection = "tcp:127.0.0.1:" + std::to_string(amp.TcpPort());
    const std::string batch = CORVANE_BIN_DIR "/corvane-batch";
    const std::vector<std::function<double()>> runs = {
        [&] {
            return LogRate({batch, files.Path("loop.lua"), "--connect", connection, "--set",
                            "count=" + std::to_string(Queries)},
                           files);
        },
        [&] {
            return LogRate({batch, files.Path("status.txt"), "--connect", connection}, files);
        },
        [&] { return PythonRate(amp.TcpPort(), files); },
    };
    std::vector<double> rates[3], toBatch, toPython;
    for (int round = 0; round < Rounds; ++round) {
        double rate[3];
        for (int i = 0; i < 3; ++i) {
            const int which = (round + i) % 3;
            rate[which] = runs[which]();
            if (rate[which] <= 0) {
                std::fprintf(stderr, "run %d failed (is python3-pyvisa-py installed? scripts/bootstrap)\n",
                             which);
                return 1;
            }
        }
        for (int i = 0; i < 3; ++i)
            rates[i].push_back(rate[i]);
        toBatch.push_back(rate[0] / rate[1]);
        toPython.push_back(rate[0] / rate[2]);
    }
    // The batch script's length is its count: a script of its own for the shorter run.
    {
        std::ofstream fewer(files.Path("status-few.txt"), std::ios::binary);
        for (int i = 0; i < Queries / 5; ++i)
            fewer << "STATUS?\r\n";
    }
    const double luaCost = InstructionsPerQuery(
        [&](int count) {
            return std::vector<std::string>{batch,   files.Path("loop.lua"),          "--connect", connection,
                                            "--set", "count=" + std::to_string(count)};
        },
        files);
    const double batchCost = InstructionsPerQuery(
        [&](int count) {
            return std::vector<std::string>{batch,
                                            files.Path(count == Queries ? "status.txt" : "status-few.txt"),
                                            "--connect", connection};
        },
        files);
    std::filesystem::remove_all(files.dir);
    if (luaCost > 0 && batchCost > 0)
        std::printf(
            "instructions per query (callgrind): Lua loop %.0f, batch script %.0f; ratio batch / Lua: %.2f "
            "(the rate ratio they allow)\n",
            luaCost, batchCost, batchCost / luaCost);
    std::printf(
        "%d STATUS? per run, median of %d rounds: Lua loop %.0f/s, batch script %.0f/s, pyvisa-py loop "
        "%.0f/s\n",
        Queries, Rounds, Median(rates[0]), Median(rates[1]), Median(rates[2]));
    std::printf("ratio Lua loop / batch runner: %.2f (goal: at least 0.9)\n", Median(toBatch));
    std::printf("ratio Lua loop / pyvisa-py loop: %.2f (goal: at least 2)\n", Median(toPython));
    return 0;
}
