// The mDNS search against instruments that python3-zeroconf announces from the second host
// (10.77.0.2), through the avahi-daemon that tests/support/mdns-env runs on a bus of its own.
// Runs only inside netns-run --two-hosts, under mdns-env.
#include "RecordingSink.h"
#include "finder/MdnsSearch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {
TEST(MdnsOnTheLan, ResolvesTheAnnouncedServicesIntoRows) {
    auto search = MakeMdnsSearch();
    ASSERT_TRUE(search);
    RecordingSink sink;
    ASSERT_TRUE(search->Start("10.77.0.1", sink));
    const std::string raw = "_scpi-raw._tcp/Bench Amp (PA-1500 #1)@10.77.0.2";
    const std::string hislip = "_hislip._tcp/Bench Amp HiSLIP@10.77.0.2";
    ASSERT_TRUE(sink.WaitFor([&] { return sink.found.count(raw) + sink.found.count(hislip) == 2; }));
    search->Stop();
    EXPECT_EQ(sink.found[raw].name, "Bench Amp (PA-1500 #1)");
    EXPECT_EQ(sink.found[raw].visa, "TCPIP::10.77.0.2::5025::SOCKET");
    EXPECT_EQ(sink.found[hislip].name, "Veltrask,PA-1500,SN0042,2.1");
    EXPECT_EQ(sink.found[hislip].visa, "TCPIP::10.77.0.2::hislip0::INSTR");
    EXPECT_TRUE(sink.notes.empty());
}

// Last: it ends the environment's daemon.
TEST(MdnsOnTheLan, ADaemonThatStopsIsAQuietNote) {
    const char* daemon = std::getenv("MDNS_ENV_AVAHI_PID");
    ASSERT_TRUE(daemon) << "runs under tests/support/mdns-env";
    auto search = MakeMdnsSearch();
    RecordingSink sink;
    ASSERT_TRUE(search->Start("10.77.0.1", sink));
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.found.empty(); }));
    ASSERT_EQ(::kill(std::atoi(daemon), SIGTERM), 0);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.notes.empty(); }));
    search->Stop();
    EXPECT_EQ(sink.notes, std::vector<std::string>{
                              "mDNS: the Avahi daemon has stopped, so mDNS services are no longer searched"});
}
} // namespace
