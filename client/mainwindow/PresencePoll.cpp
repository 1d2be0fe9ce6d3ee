#include "mainwindow/PresencePoll.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"

namespace cfb::client {
namespace {

constexpr int TickMs = 5000;

// What a poll brings back: the values looked up, and whether the service answered.
struct Polled {
    QList<LookedUpUser> found;
    bool reached = false;
};

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
    const auto work = [rows](Confabo& service) {
        ServiceChannel& channel = ServiceChannel::current();
        const int64_t posted = channel.postedRequests;
        Polled result{BuddyLookup::everyone(service, rows), false};
        // Every value was still fresh (or there are no buddies): the user's own entry tells.
        if (channel.postedRequests == posted) {
            Buddy self;
            self.LoadByHandle(service.handle());
        }
        result.reached = channel.lastFailure.isEmpty();
        // The relay's credentials are renewed before they run out (the answer carries them over).
        if (result.reached && service.relayCredentialsDue())
            service.RefreshRelayCredentials();
        return result;
    };
    const auto apply = [this, others](const Polled& result) {
        if (!session_.library())
            return;
        BuddyLookup::adopt(
            result.found, *session_.library(), [&others](const QString& handle) { return others.value(handle); });
        reached_ = result.reached;
        emit reached(result.reached);
        emit polled();
    };
    if (mode == Waits) {
        if (const auto result = session_.call<Polled>("LoadBuddyList", nullptr, work))
            apply(*result);
        return;
    }
    polling_ = true;
    session_.ask<Polled>(
        "tmr_Timer", this, work,
        [this, apply](const Polled& result) {
            polling_ = false;
            apply(result);
        },
        [this] { polling_ = false; });
}

} // namespace cfb::client
