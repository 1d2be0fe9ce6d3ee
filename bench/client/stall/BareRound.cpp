#include "BareRound.h"

#include "StallTable.h"
#include "StallWorld.h"

#include "ClientProfile.h"

#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PollingClock.h"
#include "platform/Settings.h"

#include <QThread>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start, Clock::time_point end = Clock::now())
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Runs work on a thread started for it (a QThread, so its sockets have an event dispatcher).
QString onPlainThread(const std::function<QString()>& work)
{
    QString problem;
    std::unique_ptr<QThread> thread(QThread::create([&] { problem = work(); }));
    thread->start();
    thread->wait();
    return problem;
}

// Every buddy's presence, address and mouth from one USER_INFO, and the avatar of those available:
// what the client's poll asks for.
void lookUpEveryone(cfb::Confabo& library)
{
    for (const auto& buddy : *library.Buddies())
        if (buddy->lookUp().status == cfb::CFB_AVAILABLE)
            buddy->Avatar();
}

void dropGuests(cfb::Confabo& library)
{
    QStringList guests;
    for (const auto& buddy : *library.Buddies())
        if (!StallWorld::Buddies.contains(buddy->handle()))
            guests << buddy->handle();
    for (const QString& guest : guests)
        if (library.Buddies()->Item(guest)->Remove())
            library.Buddies()->Remove(guest);
}

} // namespace

BareRound::BareRound(StallWorld& world, StallTable& table, int round)
    : world_(world)
    , table_(table)
    , round_(round)
{
}

bool BareRound::run()
{
    const QString problem = onPlainThread([this] { return work(); });
    if (!problem.isEmpty())
        std::fprintf(stderr, "bare round %d: %s\n", round_, qPrintable(problem));
    return problem.isEmpty();
}

bool BareRound::removeGuests()
{
    return onPlainThread([] {
        cfb::Confabo library;
        if (!library.Login(StallWorld::User, ClientProfile::password(StallWorld::User), QStringLiteral("127.0.0.1")))
            return QStringLiteral("cannot sign in");
        dropGuests(library);
        library.Logout();
        return QString();
    }).isEmpty();
}

QString BareRound::work()
{
    // This thread's polling clock moves only when a poll is due, so every poll asks the service.
    int64_t second = 1;
    cfb::PollingClock::setSource([&second] { return second; });
    struct RestoreClock {
        ~RestoreClock() { cfb::PollingClock::setSource({}); }
    } restore;

    // Buddies reuse their values for the polling interval they were made with: none here.
    cfb::Settings::PollingInterval.write(QStringLiteral("0"));
    cfb::Confabo library;
    Clock::time_point start = Clock::now();
    if (!library.Login(StallWorld::User, ClientProfile::password(StallWorld::User), QStringLiteral("127.0.0.1")))
        return QStringLiteral("cannot sign in");
    const double login = msSince(start);
    dropGuests(library);
    ++second;
    start = Clock::now();
    lookUpEveryone(library);
    table_.addBare(QStringLiteral("sign-in"), login + msSince(start));

    start = Clock::now();
    library.SetStatus(cfb::CFB_BUSY);
    table_.addBare(QStringLiteral("Busy"), msSince(start));
    if (library.Status() != cfb::CFB_BUSY || !library.SetStatus(cfb::CFB_AVAILABLE))
        return QStringLiteral("SetStatus was not taken");

    ++second;
    start = Clock::now();
    lookUpEveryone(library);
    table_.addBare(QStringLiteral("poll tick, 3 buddies"), msSince(start));

    // Sends are timed to their arrival at the buddy, as the window's are.
    BuddyEars& ears = *world_.ears;
    const int16_t port = int16_t(world_.dataPort());
    const std::shared_ptr<cfb::Buddies> buddies = library.Buddies();
    const std::shared_ptr<cfb::Buddy> amelia = buddies->Item(StallWorld::Buddies[0]);
    if (!amelia)
        return QStringLiteral("amelia is no buddy");
    int64_t before = ears.count(0);
    start = Clock::now();
    amelia->SendMessage(
        StallWorld::User, library.Email(), QStringLiteral("round %1: are you there?").arg(round_), port, port);
    if (!ears.waitFor(0, before + 1, 2000))
        return QStringLiteral("the message did not arrive");
    table_.addBare(QStringLiteral("Send"), msSince(start, ears.lastArrival(0)));

    std::vector<int64_t> counts;
    for (int i = 0; i < StallWorld::Buddies.size(); ++i)
        counts.push_back(ears.count(i));
    start = Clock::now();
    for (const QString& handle : StallWorld::Buddies)
        buddies->Item(handle)->SendMessage(
            StallWorld::User, library.Email(), QStringLiteral("round %1: hello all").arg(round_), port, port);
    Clock::time_point last = start;
    for (int i = 0; i < StallWorld::Buddies.size(); ++i) {
        if (!ears.waitFor(i, counts[size_t(i)] + 1, 2000))
            return QStringLiteral("a shout did not arrive");
        last = std::max(last, ears.lastArrival(i));
    }
    table_.addBare(QStringLiteral("Shout, 3 tabs"), msSince(start, last));

    for (const StallWorld::Picture& picture : world_.pictures) {
        before = ears.count(0);
        start = Clock::now();
        amelia->SendFrame(picture.frame, StallWorld::User, port);
        if (!ears.waitFor(0, before + 1, 2000))
            return QStringLiteral("the picture did not arrive");
        table_.addBare(picture.name, msSince(start, ears.lastArrival(0)));
    }

    // Setup's OK with a new e-mail address: the address, then the mouth position (no new avatar).
    start = Clock::now();
    const bool changed = library.ChangeEmail(QStringLiteral("cordelia.b%1@example.org").arg(round_));
    library.SetAvatar(QString(), library.MouthLeft(), library.MouthTop());
    table_.addBare(QStringLiteral("Setup: apply e-mail"), msSince(start));
    if (!changed)
        return QStringLiteral("ChangeEmail was not taken");

    start = Clock::now();
    library.GetBlockedUserList();
    table_.addBare(QStringLiteral("Buddies: open editor"), msSince(start));

    const QString guest = world_.nextGuest();
    start = Clock::now();
    const QString added = library.AddBuddy(guest);
    if (const std::shared_ptr<cfb::Buddy> buddy = library.Buddies()->Item(added)) {
        buddy->lookUp();
        buddy->Avatar();
    }
    table_.addBare(QStringLiteral("Buddies: Add"), msSince(start));
    if (added != guest)
        return QStringLiteral("AddBuddy found no %1").arg(guest);
    dropGuests(library);

    start = Clock::now();
    library.Logout();
    table_.addBare(QStringLiteral("Exit"), msSince(start));
    return QString();
}
