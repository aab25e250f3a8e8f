// The CSV stream's file where only POSIX can show it: a device, a FIFO, a disk that fills up, a
// file deleted while open, and POSIX's own failure texts.
#include "TempDir.h"
#include "platform/System.h"
#include "plot/ReplySeries.h"
#include "plot/SeriesCsv.h"
#include "plot/SeriesExport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
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
std::vector<SeriesDefinition> FwdAndTemp() {
    return {{"FWD", "^FWD ([-+0-9.eE]+)"}, {"TEMP", "^TEMP ([-+0-9.eE]+)"}};
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

TEST(SeriesCsv, AFolderThatIsNotThereSaysWhy) {
    TempDir dir;
    ReplySeries series;
    std::string reason;
    ASSERT_TRUE(series.SetDefinitions(FwdAndTemp(), reason));
    EXPECT_EQ(series.StartCsv((dir.Path() / "missing" / "x.csv").string(), reason),
              CsvStream::Opened::Refused);
    EXPECT_EQ(reason, GetSystemErrorText(ENOENT));
}

// A file is never emptied: rows go on after those of an earlier run with the same columns, a file
// with other columns is refused and left as it was, and one deleted meanwhile is made again.
TEST(SeriesCsv, TheStreamAppendsToItsOwnColumnsAndMakesADeletedFileAgain) {
    TempDir dir;
    const std::string path = (dir.Path() / "run.csv").string();
    std::string reason;
    {
        CsvStream csv;
        ASSERT_EQ(csv.Open(path, {"FWD"}, reason), CsvStream::Opened::Yes) << reason;
        EXPECT_EQ(csv.Write("12:00:00.000,1\r\n", reason), CsvStream::Written::Yes);
    }
    CsvStream csv;
    ASSERT_EQ(csv.Open(path, {"FWD"}, reason), CsvStream::Opened::Yes) << reason;
    EXPECT_EQ(csv.Write("12:00:01.000,2\r\n", reason), CsvStream::Written::Yes);
    EXPECT_EQ(FileText(path), "Time,FWD\r\n12:00:00.000,1\r\n12:00:01.000,2\r\n");
    EXPECT_EQ(CsvStream().Open(path, {"REFL"}, reason), CsvStream::Opened::Refused);
    EXPECT_EQ(reason, "it holds other columns (\"Time,FWD\"); name a new file, or move that one away");
    std::filesystem::remove(path);
    EXPECT_EQ(csv.Write("12:00:02.000,3\r\n", reason), CsvStream::Written::Reopened);
    EXPECT_EQ(FileText(path), "Time,FWD\r\n12:00:02.000,3\r\n");
}
