#include "mainwindow/TrayMenu.h"

#include "common/LocalErrorHandler.h"
#include "common/modMain.h"
#include "resources/ClientResources.h"
#include "session/SessionDialogs.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>

namespace cfb::client {

TrayMenu::TrayMenu(QWidget& window, QMenu& menu, QAction& open, std::function<QWidget*()> currentWindow,
    SessionDialogs& dialogs)
    : QObject(&window)
    , window_(window)
    , menu_(menu)
    , open_(open)
    , currentWindow_(std::move(currentWindow))
    , dialogs_(dialogs)
{
}

void TrayMenu::add()
{
    if (icon_)
        return;
    available_ = available_ || QSystemTrayIcon::isSystemTrayAvailable();
    icon_ = new QSystemTrayIcon(applicationIcon(), &window_);
    icon_->setToolTip(title_.isEmpty() ? QString::fromLatin1(modMain::AppTitle) : title_);
    icon_->setContextMenu(&menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayMenu::activated);
    connect(icon_, &QSystemTrayIcon::messageClicked, &open_, &QAction::trigger);
    icon_->show();
}

void TrayMenu::setTitle(const QString& title)
{
    title_ = title;
    if (icon_)
        icon_->setToolTip(title_);
}

void TrayMenu::notify(const QString& handle, const QString& message)
{
    if (!icon_ || !QSystemTrayIcon::supportsMessages())
        return;
    // A buddy writing fast (or a flood) makes one notification a while, not one a line.
    constexpr int QuietMs = 5000;
    if (lastNotice_.isValid() && lastNotice_.elapsed() < QuietMs)
        return;
    lastNotice_.start();
    constexpr int MaxShown = 200; // a notification is a glance, not the transcript
    const QString shown = message.size() > MaxShown ? message.left(MaxShown) + QStringLiteral("...") : message;
    icon_->showMessage(QStringLiteral("%1 wrote").arg(handle), shown, applicationIcon(), 10000);
}

void TrayMenu::remove()
{
    if (!icon_)
        return;
    icon_->hide();
    delete icon_;
    icon_ = nullptr;
}

void TrayMenu::activated(QSystemTrayIcon::ActivationReason reason)
{
    withErrorReport("Tray", [&] {
        // The context menu opens by itself (a right click); a click opens the window, as
        // desktop tray icons do.
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            open_.trigger();
    });
}

void TrayMenu::open()
{
    withErrorReport("Open", [this] {
        if (window_.isMinimized())
            window_.showNormal();
        window_.show();
        QWidget* target = currentWindow_();
        target->raise();
        target->activateWindow();
    });
}

void TrayMenu::openSetup()
{
    withErrorReport("Setup", [this] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == QLatin1String("frmSetup") && window->isVisible()) {
                window->raise();
                window->activateWindow();
                return;
            }
        dialogs_.showSetup(&window_);
    });
}

} // namespace cfb::client
