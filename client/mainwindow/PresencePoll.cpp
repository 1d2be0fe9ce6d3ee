#include "mainwindow/PresencePoll.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"

namespace cfb::client {
namespace {

constexpr int TickMs = 5000;

} // namespace

PresencePoll::PresencePoll(ClientSession& session, Others others, QObject* parent)
    : QObject(parent)
    , session_(session)
    , others_(std::move(others))
    , clock_([] { return QDateTime::currentDateTimeUtc(); })
{
    timer_.setInterval(TickMs);
    connect(&timer_, &QTimer::timeout, this, &PresencePoll::ticked);
}

void PresencePoll::tick(bool shown)
{
    const QDateTime now = clock_();
    if (nextPoll_.isValid() && now < nextPoll_)
        return;
    if (shown)
        poll(InBackground);
    bool ok = false;
    const int seconds = Settings::PollingInterval.read().trimmed().toInt(&ok);
    nextPoll_ = now.addSecs(ok && seconds > 0 ? seconds : ok ? 0 : 30);
}

void PresencePoll::poll(Mode mode)
{
    if (!session_.library() || (mode == InBackground && polling_))
        return;
    // The users on tabs who are no buddies: their objects take the values that come back.
    const QHash<QString, std::shared_ptr<cfb::Buddy>> others = others_ ? others_() : decltype(others_())();
    QList<LookedUpUser> rows;
    for (auto other = others.begin(); other != others.end(); ++other) {
        LookedUpUser row;
        row.userID = other.value()->BuddyUserID();
        row.handle = other.key();
        row.email = other.value()->Email();
        rows.append(row);
    }
    const auto work = [rows](Confabo& service) { return BuddyLookup::everyone(service, rows); };
    const auto apply = [this, others](const QList<LookedUpUser>& found) {
        if (!session_.library())
            return;
        BuddyLookup::adopt(
            found, *session_.library(), [&others](const QString& handle) { return others.value(handle); });
        emit polled();
    };
    if (mode == Waits) {
        if (const auto found = session_.call<QList<LookedUpUser>>("LoadBuddyList", nullptr, work))
            apply(*found);
        return;
    }
    polling_ = true;
    session_.ask<QList<LookedUpUser>>(
        "tmr_Timer", this, work,
        [this, apply](const QList<LookedUpUser>& found) {
            polling_ = false;
            apply(found);
        },
        [this] { polling_ = false; });
}

} // namespace cfb::client
