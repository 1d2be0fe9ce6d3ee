#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace cfb::client {

class SessionDialogs;

// The main window's notification-area icon and its popup menu: a click (or a double click) runs
// "Open...", which brings forward the window the user works in, and the context menu (a right
// click) opens the menu; "Setup..." brings an open setup dialog forward or opens one. A
// notification of a line that arrived brings the window forward when clicked.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    // currentWindow names the window "Open..." brings forward; dialogs opens "Setup...".
    TrayMenu(QWidget& window, QMenu& menu, QAction& open, std::function<QWidget*()> currentWindow,
        SessionDialogs& dialogs);

    // Shows the icon (once); hides and forgets it.
    void add();
    // The icon's tooltip: "Confabo - HANDLE" once signed in.
    void setTitle(const QString& title);
    // Says in a notification that a line came from handle (where the desktop shows them), one
    // notification in a few seconds at most.
    void notify(const QString& handle, const QString& message);
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
    SessionDialogs& dialogs_;
    QSystemTrayIcon* icon_ = nullptr;
    QString title_;
    QElapsedTimer lastNotice_;
    bool available_ = false;
};

} // namespace cfb::client
