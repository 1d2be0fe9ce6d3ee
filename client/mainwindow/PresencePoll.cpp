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

void PresencePoll::poll(Mode mode, std::function<void()> then)
{
    if (!session_.library() || (mode == InBackground && polling_)) {
        if (then)
            then();
        return;
    }
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
    // A poll asked for now goes even while one in the background is under way; the flag is
    // the background's.
    const bool background = mode == InBackground;
    if (background)
        polling_ = true;
    session_.ask<Polled>(
        background ? "tmr_Timer" : "LoadBuddyList", this, work,
        [this, apply, background, then](const Polled& result) {
            if (background)
                polling_ = false;
            apply(result);
            if (then)
                then();
        },
        [this, background, then] {
            if (background)
                polling_ = false;
            if (then)
                then();
        });
}

} // namespace cfb::client
