// The simulated GPIB driver built for Windows, loaded as the console loads a driver: through the
// program's folder and LoadLibrary, with its eight exports found by name.
#include "RecordingBoxes.h"
#include "connection/Gpib.h"
#include "platform/System.h"

#include <gtest/gtest.h>

TEST(GpibDll, TheSimulatorLoadsFromTheProgramsFolderWithEveryExportBound) {
    RecordingBoxes boxes;
    const std::string fileName = GpibLibraryFileName("Simulator");
    EXPECT_NE(fileName.find(GetExeDir()), std::string::npos) << fileName;
    ASSERT_TRUE(LoadGpibLibrary(fileName)) << GpibLoadError();
    for (const char* name : {"gpib_init", "gpib_deinit", "gpib_open", "gpib_close", "gpib_send", "gpib_recv",
                             "gpib_wait", "gpib_geterrmsg"})
        EXPECT_TRUE(IsGpibExportBound(name)) << name;
    UnloadGpibLibrary();
    EXPECT_FALSE(IsGpibLibraryLoaded());
    EXPECT_FALSE(LoadGpibLibrary(GpibLibraryFileName("NoSuchDriver")));
    EXPECT_FALSE(GpibLoadError().empty());
}
