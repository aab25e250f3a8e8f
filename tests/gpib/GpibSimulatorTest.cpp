// libGpibSimulator.so through the binding: its devices, replies, time-outs and events, and that
// unloading it while its event thread runs neither crashes nor lets an event through afterwards.
#include "GpibTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <dlfcn.h>

namespace {

using GpibSimulator = GpibFixture;

std::string Receive(int32_t handle, int32_t timeoutMs = 500) {
    std::string reply;
    return GpibReceive(handle, timeoutMs, reply) ? reply : "<no reply>";
}

TEST_F(GpibSimulator, OnlyTheConfiguredDevicesAnswer) {
    LoadSimulator();
    EXPECT_GE(gpib_open(0, 30), 0); // by default every device address on adapter 0
    EXPECT_EQ(gpib_open(0, 31), -1);
    EXPECT_EQ(gpib_open(1, 7), -1);
    EXPECT_EQ(gpib_geterrmsg(), "No device at adapter 1, address 7");

    setenv("CORVANE_GPIBSIM_DEVICES", "0:7, 1:3,junk", 1);
    EXPECT_GE(gpib_open(0, 7), 0);
    EXPECT_GE(gpib_open(1, 3), 0);
    EXPECT_EQ(gpib_open(0, 9), -1);
    EXPECT_EQ(gpib_open(32, 3), -1);
}

TEST_F(GpibSimulator, RepliesComeInOrderOneLinePerReceive) {
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(GpibSendRaw(handle, "*IDN?\r\nMULTI? 2\nECHO last", 500));
    EXPECT_EQ(Receive(handle), "Veltrask,AmpSim,GS000007,1.0\n");
    EXPECT_EQ(Receive(handle), "MULTI 1/2\n");
    EXPECT_EQ(Receive(handle), "MULTI 2/2\n");
    EXPECT_EQ(Receive(handle), "last\n");

    std::string reply = "old";
    EXPECT_FALSE(GpibReceive(handle, 20, reply));
    EXPECT_EQ(reply, "");
    EXPECT_EQ(gpib_geterrmsg(), "Timeout: no reply from device 0,7 within 20 ms");
}

TEST_F(GpibSimulator, AnEscapedCommandIsCutBeforeItReachesTheDevice) {
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    // "ECHO " and 8190 of the x reach the device; the rest and the LF are cut off.
    EXPECT_TRUE(GpibSendEscaped(handle, "ECHO " + std::string(9000, 'x') + "\n", 500));
    EXPECT_EQ(Receive(handle), std::string(8190, 'x') + "\n");
    EXPECT_TRUE(GpibSendEscaped(handle, "ECHO A\\x41\\t\n", 500));
    EXPECT_EQ(Receive(handle), "AA\t\n");
}

TEST_F(GpibSimulator, ServiceRequestFollowsTheConfiguredCommand) {
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(GpibSendRaw(handle, "*OPC\n", 500)); // the default trigger
    ASSERT_TRUE(events.WaitFor(GPIB_EVENT_SRQ));
    const PostedEvent srq = events.Events().at(0);
    EXPECT_EQ(srq.message, 1024u);
    EXPECT_EQ(srq.wparam, 0);
    EXPECT_NE(gpib_wait(handle, 5000), 0);
    EXPECT_EQ(gpib_wait(handle, 0), 0); // taken
    // The model does not know *OPC, and that leaves nothing in the way of the status reply.
    EXPECT_TRUE(GpibSendRaw(handle, "STATUS?\n", 500));
    EXPECT_EQ(Receive(handle), "STATUS OK FWD=45.2dBm REFL=12.1dBm TEMP=38C\n");

    // A trigger the model knows keeps its reply.
    setenv("CORVANE_GPIBSIM_SRQ_ON", "ECHO done", 1);
    EXPECT_TRUE(GpibSendRaw(handle, "ECHO done\n", 500));
    EXPECT_EQ(Receive(handle), "done\n");
    EXPECT_NE(gpib_wait(handle, 5000), 0);
}

TEST_F(GpibSimulator, ErrorAndInterruptEvents) {
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);

    EXPECT_TRUE(GpibSendRaw(handle, "GPIBSIM INTERRUPT\n", 500));
    ASSERT_TRUE(events.WaitFor(GPIB_EVENT_INTERRUPT));

    EXPECT_TRUE(GpibSendRaw(handle, "GPIBSIM ERROR\n", 500));
    ASSERT_TRUE(events.WaitFor(GPIB_EVENT_ERROR));
    EXPECT_EQ(gpib_geterrmsg(), "Simulated bus error on device 0,7");

    for (const PostedEvent& event : events.Events()) {
        EXPECT_EQ(event.message, 1024u);
        EXPECT_EQ(event.wparam, 0);
    }
    std::string reply;
    EXPECT_FALSE(GpibReceive(handle, 0, reply)); // the simulator's commands have no reply
}

TEST_F(GpibSimulator, SendingToAClosedHandleFailsWithAnErrorEvent) {
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_NE(gpib_close(handle), 0);
    EXPECT_FALSE(GpibSendRaw(handle, "STATUS?\n", 500));
    EXPECT_EQ(gpib_geterrmsg(), "gpib_send: handle " + std::to_string(handle) + " is not open");
    EXPECT_TRUE(events.WaitFor(GPIB_EVENT_ERROR));
}

bool StillMapped(const std::string& path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library) dlclose(library);
    return library != nullptr;
}

bool HasEvent(const std::vector<PostedEvent>& events, intptr_t kind) {
    for (const PostedEvent& event : events)
        if (event.lparam == kind) return true;
    return false;
}

// When the library goes, the event thread is busy posting interrupts and has a service request
// a minute away still to come.
TEST_F(GpibSimulator, UnloadWhileTheEventThreadRunsStopsIt) {
    setenv("CORVANE_GPIBSIM_SRQ_DELAY_MS", "60000", 1);
    LoadSimulator();
    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(GpibSendRaw(handle, "*OPC\n", 500));
    std::string interrupts;
    for (int i = 0; i < 200; ++i)
        interrupts += "GPIBSIM INTERRUPT\n";
    EXPECT_TRUE(GpibSendRaw(handle, interrupts, 500));

    const auto start = std::chrono::steady_clock::now();
    UnloadGpibLibrary();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(StillMapped(SimulatorPath()));
    EXPECT_FALSE(HasEvent(events.Events(), GPIB_EVENT_SRQ));
}

// Another host may unload without gpib_deinit: the library's own destructor stops the thread.
TEST_F(GpibSimulator, UnloadWithoutDeinitStopsTheEventThreadToo) {
    setenv("CORVANE_GPIBSIM_SRQ_DELAY_MS", "60000", 1);
    void* library = dlopen(SimulatorPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto init = reinterpret_cast<gpib_init_fn>(dlsym(library, "gpib_init"));
    auto open = reinterpret_cast<gpib_open_fn>(dlsym(library, "gpib_open"));
    auto send = reinterpret_cast<gpib_send_fn>(dlsym(library, "gpib_send"));
    ASSERT_TRUE(init && open && send);
    target = events.Target();
    init(&target);
    const int32_t handle = open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_NE(send(handle, "*OPC\n", 5, 500), 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dlclose(library), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(StillMapped(SimulatorPath()));
    EXPECT_TRUE(events.Events().empty());
}

} // namespace
