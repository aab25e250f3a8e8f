#include "BenchSupport.h"
#include <fstream>
#include <malloc.h>

#include "connection/TraceIo.h"
#include "platform/QtPlatform.h"

#include <QSettings>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

void SetNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    SetNoDelay(fd);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QtBenchEnvironment::QtBenchEnvironment(int& argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationDisplayName("Corvane");
    InstallQtHandover();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    // A console's first start asks for a bookmark file; a stored one that exists is loaded instead.
    const QString bookmarks = settings_.filePath("Bookmarks.txt");
    std::ofstream(bookmarks.toStdString(), std::ios::binary) << "[Status]\r\nSTATUS?\r\n";
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltrask", "Corvane")
        .setValue("BookmarkFile", bookmarks);
    traceSink_ = std::fopen("/dev/null", "w");
    SetTraceStream(traceSink_);
}

QtBenchEnvironment::~QtBenchEnvironment() {
    SetTraceStream(nullptr);
    if (traceSink_) std::fclose(traceSink_);
}

double ResidentBytes() {
    ::malloc_trim(0);
    long total = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> total >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

double Seconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}
