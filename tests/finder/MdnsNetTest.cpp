// The mDNS search against the instruments that tests/support/mdns-env announces from the second
// host (10.77.0.2), through its avahi-daemon. Runs only inside netns-run --two-hosts, under mdns-env.
#include "RecordingSink.h"
#include "finder/MdnsSearch.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

// libdbus (under Avahi's client) takes two locks of its own in one order when it connects and in
// the other when it closes, on one thread; ThreadSanitizer reports that as a possible deadlock.
extern "C" const char* __tsan_default_suppressions() {
    return "deadlock:libdbus-1.so\n";
}

namespace {
TEST(MdnsOnTheLan, ResolvesTheAnnouncedServicesIntoRows) {
    auto search = MakeMdnsSearch();
    RecordingSink sink;
    ASSERT_TRUE(search && search->Start("10.77.0.1", sink));
    const std::string raw = "_scpi-raw._tcp/Bench Amp (PA-1500 #1)@10.77.0.2";
    const std::string hislip = "_hislip._tcp/Bench Amp HiSLIP@10.77.0.2";
    ASSERT_TRUE(sink.WaitFor([&] { return sink.found.count(raw) + sink.found.count(hislip) == 2; }));
    search->Stop();
    EXPECT_EQ(sink.found[raw].name, "Bench Amp (PA-1500 #1)");
    EXPECT_EQ(sink.found[raw].visa, "TCPIP::10.77.0.2::5025::SOCKET");
    EXPECT_EQ(sink.found[hislip].name, "Veltrask,PA-1500,SN0042,2.1");
    EXPECT_EQ(sink.found[hislip].visa, "TCPIP::10.77.0.2::hislip0::INSTR");
}

// Last: it ends the environment's daemon.
TEST(MdnsOnTheLan, ADaemonThatStopsIsAQuietNote) {
    auto search = MakeMdnsSearch();
    RecordingSink sink;
    ASSERT_TRUE(std::getenv("MDNS_ENV_AVAHI_PID") && search->Start("10.77.0.1", sink));
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.found.empty(); }));
    ASSERT_EQ(::kill(std::atoi(std::getenv("MDNS_ENV_AVAHI_PID")), SIGTERM), 0);
    ASSERT_TRUE(sink.WaitFor([&] { return !sink.notes.empty(); }));
    search->Stop();
    EXPECT_EQ(sink.notes[0], "mDNS: the Avahi daemon has stopped, so mDNS services are no longer searched");
}
} // namespace
