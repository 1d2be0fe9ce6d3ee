#include "mainwindow/DialogOpeners.h"

#include "buddies/frmBuddyList.h"
#include "buddies/frmInvite.h"
#include "common/HelpContexts.h"
#include "common/UserDialogs.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "setup/frmSetup.h"
#include "speech/SpeechEngine.h"

namespace cfb::client {

DialogOpeners::DialogOpeners(QWidget& window, ClientSession& session)
    : QObject(&window)
    , window_(window)
    , session_(session)
{
}

bool DialogOpeners::showSetup(QWidget* owner)
{
    return openSetup(owner, nullptr);
}

bool DialogOpeners::showFirstRegistration(QWidget* owner)
{
    bool registered = false;
    return openSetup(owner, &registered) && registered;
}

bool DialogOpeners::showBuddyListEditor(QWidget*)
{
    return open<frmBuddyList>();
}

bool DialogOpeners::showInvite(QWidget*)
{
    return open<frmInvite>();
}

// The setup dialog registers an account while nobody is signed in, else edits the profile and
// settings; with registered, it registers the first account and leaves telling of it to the caller.
bool DialogOpeners::openSetup(QWidget* owner, bool* registered)
{
    if (!session_.library())
        return false;
    frmSetup setup(session_, owner ? owner : &window_);
    if (registered)
        setup.setConfirmsRegistration(false);
    setup.exec();
    if (registered)
        *registered = setup.hasRegistered();
    return true;
}

template <typename Dialog> bool DialogOpeners::open()
{
    if (!session_.library())
        return false;
    Dialog dialog(session_, &window_);
    dialog.exec();
    return true;
}

void DialogOpeners::offerInvitation()
{
    if (Settings::OfferInvitation.read().trimmed() == QLatin1String("0"))
        return;
    const QString question = QStringLiteral("Would you like to invite a user to chat?");
    if (session_.speakIt() && session_.speech())
        session_.speech()->speak(question);
    bool dontAskAgain = false;
    const int answer = session_.popupQuestion(QStringLiteral("You currently have no buddies online. ") + question,
        QStringLiteral("Confabo - Invite Users"), HelpContext::InviteUsers, &dontAskAgain);
    if (dontAskAgain)
        Settings::OfferInvitation.write(QStringLiteral("0"));
    if (answer == UserDialogs::AnswerYes)
        showInvite(&window_);
}

} // namespace cfb::client
