// The mDNS search without a network: the row a resolved service becomes, and starts that fail.
#include "finder/MdnsSearch.h"
#include "RecordingSink.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "connection/VisaResource.h"

#include <gtest/gtest.h>

namespace {
struct ServiceCase {
    const char* type;
    int port;
    std::vector<std::pair<std::string, std::string>> txt;
    const char* name;
    const char* connection; // what the row's VISA resource opens; "" for no row
};
void PrintTo(const ServiceCase& row, std::ostream* out) {
    *out << row.type << " port " << row.port;
}

class ServiceRows : public testing::TestWithParam<ServiceCase> {};

TEST_P(ServiceRows, OpenWhatTheServiceOffers) {
    const ServiceCase& row = GetParam();
    const auto found = InstrumentOfService({row.type, "Bench Amp", "10.0.0.5", row.port, row.txt});
    ASSERT_EQ(found.has_value(), *row.connection != '\0');
    if (!found) return;
    std::string connection, error;
    EXPECT_TRUE(VisaToConnection(found->visa, {}, connection, error)) << error;
    EXPECT_EQ(connection, row.connection);
    EXPECT_EQ(found->name, row.name);
}

const std::vector<std::pair<std::string, std::string>> LxiTxt{
    {"txtvers", "1"}, {"manufacturer", "Veltrask"}, {"MODEL", "PA-1500"}, {"SerialNumber", "SN42"}};

INSTANTIATE_TEST_SUITE_P(
    Rows, ServiceRows,
    testing::Values(ServiceCase{"_scpi-raw._tcp", 5025, {}, "Bench Amp", "tcp:10.0.0.5:5025"},
                    ServiceCase{"_scpi-telnet._tcp", 5024, {}, "Bench Amp", "tcp:10.0.0.5:5024"},
                    ServiceCase{"_vxi-11._tcp", 111, {{"Model", ""}}, "Bench Amp", "vxi11:10.0.0.5:inst0"},
                    ServiceCase{"_lxi._tcp", 80, LxiTxt, "Veltrask,PA-1500,SN42", "vxi11:10.0.0.5:inst0"},
                    ServiceCase{"_hislip._tcp", 4880, {}, "Bench Amp", "hislip:10.0.0.5:hislip0"},
                    ServiceCase{"_hislip._tcp", 4881, {}, "Bench Amp", "hislip:10.0.0.5:hislip0,4881"},
                    // no row: a name held without a service, a type the search does not browse
                    ServiceCase{"_scpi-raw._tcp", 0, {}, "", ""}, ServiceCase{"_http._tcp", 80, {}, "", ""}));

TEST(MdnsSearchStart, WithoutADaemonOrFromNoInterfaceIsAQuietNote) {
    auto search = MakeMdnsSearch();
    if (!search) GTEST_SKIP() << "this build has no mDNS search";
    TempDir dir;
    ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (dir.Path() / "no-bus").string());
    RecordingSink sink;
    EXPECT_FALSE(search->Start("", sink));
    EXPECT_FALSE(search->Start("192.0.2.1", sink)); // TEST-NET-1: no interface of a test machine
    search->Stop();
    EXPECT_EQ(sink.notes,
              (std::vector<std::string>{
                  "mDNS: no Avahi daemon runs here, so mDNS services are not searched",
                  "mDNS: no interface of this computer has the address 192.0.2.1, so mDNS services "
                  "are not searched"}));
    EXPECT_TRUE(sink.found.empty());
}
} // namespace
