// The serial port list from a sysfs tree of the test's own making: nothing real is touched.
#include "connection/SerialPortList.h"
#include "ScopedEnv.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {
// A tty as sysfs shows it: a "device" entry for real ports, a "type" attribute for serial-core UARTs.
void AddTty(const TempDir& sys, const std::string& name, bool device, const char* uartType = nullptr) {
    fs::create_directories(sys.Path() / "class/tty" / name);
    if (device) fs::create_directories(sys.Path() / "class/tty" / name / "device");
    if (uartType) sys.Write("class/tty/" + name + "/type", std::string(uartType) + "\n");
}

TEST(ListSerialPorts, ListsRealPortsInNaturalOrder) {
    TempDir sys;
    AddTty(sys, "ttyS0", true, "4");
    AddTty(sys, "ttyS1", true, "0"); // a legacy 8250 slot without a UART
    AddTty(sys, "ttyS2", true, "4");
    AddTty(sys, "ttyS10", true, "4");
    AddTty(sys, "ttyUSB10", true);
    AddTty(sys, "ttyUSB9", true);
    AddTty(sys, "ttyACM0", true);
    for (const char* virtualTty : {"tty", "tty0", "tty12", "console", "ptmx", "ptyp0"})
        AddTty(sys, virtualTty, false);
    // In the real tree "device" is a link into the device hierarchy; a dangling one is no device.
    fs::create_directories(sys.Path() / "devices/usb1/1-1:1.0");
    fs::create_directories(sys.Path() / "class/tty/ttyUSB2");
    fs::create_directory_symlink(sys.Path() / "devices/usb1/1-1:1.0",
                                 sys.Path() / "class/tty/ttyUSB2/device");
    fs::create_directories(sys.Path() / "class/tty/ttyUSB3");
    fs::create_directory_symlink(sys.Path() / "devices/gone", sys.Path() / "class/tty/ttyUSB3/device");

    EXPECT_EQ(
        ListSerialPorts(sys.Path().string()),
        (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB2", "ttyUSB9", "ttyUSB10"}));
}

TEST(ListSerialPorts, AMissingTreeGivesAnEmptyList) {
    TempDir sys;
    EXPECT_TRUE(ListSerialPorts((sys.Path() / "nothing").string()).empty());
}

TEST(NaturalLess, NumbersCompareByValueAndTheOrderStaysStrict) {
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS", "ttyS0"));
    EXPECT_TRUE(NaturalLess("ttyACM9", "ttyS0"));
    // Equal by value but different text: exactly one of the two is less.
    EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));
    EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
}
} // namespace
