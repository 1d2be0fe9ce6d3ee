// confabo-cli: a headless Confabo client.
//
// A session reads commands from standard input, one a line, and writes one JSON object a line
// for every result and event, until "quit", the end of its input, SIGTERM or SIGINT. A bot answers
// whoever writes to it until SIGTERM or SIGINT. Both then sign out. The usage below is what --help prints.
#include "CliOptions.h"
#include "CliSession.h"
#include "EchoBot.h"
#include "JsonLines.h"

#include "messaging/Confabo.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "protocol/AccountRules.h"
#include "protocol/SkipJack.h"
#include "transport/vWinsock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace cfb;

namespace {

const char* const Usage = R"(usage:
  confabo-cli register --handle H --password P --email E [--avatar FILE] [--mouth-left N] [--mouth-top N]
  confabo-cli session  --handle H --password P [--hostname ADDR] [--status available|busy]
                       [--downloads DIR] [--history FILE]
                       [--audio-in WAV] [--audio-out WAV] [--ring-seconds N]
  confabo-cli bot      --handle H --password P [--email E]

Every command also takes, written into its settings store before the library starts:
  --config-dir DIR     its own settings store (default: the user's, $XDG_CONFIG_HOME/Confabo)
  --server ADDRESS     the service: https://HOST[:PORT], http://HOST[:PORT] or HOST[:PORT] (plain HTTP)
  --data-port N        the UDP data port for messages and video, the same for every buddy (80)
  --data-address ADDR  the local address the data port is bound to and given to the service,
                       for a second user on one machine (127.0.0.2); default every address

A session reads commands, one a line: online, buddies, send [--port N] HANDLE TEXT,
frame [--port N] HANDLE FILE, file [--port N] HANDLE PATH (a file of up to 2 GB, to a buddy
whose client has a key), cancel ID (a file's transfer), status available|busy, add HANDLE, remove HANDLE,
block HANDLE, unblock HANDLE, safety HANDLE (the safety number to compare with the buddy's),
verify HANDLE, forget-key HANDLE, history HANDLE [N] (the newest N lines with HANDLE, 50 unless
given, from the history file: history.sqlite in the settings folder unless --history names
another), call [--port N] HANDLE (a voice call to a buddy whose client has a key), answer,
decline, hangup, quit (as do the end of its input, SIGTERM and SIGINT: each signs out, hanging up
a call first). It writes one JSON object a line for each result and event
(messages and frames say "secure": true when they came encrypted from the buddy's known key; an
encrypted line's "id" comes back in a "delivered" or "not_delivered" event; files that buddies
offer are saved without asking into --downloads, by default the user's download folder, and each
gives a "file" event with its path and SHA-256, or "file_failed"),
and a plain line "Reachability: ..." when it knows how buddies reach it (ending in "; IPv6 direct
at ADDRESS" when its data port has IPv6 too), and again when that changes. In the buddies result
each buddy's "path" says how the conversation goes: "direct", "direct over IPv6" or "through the
relay". It asks the router to forward the data port unless "Map Data Port" is "0".

Calls: one at a time; a second caller hears busy. Events "call" (from), "call_started" (with,
and the time it started), "call_ended" (with, and a reason: hangup, declined, busy, missed when
nobody answered within the ring time, 45 s unless --ring-seconds says, or failed when the buddy
went silent for 10 s). --audio-in plays a WAV file (16-bit PCM mono, 8 to 192 kHz, at most 10
minutes) as the microphone, from its start at each call and looped; without it the session sends
silence. --audio-out keeps what the session heard and writes it (48 kHz) when each call ends,
replacing the one before; no call, no file. Quitting hangs up a call that is on.
The bot answers its buddies' calls (whoever wrote to it) and plays back what it heard a second
later, for at most 10 minutes a call.
)";

int fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "confabo-cli: %s\n", qUtf8Printable(message));
    return code;
}

bool applyStoreOptions(const CliOptions& options, QString& error)
{
    if (options.has("config-dir")) {
        const QString dir = QDir(options.value("config-dir")).absolutePath();
        if (!QDir().mkpath(dir)) {
            error = QStringLiteral("cannot create the settings folder %1").arg(dir);
            return false;
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
    }
    if (options.has("server"))
        Settings::ServiceHost.write(options.value("server"));
    if (options.has("data-port")) {
        if (!parseNumber(options.value("data-port"), 1, 32767)) {
            error = QStringLiteral("--data-port must be a number from 1 to 32767");
            return false;
        }
        Settings::DataPort.write(options.value("data-port"));
    }
    if (options.has("data-address")) {
        uint32_t address = 0;
        if (!vWinsock::ParseIPv4(options.value("data-address"), address)) {
            error = QStringLiteral("--data-address must be a dotted IPv4 address such as 127.0.0.2");
            return false;
        }
        Settings::DataAddress.write(options.value("data-address"));
    }
    return true;
}

int runRegister(const CliOptions& options)
{
    const QString handle = options.value("handle");
    if (!AccountRules::hasNewHandleLength(handle))
        return fail(QStringLiteral("a new account's handle must have %1 to %2 characters; \"%3\" has %4")
                        .arg(AccountRules::MinHandleLength)
                        .arg(AccountRules::MaxHandleLength)
                        .arg(handle)
                        .arg(handle.size()));
    const auto left = parseNumber(options.value("mouth-left", "0"), -32768, 32767);
    const auto top = parseNumber(options.value("mouth-top", "0"), -32768, 32767);
    if (!left || !top)
        return fail(QStringLiteral("--mouth-left and --mouth-top must be 16-bit numbers"));
    const QString avatar = options.value("avatar");
    if (!avatar.isEmpty()) {
        const QFileInfo info(avatar);
        if (!info.isFile() || !info.isReadable())
            return fail(QStringLiteral("cannot read the avatar file %1").arg(avatar));
        if (info.size() > AccountRules::MaxAvatarSize)
            return fail(QStringLiteral("the avatar file is larger than %1 bytes").arg(AccountRules::MaxAvatarSize));
    }
    Confabo confabo;
    const bool ok = confabo.Register(handle, SkipJack::EncipherPassword(options.value("password")),
        options.value("email"), avatar, int16_t(*left), int16_t(*top));
    if (!ok) {
        const QString failure = ServiceChannel::current().lastFailure;
        if (!failure.isEmpty())
            return fail(
                QStringLiteral("cannot reach the service at %1: %2").arg(ServiceChannel::current().server, failure), 1);
        return fail(QStringLiteral("the service refused the handle \"%1\" (taken, or not allowed)").arg(handle), 1);
    }
    writeJsonLine({{"result", "register"}, {"ok", true}, {"handle", handle}});
    return 0;
}

// The write end of the pipe that carries a stop signal into the event loop.
int stopSignalWriter = -1;

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(stopSignalWriter, &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that the session signs out (and a call hangs up and
// its recording is written) as after "quit"; false when the pipe for them cannot be made.
bool quitOnStopSignals()
{
    int pipe[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipe) != 0)
        return false;
    stopSignalWriter = pipe[1];
    struct sigaction action { };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    auto* notifier = new QSocketNotifier(pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    return true;
}

int runSession(const CliOptions& options)
{
    const QString status = options.value("status", "available");
    if (status != QLatin1String("available") && status != QLatin1String("busy"))
        return fail(QStringLiteral("--status must be available or busy"));

    if (!quitOnStopSignals())
        return fail(QStringLiteral("cannot create the signal pipe"), 1);
    CliSession session;
    QString error;
    if (!session.setCallOptions(options, error))
        return fail(error);
    if (!session.signIn(options))
        return 1;

    // Standard input is read on its own thread; each line is handled on the library's thread.
    // The reader may still be blocked in a read when the session ends, so it posts only while
    // the application is known to be alive.
    struct ReaderState {
        std::mutex mutex;
        bool open = true;
    };
    auto state = std::make_shared<ReaderState>();
    auto* app = QCoreApplication::instance();
    const auto post = [state, app](std::function<void()> call) {
        std::lock_guard lock(state->mutex);
        if (state->open)
            QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
    };
    std::thread([post, &session] {
        std::string line;
        while (std::getline(std::cin, line)) {
            const QString text = QString::fromStdString(line);
            post([&session, text] {
                if (!session.handle(text))
                    QCoreApplication::quit();
            });
        }
        post([] { QCoreApplication::quit(); });
    }).detach();
    QCoreApplication::exec();
    {
        std::lock_guard lock(state->mutex);
        state->open = false;
    }
    session.signOut();
    return 0;
}

int runBot(const CliOptions& options)
{
    if (!quitOnStopSignals())
        return fail(QStringLiteral("cannot create the signal pipe"), 1);
    EchoBot bot;
    if (!bot.start(options))
        return 1;
    QCoreApplication::exec();
    bot.signOut();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))
        || arguments.value(0) == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    QString error;
    const auto options = CliOptions::parse(arguments, error);
    if (!options) {
        std::fprintf(stderr, "confabo-cli: %s\n%s", qUtf8Printable(error), Usage);
        return 2;
    }
    if (!applyStoreOptions(*options, error))
        return fail(error);
    try {
        if (options->command == QLatin1String("register"))
            return runRegister(*options);
        return options->command == QLatin1String("bot") ? runBot(*options) : runSession(*options);
    } catch (const ConfaboError& e) {
        return fail(e.description(), 1);
    }
}
