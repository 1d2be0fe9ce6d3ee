#pragma once

#include <QObject>

class QAction;
class QWidget;

namespace cfb::client {

class ClientSession;

// The main window's Help menu and its "Edit Voices": the help contents, a mail to technical
// support, the web site, the About box and the speech engine's voices dialog.
class HelpMenu : public QObject {
public:
    struct Items {
        QAction* contents;
        QAction* emailSupport;
        QAction* web;
        QAction* about;
        QAction* editVoices;
    };

    HelpMenu(const Items& items, QWidget& window, ClientSession& session);

    void mnuEmailSupport_Click();
    void mnuWeb_Click();
    void mnuAbout_Click();
    void mnuEditVoices_Click();

private:
    QWidget& window_;
    ClientSession& session_;
};

} // namespace cfb::client
