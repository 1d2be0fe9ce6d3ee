// main() for tests of the desktop client's windows: an offscreen QApplication.
#include <QApplication>
#include <gtest/gtest.h>

#include "TestRuntimeDir.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ensureTestRuntimeDir();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
