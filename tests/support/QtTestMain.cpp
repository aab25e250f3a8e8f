// The main of test programs that need a QApplication (windows run headless: offscreen platform).
#include "platform/QtPlatform.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Corvane");
    InstallQtHandover(); // worker threads hand over to Qt's loop, as in the program
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
