// ampsim's discovery options: what it refuses before it starts.
#include "AmpsimProcess.h"

#include <gtest/gtest.h>

class AmpsimDiscoveryOptions : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(AmpsimDiscoveryOptions, AreRefused) {
    AmpsimProcess ampsim(GetParam(), 5000);
    EXPECT_FALSE(ampsim.Ready());
}

INSTANTIATE_TEST_SUITE_P(Cases, AmpsimDiscoveryOptions,
                         testing::Values(std::vector<std::string>{"--amps", "0"},
                                         std::vector<std::string>{"--amps", "1001"},
                                         std::vector<std::string>{"--first-amp", "0"},
                                         std::vector<std::string>{"--discovery", "not-an-address"},
                                         // TEST-NET-1: no interface holds it
                                         std::vector<std::string>{"--discovery", "192.0.2.1"}));
