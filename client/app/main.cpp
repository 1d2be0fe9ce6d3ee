// The desktop client's entry point: one QApplication, the start-up routine, then the event loop.
#include "app/StartUp.h"
#include "common/frmSplash.h"
#include "common/modMain.h"
#include "desktop/SecretServiceKeyring.h"
#include "desktop/SingleInstance.h"
#include "mainwindow/frmMain.h"
#include "messaging/modINET.h"
#include "resources/ClientResources.h"
#include "speech/SpeechEngine.h"
#include "speech/SpeechEngineFactory.h"
#include "video/CaptureSourceFactory.h"

#include <QApplication>

#include <memory>

using namespace cfb::client;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(modMain::AppTitle));
    QApplication::setApplicationVersion(frmSplash::version());
    QApplication::setDesktopFileName(QStringLiteral("confabo"));
    QApplication::setWindowIcon(applicationIcon());
    // Closing the main window only hides it: the program lives on in the tray until Exit.
    QApplication::setQuitOnLastWindowClosed(false);
    // The windows never wait on the service: requests go through the session's service thread,
    // and one made here by mistake fails at once instead of freezing the window.
    cfb::ServiceChannel::current().refusesRequests = true;

    // The password goes to the desktop's keyring where it has one.
    SecretServiceKeyring keyring;
    PasswordKeyring::install(&keyring);

    std::unique_ptr<SpeechEngine> speech;
    std::unique_ptr<frmMain> window;
    // Exit: the main window's exit sequence (when it is loaded), then the process ends.
    const auto exitProgram = [&window] {
        if (window)
            window->Unload();
        modMain::ExitApplication();
    };
    SingleInstance instance;
    RunStartUp(instance,
        {[&](const LoadEnded& ended) {
             speech = createSpeechEngine();
             window = std::make_unique<frmMain>(speech.get(), exitProgram);
             window->setVideoSourceOption(videoSourceOption(QCoreApplication::arguments()));
             QObject::connect(window.get(), &frmMain::loadEnded, window.get(), ended);
             window->Load();
         },
            [&window]() -> QWidget* { return window.get(); }, exitProgram});
    return app.exec();
}
