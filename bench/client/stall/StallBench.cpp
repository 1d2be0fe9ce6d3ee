// How long each user action keeps the desktop client's user-interface thread from its events, and
// how long it takes until its outcome arrives: the real main window against a real
// confabo-service behind a relay that passes answers through, holds each back 2 s, or never
// answers (timeouts of 1 s for connect, send and receive). A 10 ms heartbeat timer on the window's
// thread measures the stall. Beside each action, the same library work called directly on a plain
// thread against the healthy service, measured in the same run, and the ratio of the two.
//
//   bench_client_stall [--rounds=N]   (N healthy rounds, default 5; one round with each other service)
#include "BareRound.h"
#include "StallTable.h"
#include "StallWorld.h"
#include "TestRuntimeDir.h"
#include "WindowRound.h"

#include "messaging/modINET.h"
#include "platform/UserNotice.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

constexpr double StallAimMs = 50;
constexpr double RatioAim = 1.2;

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("?");
}

int roundsFrom(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (argument.startsWith(QLatin1String("--rounds=")))
            return std::max(1, argument.section(QLatin1Char('='), 1).toInt());
    return 5;
}

// Library notices from the plain thread would reach the client's message boxes: they go nowhere.
void quietNotices()
{
    cfb::UserNotice::setHandler([](const QString&, const QString&) {});
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ensureTestRuntimeDir();
    QApplication app(argc, argv);
    const int rounds = roundsFrom(QCoreApplication::arguments());
    const QString loadBefore = loadAverage();

    StallWorld world(2 * rounds + 2);
    if (!world.ready()) {
        std::fprintf(stderr, "%s\n", qPrintable(world.problem()));
        return 1;
    }
    // As in the program: the user-interface thread refuses service requests (each is counted).
    cfb::ServiceChannel::current().refusesRequests = true;

    StallTable table;
    bool bareOk = true;
    for (int round = 0; round < rounds; ++round) {
        std::printf("healthy round %d of %d\n", round + 1, rounds);
        std::fflush(stdout);
        WindowRound(world, table, StallTable::Healthy, round).run();
        quietNotices();
        bareOk = BareRound(world, table, round).run() && bareOk;
    }
    std::printf("round with answers after 2 s\n");
    std::fflush(stdout);
    WindowRound(world, table, StallTable::Slow, rounds).run();
    quietNotices();
    BareRound::removeGuests();
    std::printf("round with a silent service\n");
    std::fflush(stdout);
    WindowRound(world, table, StallTable::Silent, rounds + 1).run();

    table.print(
        QStringLiteral("User-interface stall (longest heartbeat gap, 10 ms timer) and wall time to the outcome, "
                       "milliseconds; load average before %1, after %2")
            .arg(loadBefore, loadAverage()));
    const QStringList misses = table.misses(StallAimMs, RatioAim);
    std::printf("\nAim: every stall under %.0f ms with each service; healthy wall time at most %.1fx the bare call.\n",
        StallAimMs, RatioAim);
    if (misses.isEmpty())
        std::printf("Every action met the aim.\n");
    for (const QString& miss : misses)
        std::printf("  missed: %s\n", qPrintable(miss));
    std::fflush(stdout);
    return bareOk ? 0 : 1;
}
