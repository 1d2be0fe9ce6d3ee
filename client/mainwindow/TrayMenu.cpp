#include "mainwindow/TrayMenu.h"

#include "common/LocalErrorHandler.h"
#include "common/modMain.h"
#include "resources/ClientResources.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QWidget>

namespace cfb::client {

TrayMenu::TrayMenu(QWidget& window, QMenu& menu, QAction& open, std::function<QWidget*()> currentWindow)
    : QObject(&window)
    , window_(window)
    , menu_(menu)
    , open_(open)
    , currentWindow_(std::move(currentWindow))
{
}

void TrayMenu::add()
{
    if (icon_)
        return;
    available_ = available_ || QSystemTrayIcon::isSystemTrayAvailable();
    icon_ = new QSystemTrayIcon(applicationIcon(), &window_);
    icon_->setToolTip(QString::fromLatin1(modMain::AppTitle));
    icon_->setContextMenu(&menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayMenu::activated);
    icon_->show();
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
        if (reason == QSystemTrayIcon::DoubleClick)
            open_.trigger();
        else if (reason == QSystemTrayIcon::Trigger)
            menu_.popup(QCursor::pos());
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
        modMain::ShowSetupDialog(&window_);
    });
}

} // namespace cfb::client
