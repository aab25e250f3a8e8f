// ampsim.exe started through the tests' process helper and spoken to over loopback TCP with plain
// Winsock: the simulator and the helper that Windows tests of the connection build on.
#include "AmpsimProcess.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

namespace {

// Sends a command to 127.0.0.1:port and returns the first reply line, CR LF included.
std::string Ask(int port, const std::string& command) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "WSAStartup failed";
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    DWORD timeoutMs = 5000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    std::string line;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        send(socket, command.data(), static_cast<int>(command.size()), 0) ==
            static_cast<int>(command.size())) {
        char c = 0;
        while (line.find('\n') == std::string::npos && recv(socket, &c, 1, 0) == 1)
            line += c;
    }
    closesocket(socket);
    WSACleanup();
    return line;
}

} // namespace

// The serial number holds a space, so it also shows the arguments reach ampsim.exe unchanged.
TEST(AmpsimExe, AnswersOverTcpAndExitsWhenItsStandardInputCloses) {
    AmpsimProcess sim({"--tcp", "127.0.0.1:0", "--serial", "WIN 7"});
    ASSERT_TRUE(sim.Ready()) << sim.Error();
    ASSERT_GT(sim.TcpPort(), 0);
    EXPECT_GT(sim.Pid(), 0);
    EXPECT_EQ(Ask(sim.TcpPort(), "*IDN?\r\n"), "Veltrask,AmpSim,WIN 7,1.0\r\n");
    sim.CloseStdin();
    EXPECT_EQ(sim.WaitExit(5000), 0);
    EXPECT_EQ(sim.Pid(), -1);
}

TEST(AmpsimExe, RefusesAPseudoTerminalAsABadOption) {
    AmpsimProcess sim({"--pty"});
    EXPECT_FALSE(sim.Ready());
    EXPECT_EQ(sim.WaitExit(5000), 2);
}

TEST(AmpsimExe, TerminateEndsItWithExitCodeOne) {
    AmpsimProcess sim;
    ASSERT_TRUE(sim.Ready()) << sim.Error();
    sim.Terminate();
    EXPECT_EQ(sim.WaitExit(5000), 1);
}
