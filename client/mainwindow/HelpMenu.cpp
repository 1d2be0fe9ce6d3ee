#include "mainwindow/HelpMenu.h"

#include "common/HelpContexts.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "common/frmSplash.h"
#include "common/modMain.h"
#include "session/ClientSession.h"
#include "speech/SpeechEngine.h"

#include <QAction>
#include <QUrl>
#include <QWidget>

namespace cfb::client {
namespace {

const QString SupportMail = QStringLiteral("support@confabo.example.org");
const QString VendorWeb = QStringLiteral("https://confabo.example.org/");

} // namespace

HelpMenu::HelpMenu(const Items& items, QWidget& window, ClientSession& session)
    : QObject(&window)
    , window_(window)
    , session_(session)
{
    connect(items.contents, &QAction::triggered, this,
        [] { withErrorReport("Contents", [] { modMain::ShowHelp(HelpContext::Contents); }); });
    connect(items.emailSupport, &QAction::triggered, this, &HelpMenu::mnuEmailSupport_Click);
    connect(items.web, &QAction::triggered, this, &HelpMenu::mnuWeb_Click);
    connect(items.about, &QAction::triggered, this, &HelpMenu::mnuAbout_Click);
    connect(items.editVoices, &QAction::triggered, this, &HelpMenu::mnuEditVoices_Click);
    items.editVoices->setEnabled(session.speech() != nullptr);
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
