// Starting programs, the part that reads alike on every system: a missing program is said with
// the system's reason (ENOENT and ERROR_FILE_NOT_FOUND are both 2), and a Windows command line
// hands each argument over unchanged.
#include "platform/Shell.h"
#include "platform/System.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(LaunchProgram, AMissingProgramIsReportedWithTheSystemsReason) {
    ShellResult result = LaunchProgram({"corvane-no-such-program-here", "x"});
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_NE(result.message.find("\"corvane-no-such-program-here\""), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(GetSystemErrorText(ENOENT)), std::string::npos) << result.message;
}

// Each case as the C runtime's argument reader takes the line apart again.
TEST(WindowsCommandLine, QuotesOnlyWhatNeedsItAndDoublesBackslashesBeforeQuotes) {
    EXPECT_EQ(WindowsCommandLine({"ping", "10.0.0.5"}), "ping 10.0.0.5");
    EXPECT_EQ(WindowsCommandLine({"telnet", ""}), "telnet \"\"");
    EXPECT_EQ(WindowsCommandLine({"a b", "c\td"}), "\"a b\" \"c\td\"");
    EXPECT_EQ(WindowsCommandLine({"say \"hi\""}), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(WindowsCommandLine({"C:\\Program Files\\"}), "\"C:\\Program Files\\\\\"");
    EXPECT_EQ(WindowsCommandLine({"a\\\\b", "x\\\"y z"}), "a\\\\b \"x\\\\\\\"y z\"");
}
