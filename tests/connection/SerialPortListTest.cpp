// The serial port list from a sysfs tree of the test's own making: nothing real is touched.
#include "ScopedEnv.h"
#include "TempDir.h"
#include "connection/SerialPortList_posix.h"

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

// A USB adapter's description comes from the USB device above its node, its stable name from the
// by-id link to it; an on-board UART has neither.
TEST(ListSerialPorts, UsbAdaptersAreDescribedAndGetTheirStableName) {
    TempDir sys;
    AddTty(sys, "ttyS0", true, "4");
    const fs::path usb = sys.Path() / "devices/pci0000:00/usb1/1-2";
    fs::create_directories(usb / "1-2:1.0/ttyUSB0");
    sys.Write("devices/pci0000:00/usb1/1-2/idVendor", "0403\n");
    sys.Write("devices/pci0000:00/usb1/1-2/manufacturer", "FTDI\n");
    sys.Write("devices/pci0000:00/usb1/1-2/product", "FT232R USB UART\n");
    sys.Write("devices/pci0000:00/usb1/1-2/serial", "A1B2C3\n");
    fs::create_directories(sys.Path() / "class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", sys.Path() / "class/tty/ttyUSB0/device");
    TempDir byId;
    fs::create_symlink("../../ttyUSB0", byId.Path() / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

    const std::vector<SerialPortInfo> ports = ListSerialPortInfo(sys.Path().string(), byId.Path().string());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, "ttyS0");
    EXPECT_EQ(ports[0].description, "");
    EXPECT_EQ(ports[0].stableName, "");
    EXPECT_EQ(ports[1].description, "FTDI FT232R USB UART (A1B2C3)");
    const std::string stable = (byId.Path() / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string();
    EXPECT_EQ(ports[1].stableName, stable);
    EXPECT_EQ(OfferedPortNames(ports), (std::vector<std::string>{"ttyS0", "ttyUSB0", stable}));
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
