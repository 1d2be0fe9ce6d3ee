// main() for test programs that need a Qt application object (event loop, sockets, pictures).
#include <QGuiApplication>
#include <gtest/gtest.h>

#include "TestRuntimeDir.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ensureTestRuntimeDir();
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
