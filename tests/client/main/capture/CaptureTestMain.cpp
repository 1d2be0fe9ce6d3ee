// main() for the capture tests: an offscreen QApplication (the dialogs are widgets).
#include "platform/UserDialogs.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace cfb::client {
// The program's Qt dialogs live with the start-up code; these tests always install
// ScriptedDialogs, so reaching this means a test forgot to.
__attribute__((weak)) UserDialogs& qtUserDialogs()
{
    std::fputs("capture tests: no ScriptedDialogs installed\n", stderr);
    std::abort();
}
} // namespace cfb::client

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
