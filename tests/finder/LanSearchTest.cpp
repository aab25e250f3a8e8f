// The VXI-11 broadcast and the typed addresses against simulated instruments on a host of their
// own: netns-run --two-hosts puts 10.77.0.2 in a second namespace, to which this program adds
// 10.77.0.3 to 10.77.0.5 and where it starts each ampsim. The searches run from 10.77.0.1.
#include "AmpsimProcess.h"
#include "SecondHost.h"
#include "finder/InstrumentList.h"
#include "finder/PortmapSearch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {
constexpr int SearchMs = 1500;
constexpr char Idn[] = "Veltrask,AmpSim,AS000001,1.0";

class LanSearch : public testing::Test {
protected:
    static void SetUpTestSuite() {
        OnSecondHost there;
        ASSERT_TRUE(there.Entered()) << "run through netns-run --two-hosts";
        for (const char* address : {"10.77.0.3", "10.77.0.4", "10.77.0.5"})
            ASSERT_EQ(std::system(("ip addr add " + std::string(address) + "/24 dev nr1").c_str()), 0);
    }

    // An ampsim on the second host serving VXI-11 at address, its portmapper on TCP and UDP 111.
    void Instrument(const std::string& address, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--vxi11", address + ":111", "--portmapper-udp", address};
        args.insert(args.end(), more.begin(), more.end());
        Start(args);
    }
    void Start(const std::vector<std::string>& args) {
        OnSecondHost there;
        instruments_.push_back(std::make_unique<AmpsimProcess>(args));
        ASSERT_TRUE(instruments_.back()->Ready()) << instruments_.back()->Error();
    }
    // Runs search to its end and merges what it found into the list.
    void RunToTheEnd(PortmapSearch& search) {
        ASSERT_TRUE(search.Start("10.77.0.1", queue_));
        search.WaitDone();
        search.Stop();
        std::vector<FoundInstrument> found;
        std::vector<std::string> notes;
        queue_.Drain(SIZE_MAX, found, notes);
        for (const FoundInstrument& finding : found) {
            size_t index = 0;
            list_.Merge(finding, index);
        }
    }

    std::vector<std::unique_ptr<AmpsimProcess>> instruments_;
    FindingQueue queue_;
    InstrumentList list_;
};
} // namespace

// The slow one holds a worker for its bound and is listed without a name; the garbled answer is
// no instrument.
TEST_F(LanSearch, BroadcastListsEachAnsweringHostAndNamesThoseThatAnswerIdnInTime) {
    Instrument("10.77.0.2", {"--discovery", "10.77.0.2"});
    Instrument("10.77.0.3", {"--delay", "8000"});
    Instrument("10.77.0.4", {"--garbled-getport"});
    PortmapSearch search({}, SearchMs);
    RunToTheEnd(search);
    ASSERT_EQ(list_.Size(), 2u);
    const FoundInstrument* answering = list_.Find("vxi11:10.77.0.2");
    ASSERT_NE(answering, nullptr);
    EXPECT_EQ(answering->name, Idn);
    EXPECT_EQ(answering->how, "VXI-11");
    EXPECT_EQ(answering->visa, "TCPIP::10.77.0.2::inst0::INSTR");
    const FoundInstrument* slow = list_.Find("vxi11:10.77.0.3");
    ASSERT_NE(slow, nullptr);
    EXPECT_EQ(slow->name, "");
    EXPECT_EQ(slow->address, "10.77.0.3");
}

TEST_F(LanSearch, TypedAddressesAreProbedByGetportThenAsRawScpiSocketsAndStayListed) {
    Instrument("10.77.0.2");
    Start({"--tcp", "10.77.0.5:5025"});
    PortmapSearch search({"10.77.0.2", "10.77.0.5", "10.77.0.9"}, SearchMs);
    RunToTheEnd(search);
    ASSERT_EQ(list_.Size(), 3u);
    const FoundInstrument* vxi11 = list_.Find("manual:10.77.0.2");
    const FoundInstrument* raw = list_.Find("manual:10.77.0.5");
    const FoundInstrument* nobody = list_.Find("manual:10.77.0.9");
    ASSERT_TRUE(vxi11 && raw && nobody);
    EXPECT_EQ(vxi11->visa, "TCPIP::10.77.0.2::inst0::INSTR");
    EXPECT_EQ(vxi11->name, Idn);
    EXPECT_EQ(raw->visa, "TCPIP::10.77.0.5::5025::SOCKET");
    EXPECT_EQ(raw->name, Idn);
    EXPECT_EQ(nobody->visa, "");
    EXPECT_EQ(nobody->how, "manual");
}
