// The Windows sides of the local addresses, the serial port list, the device check of the
// reconnect and the raw trace, against what Windows (and Wine) has.
#include "connection/LocalAddresses.h"
#include "connection/SerialPortList.h"
#include "connection/TraceIo.h"
#include "console/Reconnect.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <io.h>
#include <thread>

namespace {
std::string DrainPipe(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD waiting = 0, n = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
           ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    return text;
}
} // namespace

TEST(InterfaceIpv4Addresses, AreDottedNotLoopbackAndEachListedOnce) {
    const std::vector<std::string> addresses = InterfaceIpv4Addresses();
    for (const std::string& address : addresses) {
        EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
        EXPECT_FALSE(address.starts_with("127.")) << address;
        EXPECT_EQ(std::count(addresses.begin(), addresses.end(), address), 1) << address;
    }
}

// The system promises no port at all; what it lists is in natural order and there to open, and a
// name it does not know is not there.
TEST(ListSerialPorts, ListsPortsInNaturalOrderThatTheDeviceCheckFinds) {
    const std::vector<std::string> ports = ListSerialPorts();
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), NaturalLess));
    for (const std::string& port : ports)
        EXPECT_TRUE(DevicePresent("\\\\.\\" + port)) << port;
    EXPECT_FALSE(DevicePresent("COM250"));
}

// A pipe that nobody reads takes what fits and the rest is dropped, instead of the caller waiting;
// once it is read, the loss is said on standard error and the pipe waits again as it did.
TEST(TraceIoWin32, APipeNobodyReadsDropsTraceAndTheLossIsSaidOnceItIsRead) {
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 4096));
    std::FILE* stream =
        _fdopen(_open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY), "wb");
    ASSERT_NE(stream, nullptr);
    SetTraceStream(stream);
    testing::internal::CaptureStderr();
    const std::string line(2000, 'x');
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        for (int i = 0; i < 16; ++i)
            TraceIo(TraceDirection::Send, line.data(), line.size());
        sent = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!sent && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    const bool blocked = !sent;
    std::string traced = DrainPipe(readEnd);
    while (!sent) // a sender stuck in the trace is let go, so the test can fail rather than hang
        traced += DrainPipe(readEnd);
    sender.join();
    TraceIo(TraceDirection::Receive, "OK", 2);
    traced += DrainPipe(readEnd);
    const std::string notes = testing::internal::GetCapturedStderr();
    SetTraceStream(nullptr);
    DWORD state = PIPE_NOWAIT;
    EXPECT_TRUE(GetNamedPipeHandleStateW(writeEnd, &state, nullptr, nullptr, nullptr, nullptr, 0));
    std::fclose(stream);
    CloseHandle(readEnd);

    EXPECT_FALSE(blocked) << "the trace waited for the pipe's reader";
    EXPECT_LT(traced.size(), 16 * line.size());
    EXPECT_TRUE(traced.ends_with("\r\nRx: OK")) << "after a gap a header comes first";
    EXPECT_NE(notes.find("bytes of trace were dropped"), std::string::npos) << notes;
    EXPECT_EQ(state & PIPE_NOWAIT, 0u);
}
