// The local address chooser, with the machine's addresses replaced by the test's own.
#include "connection/Fselipaddr.h"
#include "DialogTestHelpers.h"
#include "connection/LocalAddresses.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <set>

namespace {
class SelIpAddrDialog : public testing::Test {
protected:
    // Runs SelectLocalAddress, answering the dialog with button if it shows; true when it showed.
    bool Select(bool askAlways, int& result, const char* button = "ButtonOk", int pick = 0) {
        bool shown = false;
        ModalAnswer answer([&, button, pick](QWidget* modal) {
            shown = modal == &dialog;
            Find<QComboBox>(dialog, "ComboBoxLocalAddrs")->setCurrentIndex(pick);
            QTest::mouseClick(Find<QPushButton>(dialog, button), Qt::LeftButton);
        });
        result = dialog.SelectLocalAddress(askAlways);
        return shown;
    }

    TFormSelIpAddr dialog;
};

TEST_F(SelIpAddrDialog, WithoutAChoiceItReturnsOkWithoutShowing) {
    int result = -1;
    dialog.ListAddresses = [] { return std::vector<std::string>{"192.168.1.5"}; };
    EXPECT_FALSE(Select(false, result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dialog.SelectedAddress(), "192.168.1.5");

    dialog.ListAddresses = [] { return std::vector<std::string>{}; };
    EXPECT_FALSE(Select(false, result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dialog.SelectedAddress(), "");
}

TEST_F(SelIpAddrDialog, AsksWhenThereIsAChoiceOrWhenToldTo) {
    int result = -1;
    dialog.ListAddresses = [] { return std::vector<std::string>{"127.0.1.1", "10.77.0.1"}; };
    EXPECT_TRUE(Select(false, result, "ButtonOk", 1));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dialog.SelectedAddress(), "10.77.0.1");

    EXPECT_TRUE(Select(false, result, "ButtonCanel"));
    EXPECT_EQ(result, 0);

    dialog.ListAddresses = [] { return std::vector<std::string>{"10.77.0.1"}; };
    EXPECT_TRUE(Select(true, result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dialog.SelectedAddress(), "10.77.0.1");
}

TEST(LocalIpv4Addresses, AreDottedIpv4AddressesEachListedOnce) {
    std::vector<std::string> addresses = LocalIpv4Addresses();
    std::set<std::string> seen;
    for (const auto& address : addresses) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
        EXPECT_TRUE(seen.insert(address).second) << address << " listed twice";
    }
    for (const auto& address : InterfaceIpv4Addresses())
        EXPECT_NE(address.rfind("127.", 0), 0u) << address;
}
} // namespace
