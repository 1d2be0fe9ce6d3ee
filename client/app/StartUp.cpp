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

void failToLoad(frmSplash* splash, const StartUpSteps& steps)
{
    if (splash)
        splash->close();
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    const QString title = QLatin1String(modMain::AppTitle);
    modMain::ReportError(
        title + QStringLiteral(" failed to load. You may need to re-install ") + title + QStringLiteral("."),
        modMain::EventError, true);
    steps.exitProgram();
}

} // namespace

void RunStartUp(SingleInstance& instance, const StartUpSteps& steps)
{
    if (instance.activateRunning()) {
        steps.exitProgram();
        return;
    }
    instance.listen();
    QObject::connect(&instance, &SingleInstance::activationRequested, &instance,
        [mainWindow = steps.mainWindow] { bringToFront(mainWindow()); });

    QPointer<frmSplash> splash;
    try {
        if (readAutoRun() != 1) {
            splash = new frmSplash;
            splash->setAttribute(Qt::WA_DeleteOnClose);
            splash->showAtStart();
        }
        QCoreApplication::processEvents();
        steps.load([splash, steps](bool ok) {
            if (!ok) {
                failToLoad(splash, steps);
                return;
            }
            try {
                // Read again for its error, but a splash that is up goes whatever the value became
                // meanwhile (the setup dialog of the first run may have switched "AutoRun" on).
                readAutoRun();
            } catch (const std::exception&) {
                failToLoad(splash, steps);
                return;
            }
            if (splash)
                splash->close();
            if (QWidget* window = steps.mainWindow(); window && window->isVisible())
                window->activateWindow();
        });
    } catch (const std::exception&) {
        failToLoad(splash, steps);
    }
}

} // namespace cfb::client
