// The program's start: one instance per user, the splash, and the "failed to load" report.
#include "StartupTestSupport.h"

#include "app/StartUp.h"
#include "common/frmSplash.h"
#include "desktop/SingleInstance.h"
#include "platform/Settings.h"

#include "ScriptedDialogs.h"
#include "TempConfig.h"

#include <QDialog>
#include <QLabel>
#include <QUuid>

#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;
using namespace startup_test;

namespace {

frmSplash* visibleSplash()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* splash = qobject_cast<frmSplash*>(w); splash && splash->isVisible())
            return splash;
    }
    return nullptr;
}

class StartUpTest : public ::testing::Test {
protected:
    // The start's steps around load, with no main window and an exit that throws.
    static StartUpSteps steps(std::function<void(const LoadEnded&)> load, QWidget* mainWindow = nullptr)
    {
        return {std::move(load), [mainWindow] { return mainWindow; }, [] { throw ProgramEnded{}; }};
    }

    const QString name_ = "confabo-test-" + QUuid::createUuid().toString(QUuid::Id128);
    TempConfig config_;
    ScriptedDialogs dialogs_;
};

TEST_F(StartUpTest, SecondStartBringsTheFirstToTheFrontWithoutASplash)
{
    QWidget mainWindow;
    mainWindow.setWindowTitle("Confabo");
    QString splashVersion, splashTitle, splashPlatform;
    bool splashGaveWay = false;
    SingleInstance first(name_);
    RunStartUp(first, steps([&](const LoadEnded& ended) {
        if (frmSplash* splash = visibleSplash()) {
            splashVersion = splash->findChild<QLabel*>("lblVersion")->text();
            splashTitle = splash->findChild<QLabel*>("lblProductName")->text();
            splashPlatform = splash->findChild<QLabel*>("lblPlatform")->text();
        }
        // A window the user must fill in (the registration form, say) is never under the splash.
        QDialog form;
        form.show();
        splashGaveWay = visibleSplash() == nullptr;
        form.hide();
        mainWindow.show();
        ended(true);
    }, &mainWindow));
    EXPECT_EQ(splashVersion, "Version " CONFABO_PROJECT_VERSION);
    EXPECT_EQ(splashTitle, "Confabo");
    EXPECT_EQ(splashPlatform, "Linux");
    EXPECT_TRUE(splashGaveWay);
    EXPECT_EQ(visibleSplash(), nullptr) << "the splash closes once the main window is loaded";

    mainWindow.hide();
    bool loadedAgain = false;
    bool splashShown = false;
    SingleInstance second(name_);
    EXPECT_THROW(RunStartUp(second, steps([&](const LoadEnded&) {
        splashShown = visibleSplash() != nullptr;
        loadedAgain = true;
    })),
        ProgramEnded);
    EXPECT_FALSE(loadedAgain);
    EXPECT_FALSE(splashShown);
    EXPECT_EQ(visibleSplash(), nullptr);
    // A later start brings the first one's window to the front.
    SingleInstance third(name_);
    EXPECT_TRUE(third.activateRunning());
    EXPECT_TRUE(waitFor([&] { return mainWindow.isVisible(); }));
}

TEST_F(StartUpTest, NonNumericAutoRunFailsToLoadAndEnds)
{
    Settings::AutoRun.write("yes");
    bool loaded = false;
    {
        SingleInstance instance(name_);
        EXPECT_THROW(RunStartUp(instance, steps([&](const LoadEnded&) { loaded = true; })), ProgramEnded);
    }
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(dialogs_.boxes.isEmpty()) << "with \"Display Errors\" unset only the event log hears of it";

    Settings::DisplayErrors.write("1");
    {
        SingleInstance instance(name_);
        EXPECT_THROW(RunStartUp(instance, steps([&](const LoadEnded&) { loaded = true; })), ProgramEnded);
    }
    ASSERT_EQ(dialogs_.boxes.size(), 1);
    EXPECT_EQ(dialogs_.boxes[0].text, "Confabo Error: Confabo failed to load. You may need to re-install Confabo.");
    EXPECT_EQ(dialogs_.boxes[0].title, "Confabo Error");
    EXPECT_EQ(dialogs_.boxes[0].icon, UserDialogs::Icon::Critical);

    // A run-time error raised by the main window's load is reported the same way.
    Settings::AutoRun.write("1");
    {
        SingleInstance instance(name_);
        EXPECT_THROW(
            RunStartUp(instance, steps([](const LoadEnded&) { throw std::runtime_error("no library"); })),
            ProgramEnded);
    }
    EXPECT_EQ(dialogs_.boxes.size(), 2);
    // So is one that ends the load's later steps, after the sign-in.
    Settings::AutoRun.write("0");
    {
        SingleInstance instance(name_);
        EXPECT_THROW(RunStartUp(instance, steps([](const LoadEnded& ended) { ended(false); })), ProgramEnded);
    }
    EXPECT_EQ(dialogs_.boxes.size(), 3);
    EXPECT_EQ(visibleSplash(), nullptr);
}

} // namespace
