#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace cfb::client {

// The main window's notification-area icon and its popup menu: a click opens the menu, a double
// click "Open...", which brings forward the window the user works in; "Setup..." brings an open
// setup dialog forward or opens one.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    // currentWindow names the window "Open..." brings forward.
    TrayMenu(QWidget& window, QMenu& menu, QAction& open, std::function<QWidget*()> currentWindow);

    // Shows the icon (once); hides and forgets it.
    void add();
    void remove();
    // The icon; nullptr while it is not shown.
    QSystemTrayIcon* icon() const { return icon_; }
    // Whether the desktop has a tray to bring the window back from (read when the icon is added).
    bool available() const { return available_; }
    void setAvailable(bool available) { available_ = available; }

    void open();
    void openSetup();

private:
    void activated(QSystemTrayIcon::ActivationReason reason);

    QWidget& window_;
    QMenu& menu_;
    QAction& open_;
    std::function<QWidget*()> currentWindow_;
    QSystemTrayIcon* icon_ = nullptr;
    bool available_ = false;
};

} // namespace cfb::client
