#include "app/StartUp.h"

#include "common/frmSplash.h"
#include "common/modMain.h"
#include "desktop/SingleInstance.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <stdexcept>

namespace cfb::client {

int readAutoRun()
{
    const QString text = Settings::AutoRun.read();
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok)
        throw std::invalid_argument("AutoRun is not a number");
    return qRound(value);
}

void bringToFront(QWidget* window)
{
    if (!window)
        return;
    window->showNormal();
    window->raise();
    window->activateWindow();
}

namespace {

[[noreturn]] void failToLoad(frmSplash* splash)
{
    if (splash)
        splash->close();
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    const QString title = QLatin1String(modMain::AppTitle);
    modMain::ReportError(
        title + QStringLiteral(" failed to load. You may need to re-install ") + title + QStringLiteral("."),
        modMain::EventError, true);
    modMain::ExitApplication();
}

} // namespace

void RunStartUp(SingleInstance& instance, const std::function<void(const LoadEnded& ended)>& loadMainWindow)
{
    if (instance.activateRunning())
        modMain::ExitApplication();
    instance.listen();
    QObject::connect(
        &instance, &SingleInstance::activationRequested, &instance, [] { bringToFront(modMain::mainWindow()); });

    QPointer<frmSplash> splash;
    try {
        if (readAutoRun() != 1) {
            splash = new frmSplash;
            splash->setAttribute(Qt::WA_DeleteOnClose);
            splash->showAtStart();
        }
        QCoreApplication::processEvents();
        loadMainWindow([splash](bool ok) {
            if (!ok)
                failToLoad(splash);
            try {
                // Read again for its error, but a splash that is up goes whatever the value became
                // meanwhile (the setup dialog of the first run may have switched "AutoRun" on).
                readAutoRun();
            } catch (const std::exception&) {
                failToLoad(splash);
            }
            if (splash)
                splash->close();
            if (QWidget* window = modMain::mainWindow(); window && window->isVisible())
                window->activateWindow();
        });
    } catch (const std::exception&) {
        failToLoad(splash);
    }
}

} // namespace cfb::client
