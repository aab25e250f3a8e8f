// The CSV stream's file where only POSIX can show it: a device, a FIFO, a disk that fills up.
#include "TempDir.h"
#include "plot/ReplySeries.h"
#include "plot/SeriesCsv.h"
#include "text/Strtools.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

// /dev/full is a full disk: opened, but the header does not go in, nor does an export. A FIFO is
// refused before it is read for its header, which would wait for a writer.
TEST(SeriesCsvFile, AFullDiskFailsTheWriteAndAFifoIsRefused) {
    TempDir dir;
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions({{"FWD", "^FWD ([0-9.]+)"}}, reason));
    EXPECT_EQ(series.StartCsv("/dev/full", reason), CsvStream::Opened::WriteFailed);
    EXPECT_EQ(reason, GetSystemErrorText(ENOSPC));
    EXPECT_FALSE(ExportCsv(series, "/dev/full", reason));
    EXPECT_EQ(reason, GetSystemErrorText(ENOSPC));
    const std::string fifo = (dir.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(series.StartCsv(fifo, reason), CsvStream::Opened::Refused);
    EXPECT_EQ(reason, "it is a FIFO (named pipe), not a regular file");
}

// A disk that fills up (here: the file size limit, in a child) leaves whole rows and no part of one.
TEST(SeriesCsv, ARowIsWholeOrAbsentWhenTheDiskFillsUp) {
    TempDir dir;
    const std::string path = (dir.Path() / "run.csv").string();
    const std::string row = "12:00:00.000,45.25,38.5\r\n";
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CsvStream csv;
        std::string reason;
        if (csv.Open(path, {"FWD", "TEMP"}, reason) != CsvStream::Opened::Yes) ::_exit(2);
        while (csv.Write(row, reason) == CsvStream::Written::Yes) {
        }
        ::_exit(reason == GetSystemErrorText(EFBIG) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::string text = FileText(path);
    ASSERT_TRUE(text.starts_with("Time,FWD,TEMP\r\n")) << text;
    EXPECT_EQ((text.size() - 15) % row.size(), 0u) << text;
}
