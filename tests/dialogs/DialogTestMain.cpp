// Window tests need a QApplication; they run on the offscreen platform unless told otherwise.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Corvane");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
