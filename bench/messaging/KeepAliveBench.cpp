// Datagrams one client sends to keep the way through routers open, with 50 online buddies, over
// a real minute (or the seconds given as the first argument). Each buddy is a socket at its own
// loopback address (127.0.0.2 and up) and the shared data port, signed in to a confabo-service
// started here; the client at 127.0.0.1 looks each buddy up once, as its presence poll does, and
// then only its keep-alive sends. Prints the datagrams per minute in all and per buddy, and the
// most any buddy got in one 20-second interval.
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/KeepAlive.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "BoundUdpSocket.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

using namespace cfb;

namespace {

constexpr int OnlineBuddies = 50;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 60;
    TempConfig config;
    // Fifty-one sign-ins from one address at once: more than a real client's allowance.
    ServiceProcess service({"--sign-in-burst", "200", "--sign-in-rate", "200"});
    if (!service.isRunning()) {
        std::fprintf(stderr, "cannot start the service: %s\n", qPrintable(service.errorText()));
        return 1;
    }
    UserNotice::setHandler([](const QString&, const QString&) {});
    const QString port = freeDataPort();
    SettingsStore::save("Data", "CFBSERVER", service.serverSetting());
    SettingsStore::save("Data", "DataPort", port);

    // The buddies: accounts signed in from their own addresses, receiving on plain sockets.
    std::vector<int> sockets;
    std::vector<std::unique_ptr<Confabo>> accounts;
    SettingsStore::save("Debug", "Block All Data", "True");
    for (int i = 0; i < OnlineBuddies; ++i) {
        const QString address = QStringLiteral("127.0.0.%1").arg(i + 2);
        const QString handle = QStringLiteral("buddy%1").arg(i, 2, 10, QLatin1Char('0'));
        sockets.push_back(boundUdpSocket(address, quint16(port.toInt()), SOCK_NONBLOCK));
        auto account = std::make_unique<Confabo>();
        if (sockets.back() < 0 || !account->Register(handle, "PW", handle + "@example.org")
            || !account->Login(handle, "PW", address)) {
            std::fprintf(stderr, "cannot set up %s at %s\n", qPrintable(handle), qPrintable(address));
            return 1;
        }
        accounts.push_back(std::move(account));
    }
    SettingsStore::save("Debug", "Block All Data", "False");
    SettingsStore::save("Data", "Data Address", "127.0.0.1");

    Confabo amy;
    if (!amy.Register("amelia", "PW", "amelia@example.org") || !amy.Login("amelia", "PW")) {
        std::fprintf(stderr, "cannot sign amelia in\n");
        return 1;
    }
    for (int i = 0; i < OnlineBuddies; ++i)
        amy.AddBuddy(QStringLiteral("buddy%1").arg(i, 2, 10, QLatin1Char('0')));
    for (const auto& buddy : *amy.Buddies())
        buddy->Status();
    amy.keepAlive().start(); // as after the sign-in, now that every buddy is known online

    std::vector<std::vector<int64_t>> arrivals(OnlineBuddies); // ms since the start, per buddy
    QElapsedTimer clock;
    clock.start();
    char buf[2048];
    waitUntil(
        [&] {
            for (int i = 0; i < OnlineBuddies; ++i)
                while (::recv(sockets[i], buf, sizeof buf, 0) >= 0)
                    arrivals[i].push_back(clock.elapsed());
            return clock.elapsed() >= seconds * 1000LL;
        },
        seconds * 1000 + 1000);

    int64_t total = 0;
    size_t mostInAnInterval = 0;
    for (const auto& times : arrivals) {
        total += int64_t(times.size());
        for (size_t a = 0; a < times.size(); ++a) {
            size_t b = a;
            while (b < times.size() && times[b] - times[a] < KeepAlive::DefaultIntervalMs)
                ++b;
            mostInAnInterval = std::max(mostInAnInterval, b - a);
        }
    }
    const double minutes = clock.elapsed() / 60000.0;
    std::printf("keep-alive, %d online buddies, %.1f s: %lld datagrams, %.1f per minute (%.2f per buddy per "
                "minute), at most %zu to one buddy within %d s; the client's own count %lld\n",
        OnlineBuddies, clock.elapsed() / 1000.0, static_cast<long long>(total), total / minutes,
        total / minutes / OnlineBuddies, mostInAnInterval, KeepAlive::DefaultIntervalMs / 1000,
        static_cast<long long>(amy.keepAlive().sent()));
    for (int fd : sockets)
        ::close(fd);
    return 0;
}
