// The window that tests/app/accessibility_test.sh reads over AT-SPI: the bookmark field with a
// file of mixed origin (a Latin-1 command, captions typed in UTF-8, one with an "&") and a log
// with a few lines. It runs until it is ended.
#include "log/LogColours.h"
#include "log/LogView.h"
#include "text/Fbuttonfield.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <fstream>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("corvane-a11y-window");
    QTemporaryDir dir;
    const std::string path = dir.filePath("Bookmarks.txt").toStdString();
    std::ofstream(path, std::ios::binary) << "[Main]\r\nSTATUS?\r\nSET FREQ <?f:100>\r\n"
                                          << "[\xd0\x9f\xd1\x83\xd0\xbb\xd1\x8c\xd1\x82]\r\nSET NAME \xe9\r\n"
                                          << "[M\xc3\xa4\xc3\x9fig & Co]\r\nDIAG?\r\n";
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new TFrameButtonField(&window);
    layout->addWidget(field);
    auto* log = new TLogView(&window);
    layout->addWidget(log);
    field->LoadFile(path);
    log->AppendLine("[12:00:00.000] Tx: STATUS?", LogColours::Tx);
    log->AppendLine("[12:00:00.004] Rx: AMP OK", LogColours::Rx);
    window.resize(640, 480);
    window.show();
    return QApplication::exec();
}
