#include "StatusLoops.h"

#include "BenchSupport.h"

#include <fstream>
#include <regex>
#include <sstream>

const char PyVisaStatusLoop[] = R"py(import sys, time
import pyvisa
port, count = int(sys.argv[1]), int(sys.argv[2])
rm = pyvisa.ResourceManager("@py")
amp = rm.open_resource("TCPIP0::127.0.0.1::%d::SOCKET" % port,
                       read_termination="\r\n", write_termination="\n", timeout=5000)
first = last = 0.0
for i in range(count):
    last = time.perf_counter()
    if i == 0:
        first = last
    reply = amp.query("STATUS?")
    if not reply.startswith("STATUS OK"):
        sys.exit("unexpected reply: " + reply)
amp.close()
print("%.6f" % (last - first))
)py";

bool RunChild(const std::vector<std::string>& args, const std::string& outPath) {
    return WaitSucceeded(SpawnWithOutput(args, outPath));
}

std::string ReadWhole(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

double TxSpan(const std::string& log, int& count) {
    static const std::regex tx(R"(\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\] (?:[^ \]]+: )?Tx: )");
    count = 0;
    double first = 0;
    double last = 0;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), tx); it != std::sregex_iterator(); ++it) {
        double at = std::stoi((*it)[1]) * 3600.0 + std::stoi((*it)[2]) * 60.0 + std::stoi((*it)[3]) +
                    std::stoi((*it)[4]) / 1000.0;
        if (count == 0) first = at;
        while (at < last)
            at += 24 * 3600.0; // past midnight
        last = at;
        ++count;
    }
    return count < 2 ? 0 : last - first;
}
