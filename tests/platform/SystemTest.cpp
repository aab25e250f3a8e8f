#include "platform/System.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
TEST(SystemQueries, DescribeThisMachineAndProgram) {
    EXPECT_EQ(GetExeDir(), std::filesystem::canonical("/proc/self/exe").parent_path().string());
    EXPECT_FALSE(GetLocalUserName().empty());

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string name = GetLocalComputerName();
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(name.find('.'), std::string::npos);
    EXPECT_EQ(std::string(host).rfind(name, 0), 0u) << host;

    const std::string domain = GetDnsDomainName();
    EXPECT_TRUE(domain.empty() || (domain.front() != '.' && domain.back() != '.')) << domain;
}

TEST(SystemQueries, ErrorTexts) {
    EXPECT_EQ(GetSystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(GetSystemErrorText(987654), "");
}
} // namespace
