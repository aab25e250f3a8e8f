// Starting other programs: failures carry the system's reason, arguments pass without a shell,
// children are reaped, and the terminal emulator is chosen from what is installed.
#include "platform/Shell.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/System.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace {
// Polls, because the started program runs on its own; the limit only guards against a hang.
bool Eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A stand-in program that writes its arguments, one a line, to a file of the test's temp folder.
std::string ArgumentRecorder(const fs::path& output) {
    return "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + output.string() +
           ".tmp'\n/bin/mv '" + output.string() + ".tmp' '" + output.string() + "'\n";
}

TEST(LaunchProgram, ArgumentsReachTheProgramUnchangedAndTheChildIsReaped) {
    TempDir dir;
    const std::string name = "a;b $(touch injected) `touch injected` 'q\" *";
    ShellResult result = LaunchProgram({"cp", "/dev/null", (dir.Path() / name).string()});
    ASSERT_TRUE(result.Ok()) << result.message;
    ASSERT_GT(result.pid, 0);
    EXPECT_TRUE(Eventually([&] { return fs::exists(dir.Path() / name); }));
    // Reaped: no zombie stays behind under its process id.
    EXPECT_TRUE(Eventually([&] { return !fs::exists("/proc/" + std::to_string(result.pid)); }));
    EXPECT_FALSE(fs::exists(dir.Path() / "injected"));
    EXPECT_FALSE(fs::exists("injected"));
}

TEST(ShellOpen, AMissingOpenerIsReportedClearly) {
    TempDir empty;
    ScopedEnv path("PATH", empty.Path().string());
    ShellResult result = ShellOpen("http://127.0.0.1/");
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_NE(result.message.find("xdg-open"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find(GetSystemErrorText(ENOENT)), std::string::npos) << result.message;
}

struct TerminalRow {
    std::vector<std::string> installed;
    std::optional<std::string> preferred; // $TERMINAL
    std::vector<std::string> expectedPrefix;
};

void PrintTo(const TerminalRow& row, std::ostream* out) {
    *out << (row.expectedPrefix.empty() ? "none" : row.expectedPrefix[0]);
    if (row.preferred) *out << " TERMINAL=" << *row.preferred;
}

class TerminalChoice : public testing::TestWithParam<TerminalRow> {};

TEST_P(TerminalChoice, TakesTheFirstInstalledWithItsWayOfPassingACommand) {
    TempDir bin;
    for (const auto& terminal : GetParam().installed)
        bin.Write(terminal, "#!/bin/sh\n", true);
    ScopedEnv path("PATH", bin.Path().string());
    ScopedEnv preferred("TERMINAL", GetParam().preferred);
    std::vector<std::string> expected = GetParam().expectedPrefix;
    if (!expected.empty()) expected.insert(expected.end(), {"ping", "-c", "1"});
    EXPECT_EQ(TerminalCommand({"ping", "-c", "1"}), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shell, TerminalChoice,
    testing::Values(
        TerminalRow{{"xterm", "konsole", "x-terminal-emulator"}, {}, {"x-terminal-emulator", "-e"}},
        TerminalRow{{"xterm", "gnome-terminal"}, {}, {"gnome-terminal", "--"}},
        TerminalRow{{"xterm", "konsole"}, {}, {"konsole", "-e"}},
        TerminalRow{{"xterm", "x-terminal-emulator"}, "xterm", {"xterm", "-e"}},
        TerminalRow{{"xterm"}, "not-installed-term", {"xterm", "-e"}}, TerminalRow{{}, {}, {}}));

TEST(RunInTerminal, StartsTheTerminalWithTheProgramAndItsArguments) {
    TempDir bin;
    bin.Write("tool", "#!/bin/sh\n", true);
    bin.Write("xterm", ArgumentRecorder(bin.Path() / "args"), true);
    ScopedEnv path("PATH", bin.Path().string());
    ScopedEnv preferred("TERMINAL", std::nullopt);
    ShellResult result = RunInTerminal({"tool", "two words", "$HOME"});
    ASSERT_TRUE(result.Ok()) << result.message;
    ASSERT_TRUE(Eventually([&] { return fs::exists(bin.Path() / "args"); }));
    EXPECT_EQ(ReadAll(bin.Path() / "args"), "-e\ntool\ntwo words\n$HOME\n");
}

TEST(RunInTerminal, AMissingProgramOrTerminalIsReportedWithoutOpeningAWindow) {
    TempDir bin;
    bin.Write("tool", "#!/bin/sh\n", true);
    ScopedEnv path("PATH", bin.Path().string());
    ScopedEnv preferred("TERMINAL", std::nullopt);

    ShellResult noTerminal = RunInTerminal({"tool"});
    EXPECT_EQ(noTerminal.error, ENOENT);
    EXPECT_NE(noTerminal.message.find("no terminal emulator"), std::string::npos) << noTerminal.message;

    bin.Write("xterm", ArgumentRecorder(bin.Path() / "args"), true);
    ShellResult noProgram = RunInTerminal({"telnet", "127.0.0.1"});
    EXPECT_EQ(noProgram.error, ENOENT);
    EXPECT_NE(noProgram.message.find("\"telnet\": " + GetSystemErrorText(ENOENT)), std::string::npos)
        << noProgram.message;
    EXPECT_FALSE(fs::exists(bin.Path() / "args"));
}
} // namespace
