#include "chat/cBuddyInfo.h"

#include "chat/frmBuddy.h"
#include "messaging/Buddy.h"
#include "session/ClientSession.h"

namespace cfb::client {

cBuddyInfo::cBuddyInfo(ClientSession* session)
    : session_(session)
{
    if (!session)
        return;
    const auto ours = [this](const QString& handle) { return buddy_ && buddy_->handle() == handle; };
    QObject::connect(
        session, &ClientSession::lineDelivered, &transcript_, [this, ours](const QString& handle, uint64_t id) {
            if (ours(handle))
                transcript_.markDelivered(id, QDateTime::currentDateTime());
        });
    QObject::connect(
        session, &ClientSession::lineNotDelivered, &transcript_, [this, ours](const QString& handle, uint64_t id) {
            if (ours(handle))
                transcript_.markNotDelivered(id);
        });
    QObject::connect(session, &ClientSession::lineQueued, &transcript_, [this, ours](const QString& handle, uint64_t) {
        if (ours(handle))
            transcript_.appendNotice(QStringLiteral("(will be delivered when %1 signs in)").arg(buddy_->handle()));
    });
    QObject::connect(session, &ClientSession::lineRefused, &transcript_,
        [this, ours](const QString& handle, uint64_t id, const QString& reason) {
            if (!ours(handle))
                return;
            transcript_.markNotDelivered(id);
            transcript_.appendNotice(
                reason.isEmpty() ? QStringLiteral("The service did not keep the line for %1.").arg(handle) : reason);
        });
}

void cBuddyInfo::sendLine(const QString& text)
{
    if (!session_ || !buddy_)
        return;
    const ClientSession::SentLine sent = session_->sendLine(*buddy_, text);
    using Delivery = ChatTranscript::Delivery;
    const Delivery delivery = !sent.sent ? Delivery::NotDelivered : sent.id ? Delivery::Pending : Delivery::Unmarked;
    transcript_.appendOwn(session_->handle(), text, delivery, sent.id);
}

cBuddyInfo::~cBuddyInfo()
{
    if (buddyForm_) {
        buddyForm_->close();
        buddyForm_->deleteLater();
    }
}

QString cBuddyInfo::refusal() const
{
    if (buddy_ && buddy_->Status() == CFB_BUSY)
        return QStringLiteral("%1 is busy and gets no messages until available again; this line was not sent.")
            .arg(buddy_->handle());
    if (buddy_ && session_ && buddy_->Status() == CFB_OFFLINE && !session_->canLeaveMail(*buddy_))
        return QStringLiteral("%1 is offline, and lines wait for an offline buddy only when both of you have a key; "
                              "this line was not sent.")
            .arg(buddy_->handle());
    return {};
}

frmBuddy* cBuddyInfo::BuddyForm() const
{
    return buddyForm_.data();
}

void cBuddyInfo::showWindow()
{
    if (!buddyForm_ || !buddy_)
        return;
    buddyForm_->setWindowTitle(buddy_->handle());
    buddyForm_->setBuddy(buddy_);
    buddyForm_->showAvatar(buddy_->Avatar());
    buddyForm_->show();
    buddyForm_->raise();
    buddyForm_->activateWindow();
}

void cBuddyInfo::setSecurity(SecurityMark::State state)
{
    security_ = state;
    if (buddyForm_ && buddy_)
        buddyForm_->showSecurity(state, buddy_->handle());
}

void cBuddyInfo::setBuddy(std::shared_ptr<cfb::Buddy> buddy)
{
    buddy_ = std::move(buddy);
    if (buddyForm_ || !session_ || !buddy_)
        return;
    buddyForm_ = new frmBuddy(*session_, *this);
    buddyForm_->setBuddy(buddy_);
    buddyForm_->showAvatar(buddy_->Avatar());
    buddyForm_->showSecurity(security_, buddy_->handle());
}

} // namespace cfb::client
