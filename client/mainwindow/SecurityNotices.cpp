#include "mainwindow/SecurityNotices.h"

#include "chat/ChatTranscript.h"
#include "chat/cBuddyInfo.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "mainwindow/BuddyTabs.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"

namespace cfb::client {

SecurityNotices::SecurityNotices(
    QWidget& window, ClientSession& session, BuddyTabs& tabs, std::function<void()> refresh)
    : QObject(&window)
    , window_(window)
    , session_(session)
    , tabs_(tabs)
    , refresh_(std::move(refresh))
{
    connect(&session, &ClientSession::keyChanged, this, &SecurityNotices::keyChanged);
    connect(&session, &ClientSession::plainRefused, this, &SecurityNotices::plainRefused);
}

void SecurityNotices::announceIdentityProblem()
{
    Confabo* library = session_.library();
    if (identityAnnounced_ || !library || library->hasIdentity())
        return;
    identityAnnounced_ = true;
    UserDialogs::current().messageBox(&window_,
        library->identityProblem()
            + QStringLiteral("\n\nUntil then your messages, pictures and video travel unencrypted, and buddies "
                             "who know your key refuse them."),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo Security Key"));
}

void SecurityNotices::keyChanged(const QString& handle, bool verified)
{
    withErrorReport("KeyChanged", [&] {
        if (ChatTranscript* transcript = tabs_.transcriptOf(handle))
            transcript->appendNotice(QStringLiteral("%1's security key changed").arg(handle));
        if (verified && session_.library()) {
            const QString question
                = QStringLiteral("%1's security key changed since you verified it: %1 may have installed Confabo "
                                 "anew, or someone may stand between you. Nothing is sent to or taken from %1 until "
                                 "you accept the new key.\n\nAccept the new key now? (No keeps it refused; "
                                 "Buddy > Verify... shows its safety number to compare first.)")
                      .arg(handle);
            if (UserDialogs::current().messageBox(&window_, question, UserDialogs::Buttons::YesNo,
                    UserDialogs::Icon::Exclamation, QStringLiteral("Security Key Changed"))
                    == UserDialogs::AnswerYes
                && session_.library())
                session_.library()->acceptKey(handle);
        }
        refresh_();
    });
}

void SecurityNotices::plainRefused(const QString& handle)
{
    withErrorReport("PlainRefused", [&] {
        if (ChatTranscript* transcript = tabs_.transcriptOf(handle))
            transcript->appendNotice(
                QStringLiteral("%1 no longer has a security key: their unencrypted messages are refused").arg(handle));
        refresh_();
    });
}

} // namespace cfb::client
