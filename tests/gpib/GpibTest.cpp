// The binding to a driver library: loading, binding, the messages for what is missing, and the
// send and receive wrappers' buffers, through the real loader.
#include "GpibTestSupport.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>

namespace {

using GpibLoader = GpibFixture;

TEST_F(GpibLoader, SimulatorRoundTrip) {
    ASSERT_EQ(GpibLibraryFileName("Simulator", CORVANE_BIN_DIR), SimulatorPath());
    LoadSimulator();
    ASSERT_TRUE(IsGpibLibraryLoaded());
    for (const char* name : {"gpib_init", "gpib_deinit", "gpib_open", "gpib_close", "gpib_send", "gpib_recv",
                             "gpib_wait", "gpib_geterrmsg"})
        EXPECT_TRUE(IsGpibExportBound(name)) << name;

    const int32_t handle = gpib_open(0, 7);
    ASSERT_GE(handle, 0);
    EXPECT_TRUE(GpibSendEscaped(handle, "STATUS?\n", 500));
    std::string reply;
    EXPECT_TRUE(GpibReceive(handle, 500, reply));
    EXPECT_EQ(reply, "STATUS OK FWD=45.2dBm REFL=12.1dBm TEMP=38C\n");
    EXPECT_NE(gpib_close(handle), 0);

    UnloadGpibLibrary();
    EXPECT_FALSE(IsGpibLibraryLoaded());
    EXPECT_FALSE(IsGpibExportBound("gpib_open"));
    EXPECT_TRUE(boxes.errors.empty());
}

TEST_F(GpibLoader, MissingFileIsReportedAndEveryCallIsSkipped) {
    const std::string missing = "/nonexistent/libGpibNowhere.so";
    EXPECT_FALSE(LoadGpibLibrary(missing));
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].first, "Error");
    EXPECT_EQ(boxes.errors[0].second, "Loading GPIB-library failed.\r\n" + missing);
    EXPECT_FALSE(IsGpibLibraryLoaded());

    gpib_notify_target none{};
    EXPECT_EQ(gpib_init(&none), 0);
    EXPECT_EQ(gpib_open(0, 7), -1);
    EXPECT_FALSE(GpibSendRaw(0, "STATUS?\n", 500));
    std::string reply = "old";
    EXPECT_FALSE(GpibReceive(0, 500, reply));
    EXPECT_EQ(reply, "");
    EXPECT_EQ(gpib_wait(0, 500), 0);
    EXPECT_EQ(gpib_geterrmsg(), "");
    UnloadGpibLibrary(); // harmless when nothing is loaded
}

TEST_F(GpibLoader, MissingExportsAreReportedInOrderAndTheLibraryStaysLoaded) {
    EXPECT_TRUE(LoadGpibLibrary(ProbePath()));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Error", "Importing function gpib_deinit failed.\n"},
        {"Error", "Importing function gpib_open failed.\n"},
        {"Error", "Importing function gpib_wait failed.\n"},
    };
    EXPECT_EQ(boxes.errors, expected);
    EXPECT_TRUE(IsGpibLibraryLoaded());
    EXPECT_TRUE(IsGpibExportBound("gpib_send"));
    EXPECT_FALSE(IsGpibExportBound("gpib_open"));

    gpib_notify_target none{};
    EXPECT_EQ(gpib_init(&none), 1); // bound: goes through
    EXPECT_EQ(gpib_open(0, 7), -1); // unbound
    EXPECT_EQ(gpib_geterrmsg(), "probe error");
    UnloadGpibLibrary(); // gpib_init was called, gpib_deinit is missing: unloads all the same
    EXPECT_FALSE(IsGpibLibraryLoaded());
}

TEST_F(GpibLoader, ALoadedLibraryIsNotReplaced) {
    LoadSimulator();
    EXPECT_TRUE(LoadGpibLibrary(ProbePath()));
    EXPECT_TRUE(boxes.errors.empty());
    EXPECT_TRUE(IsGpibExportBound("gpib_open")); // the probe has none
    EXPECT_GE(gpib_open(0, 7), 0);
}

TEST(GpibLibraryFileName, ProgramFolderFirstThenTheSystemSearch) {
    TempDir dir;
    const std::string folder = dir.Path().string();
    std::ofstream(folder + "/libGpibAgilent.so").put('x');

    EXPECT_EQ(GpibLibraryFileName("Agilent", folder), folder + "/libGpibAgilent.so");
    EXPECT_EQ(GpibLibraryFileName("NationalInstruments", folder), "libGpibNationalInstruments.so");
    EXPECT_EQ(GpibLibraryFileName("Agilent", ""), "libGpibAgilent.so");
    // Never a path relative to the working directory.
    EXPECT_EQ(GpibLibraryFileName("/../x", folder), folder + "/libGpib/../x.so");
}

// The probe driver records what gpib_send received.
std::string ProbeSent() {
    void* probe = dlopen(ProbePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!probe) return "<probe not loaded>";
    auto lastSent = reinterpret_cast<const char* (*)(int32_t*)>(dlsym(probe, "probe_last_sent"));
    int32_t length = -1;
    const char* bytes = lastSent(&length);
    dlclose(probe);
    return length < 0 ? "<nothing sent>" : std::string(bytes, static_cast<size_t>(length));
}

struct EscapeCase {
    const char* name;
    std::string text;
    std::string sent;
};

void PrintTo(const EscapeCase& row, std::ostream* out) {
    *out << row.name;
}

class GpibEscapedSend : public GpibFixture, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(GpibEscapedSend, SendsTheDecodedBytesUpToTheFirstZero) {
    ASSERT_TRUE(LoadGpibLibrary(ProbePath()));
    EXPECT_TRUE(GpibSendEscaped(3, GetParam().text, 500));
    EXPECT_EQ(ProbeSent(), GetParam().sent);
}

std::string Repeat(const std::string& piece, size_t times) {
    std::string text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GpibEscapedSend,
    ::testing::Values(EscapeCase{"Escapes", "A\\x41\\r\\n", "AA\r\n"},
                      EscapeCase{"DecimalAndTab", "\\d066\\t\\\\", "B\t\\"},
                      EscapeCase{"StopsAtAnEscapedZero", "AB\\x00CD\n", "AB"},
                      EscapeCase{"StopsAtAnUnknownEscape", "AB\\qCD\n", "AB"},
                      // Cut after 8195 decoded bytes, not source characters.
                      EscapeCase{"CutAfter8195Bytes", std::string(9000, 'B'), std::string(8195, 'B')},
                      EscapeCase{"CutCountsDecodedBytes", Repeat("\\x41", 3000) + std::string(6000, 'C'),
                                 std::string(3000, 'A') + std::string(5195, 'C')}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(GpibLoader, RawSendSendsTheTextAsItIs) {
    ASSERT_TRUE(LoadGpibLibrary(ProbePath()));
    const std::string text = std::string("A\\x41\n\0Z", 8);
    EXPECT_TRUE(GpibSendRaw(3, text, 500));
    EXPECT_EQ(ProbeSent(), text);
}

TEST_F(GpibLoader, AReplyThatFillsTheBufferIsReadAsItsFirst8195Bytes) {
    ASSERT_TRUE(LoadGpibLibrary(ProbePath()));
    std::string reply;
    EXPECT_TRUE(GpibReceive(3, 500, reply));

    void* probe = dlopen(ProbePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(probe, nullptr);
    auto recvSize = reinterpret_cast<int32_t (*)()>(dlsym(probe, "probe_last_recv_size"));
    EXPECT_EQ(recvSize(), 8196);
    dlclose(probe);

    ASSERT_EQ(reply.size(), 8195u);
    for (size_t i = 0; i < reply.size(); ++i)
        ASSERT_EQ(reply[i], static_cast<char>('a' + i % 26)) << "at " << i;
}

} // namespace
