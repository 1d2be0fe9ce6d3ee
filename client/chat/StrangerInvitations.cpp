#include "chat/StrangerInvitations.h"

#include "common/EventLog.h"
#include "common/HelpContexts.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "session/ClientSession.h"
#include "speech/SpeechEngine.h"

#include <QPointer>
#include <QTimer>

namespace cfb::client {

StrangerInvitations::StrangerInvitations(ClientSession& session, Accept accept, QObject* parent)
    : QObject(parent)
    , session_(session)
    , accept_(std::move(accept))
{
}

void StrangerInvitations::receive(const StrangerQueue::Invitation& invitation)
{
    switch (queue_.offer(invitation)) {
    case StrangerQueue::Arrival::Ask:
        ask(invitation);
        return;
    case StrangerQueue::Arrival::Dropped:
        if (queue_.dropNoteDue())
            EventLog::write(QStringLiteral("Confabo: too many chat invitations at once; messages from strangers "
                                           "beyond %1 waiting are dropped (the latest from '%2').")
                                .arg(StrangerQueue::Capacity)
                                .arg(invitation.handle),
                EventLog::Warning);
        return;
    case StrangerQueue::Arrival::Waiting:
    case StrangerQueue::Arrival::Refused:
        return;
    }
}

void StrangerInvitations::ask(const StrangerQueue::Invitation& invitation)
{
    const QString spoken = QStringLiteral("You have received a chat invitation from '") + invitation.handle + "'";
    if (session_.speakIt() && session_.speech())
        session_.speech()->speak(spoken);
    const QString question = spoken + QStringLiteral(" at the email address '") + invitation.email
        + QStringLiteral("'. Would you like to chat with this user?");
    QPointer<StrangerInvitations> self(this);
    const bool yes = session_.popupQuestion(question, QStringLiteral("Confabo - Invitation"), HelpContext::Contents)
        == UserDialogs::AnswerYes;
    if (!self)
        return;
    queue_.answered(invitation.handle, yes);
    // The next stranger's turn comes once this question is gone, from the event loop.
    QTimer::singleShot(0, this, [this] {
        if (auto next = queue_.next())
            withErrorReport("NewMessage", [&] { ask(*next); });
    });
    if (yes && session_.library())
        accept_(invitation);
}

} // namespace cfb::client
