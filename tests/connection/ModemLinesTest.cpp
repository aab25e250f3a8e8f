// The modem lines: what the console says of their changes, and a port without them.
#include "connection/ModemLines.h"
#include "connection/SerialConnection.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(ModemLines, ChangesOfTheInputsAreSaidInOrderAndTheOutputsAreNotInputs) {
    ModemLines before;
    ModemLines now;
    now.cts = true;
    now.ri = true;
    now.dtr = true; // driven by us: no input change
    EXPECT_EQ(ModemInputChanges(before, now), (std::vector<std::string>{"CTS on", "RI on"}));
    EXPECT_EQ(ModemInputChanges(now, before), (std::vector<std::string>{"CTS off", "RI off"}));
    EXPECT_TRUE(ModemInputChanges(now, now).empty());
    EXPECT_EQ(ModemInputsText(now), "CTS 1  DSR 0  DCD 0  RI 1");
}

// A pseudo-terminal carries no modem lines: reading and switching them fail and say why.
TEST(ModemLines, APortWithoutModemLinesSaysSo) {
    PtyPair pty;
    TSerialConnection port;
    ASSERT_TRUE(port.Open(pty.SlavePath()));
    ModemLines lines;
    for (bool ok : {port.ReadModemLines(lines), port.SetDtr(true), port.SetRts(false)}) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(port.ModemFailure().rfind("The port has no modem lines (", 0), 0u) << port.ModemFailure();
    }
}
