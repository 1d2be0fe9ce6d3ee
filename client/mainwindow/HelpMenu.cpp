#include "mainwindow/HelpMenu.h"

#include "ui_frmMain.h"

#include "common/HelpContexts.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "common/frmSplash.h"
#include "common/modMain.h"
#include "session/ClientSession.h"
#include "speech/SpeechEngine.h"

#include <QUrl>

namespace cfb::client {
namespace {

const QString SupportMail = QStringLiteral("support@confabo.example.org");
const QString VendorWeb = QStringLiteral("https://confabo.example.org/");

} // namespace

HelpMenu::HelpMenu(Ui::frmMain& ui, QWidget& window, ClientSession& session)
    : QObject(&window)
    , window_(window)
    , session_(session)
{
    connect(ui.mnuContents, &QAction::triggered, this,
        [] { withErrorReport("Contents", [] { modMain::ShowHelp(HelpContext::Contents); }); });
    connect(ui.mnuEmailSupport, &QAction::triggered, this, &HelpMenu::mnuEmailSupport_Click);
    connect(ui.mnuWeb, &QAction::triggered, this, &HelpMenu::mnuWeb_Click);
    connect(ui.mnuAbout, &QAction::triggered, this, &HelpMenu::mnuAbout_Click);
    connect(ui.mnuEditVoices, &QAction::triggered, this, &HelpMenu::mnuEditVoices_Click);
    ui.mnuEditVoices->setEnabled(session.speech() != nullptr);
}

void HelpMenu::mnuEmailSupport_Click()
{
    withErrorReport("Email Technical Support", [this] {
        QUrl mail(QStringLiteral("mailto:") + SupportMail);
        mail.setQuery(QStringLiteral("subject=Confabo Technical Support"));
        if (!UserDialogs::current().openUrl(mail))
            UserDialogs::current().messageBox(&window_,
                QStringLiteral("Error opening email client. Make sure that you have your email client correctly "
                               "installed and configured"),
                UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, QStringLiteral("Confabo - Invite Users"));
    });
}

void HelpMenu::mnuWeb_Click()
{
    withErrorReport("On the Web", [] {
        if (!UserDialogs::current().openUrl(QUrl(VendorWeb)))
            modMain::ReportError(QStringLiteral("No program opened %1").arg(VendorWeb), modMain::EventError, true);
    });
}

void HelpMenu::mnuAbout_Click()
{
    withErrorReport("About", [this] {
        frmSplash splash(&window_);
        splash.becomeAboutBox();
        splash.exec();
    });
}

void HelpMenu::mnuEditVoices_Click()
{
    withErrorReport("Edit Voices", [this] {
        if (session_.speech())
            session_.speech()->showVoicesDialog(&window_, QStringLiteral("Confabo Voices"));
    });
}

} // namespace cfb::client
