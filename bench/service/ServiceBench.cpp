// Load benchmark of confabo-service against nginx serving the same reply bytes as static files,
// both on this machine in the same run. wrk drives both: one request per connection (as the
// library makes its requests) and keep-alive. The service runs on SQLite, on PostgreSQL (a
// throw-away server of its own) as one instance, and as two instances sharing that database,
// each taking half the connections; and over HTTPS (the service's own TLS against nginx's, the same
// certificate, presence lookups only). Prints requests per second, the ratio to nginx and the 99th
// percentile latency of the median of a few rounds, and the sign-in (argon2id) rate on its own.
// Then the mailboxes: threads that each leave a sealed-sized line for a buddy, take it as the
// buddy and acknowledge it, one request per connection as the library makes them, beside
// USER_INFO made the same way, on SQLite and PostgreSQL.

#include "PostgresServer.h"
#include "TestAuthority.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

const int Seconds = qEnvironmentVariableIntValue("CONFABO_BENCH_SECONDS") > 0
    ? qEnvironmentVariableIntValue("CONFABO_BENCH_SECONDS")
    : 3;
// Each row measures nginx then the service this many times and shows the round with the median
// ratio: on a shared machine a single pair of runs can be off by a third either way.
const int Rounds = qEnvironmentVariableIntValue("CONFABO_BENCH_ROUNDS") > 0
    ? qEnvironmentVariableIntValue("CONFABO_BENCH_ROUNDS")
    : 3;
const int Connections = 32;
// Only the rows whose name contains this text (all when unset), e.g. "UPDATE status, keep-alive".
const QByteArray Only = qgetenv("CONFABO_BENCH_ONLY");
const int Cores = QThread::idealThreadCount();

struct Result {
    double requestsPerSecond = 0;
    double p99Ms = 0;
    long failures = 0; // non-200, empty bodies, socket errors
};

QByteArray post(quint16 port, const QByteArray& body, bool tls = false)
{
    QSslSocket socket;
    if (tls) {
        socket.setPeerVerifyMode(QSslSocket::VerifyNone); // the bench's own throw-away certificate
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForEncrypted(3000))
            return {};
    } else {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(3000))
            return {};
    }
    socket.write("POST /cfb_maint.asp HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    while (socket.waitForReadyRead(5000))
        reply += socket.readAll();
    reply += socket.readAll();
    const qsizetype split = reply.indexOf("\r\n\r\n");
    return split < 0 ? QByteArray() : reply.mid(split + 4);
}

// The wrk script: POST the bodies in turn, each request the next; count every answer that is not a
// 200 with content. Each wrk thread (of all the wrk processes of a row) takes turns over a slice of
// the bodies of its own, as each client sends its own requests one after another: no two threads
// ask for one user at once.
QString writeScript(const QString& dir, const QString& name, const QList<QByteArray>& bodies, bool closeEach)
{
    QFile file(dir + u'/' + name + QStringLiteral(".lua"));
    file.open(QIODevice::WriteOnly);
    file.write("wrk.method = \"POST\"\nwrk.body = \"" + bodies.front() + "\"\n");
    file.write("wrk.headers[\"Content-Type\"] = \"application/x-www-form-urlencoded\"\n");
    if (closeEach)
        file.write("wrk.headers[\"Connection\"] = \"close\"\n");
    if (bodies.size() > 1) {
        file.write("local bodies = {\"" + bodies.join("\", \"") + "\"}\n");
        // init's arguments: this wrk's index among the row's, their number, threads in each.
        file.write(R"lua(local first, count, turn = 1, #bodies, 0
function request() turn = turn % count + 1; return wrk.format(nil, nil, nil, bodies[first + turn - 1]) end
function slice(args)
  local threadsEach = tonumber(args[3] or 1)
  local slices = tonumber(args[2] or 1) * threadsEach
  local slot = tonumber(args[1] or 0) * threadsEach + index
  first = math.floor(#bodies * slot / slices) + 1
  count = math.max(1, math.floor(#bodies * (slot + 1) / slices) - first + 1)
end
)lua");
    } else {
        file.write("function slice(args) end\n");
    }
    file.write(R"lua(
local threads = {}
function setup(thread) thread:set("index", #threads); table.insert(threads, thread) end
function init(args) bad = 0; slice(args) end
function response(status, headers, body)
  if status ~= 200 or body == nil or #body == 0 then bad = bad + 1; if bad == 1 then io.stderr:write("first failure: " .. status .. " [" .. tostring(body) .. "]\n") end end
end
function done(summary, latency, requests)
  local total = 0
  for _, t in ipairs(threads) do total = total + t:get("bad") end
  io.write(string.format("BAD %d\nP99US %d\n", total, latency:percentile(99)))
end
)lua");
    return file.fileName();
}

// `process` of `processes`: which wrk of the row this is, for the script's slice of the bodies.
QStringList wrkArguments(quint16 port, bool tls, const QString& path, const QString& script, int threads,
    int connections, int process, int processes)
{
    return {QStringLiteral("-t%1").arg(threads), QStringLiteral("-c%1").arg(connections),
        QStringLiteral("-d%1s").arg(Seconds), QStringLiteral("-s"), script,
        QStringLiteral("%1://127.0.0.1:%2%3").arg(tls ? "https" : "http").arg(port).arg(path), QStringLiteral("--"),
        QString::number(process), QString::number(processes), QString::number(threads)};
}

std::optional<Result> wrkResult(QProcess& wrk)
{
    if (!wrk.waitForFinished((Seconds + 30) * 1000))
        return std::nullopt;
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    if (qEnvironmentVariableIsSet("CONFABO_BENCH_VERBOSE"))
        std::fprintf(stderr, "%s%s\n", qPrintable(out), wrk.readAllStandardError().constData());
    Result r;
    const auto number = [&](const char* pattern) {
        const QRegularExpressionMatch m = QRegularExpression(QLatin1String(pattern)).match(out);
        return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
    };
    r.requestsPerSecond = number(R"(Requests/sec:\s+([\d.]+))");
    r.p99Ms = number(R"(P99US (\d+))") / 1000.0;
    r.failures = long(number(R"(BAD (\d+))"));
    const QRegularExpressionMatch errors
        = QRegularExpression(QStringLiteral(R"(Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+))"))
              .match(out);
    if (errors.hasMatch()) {
        // wrk counts the server's close after a "Connection: close" answer as a read error.
        r.failures += errors.captured(1).toLong() + errors.captured(3).toLong() + errors.captured(4).toLong();
    }
    if (r.requestsPerSecond < 0) {
        std::fprintf(stderr, "wrk said:\n%s\n%s\n", qPrintable(out), wrk.readAllStandardError().constData());
        return std::nullopt;
    }
    return r;
}

// One wrk on one port with two threads; with several ports one single-threaded wrk each, the
// connections split between them, all at once. The rates add up; the p99 is the worst one's.
std::optional<Result> runWrk(
    const std::vector<quint16>& ports, bool tls, const QString& path, const QString& script, int connections)
{
    std::vector<std::unique_ptr<QProcess>> runs;
    const int threads = ports.size() == 1 ? 2 : 1;
    for (const quint16 port : ports) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(QStringLiteral("wrk"),
            wrkArguments(port, tls, path, script, threads, connections / int(ports.size()), int(runs.size() - 1),
                int(ports.size())));
    }
    Result total;
    bool complete = true;
    for (auto& run : runs) {
        const std::optional<Result> r = wrkResult(*run);
        if (!r) {
            complete = false;
            continue;
        }
        total.requestsPerSecond += r->requestsPerSecond;
        total.p99Ms = std::max(total.p99Ms, r->p99Ms);
        total.failures += r->failures;
    }
    return complete ? std::optional<Result>(total) : std::nullopt;
}

bool waitForLine(QProcess& process, const QRegularExpression& pattern, QRegularExpressionMatch& match)
{
    for (int i = 0; i < 100; ++i) {
        while (process.canReadLine()) {
            match = pattern.match(QString::fromUtf8(process.readLine()).trimmed());
            if (match.hasMatch())
                return true;
        }
        process.waitForReadyRead(100);
    }
    return false;
}

bool waitForPort(quint16 port)
{
    for (int i = 0; i < 100; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (probe.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

quint16 freePort()
{
    QTcpSocket probe; // bind to port 0 and read back the port the system chose
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

void stop(QProcess& process)
{
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

void printRow(const QByteArray& name, const Result& service, const Result& nginx)
{
    std::printf("%-58s %10.0f %10.0f %7.2fx %9.2f %9.2f %8ld %8ld\n", name.constData(), service.requestsPerSecond,
        nginx.requestsPerSecond, service.requestsPerSecond / nginx.requestsPerSecond, service.p99Ms, nginx.p99Ms,
        service.failures, nginx.failures);
}

// Starts confabo-service on the database (a file or a postgresql:// URI), with HTTPS when given a
// certificate; its port, or 0.
quint16 startService(QProcess& service, const QString& database, const TestAuthority::Issued& tls = {})
{
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"), database,
        QStringLiteral("--quiet"),
        // wrk plays many clients from one address: lift the per-address limits.
        QStringLiteral("--connections-per-address"), QStringLiteral("10000"), QStringLiteral("--sign-in-burst"),
        QStringLiteral("1000000"), QStringLiteral("--sign-in-rate"), QStringLiteral("1000000"),
        QStringLiteral("--mail-rate"), QStringLiteral("1000000")};
    if (!tls.certificateFile.isEmpty())
        arguments += {QStringLiteral("--tls-cert"), tls.certificateFile, QStringLiteral("--tls-key"), tls.keyFile};
    service.start(QStringLiteral(CONFABO_SERVICE_BINARY), arguments);
    QRegularExpressionMatch listening;
    if (!waitForLine(service, QRegularExpression(QStringLiteral(R"(^listening on .+:(\d+)$)")), listening)) {
        std::fprintf(stderr, "confabo-service did not start on %s\n", qPrintable(database));
        return 0;
    }
    return quint16(listening.captured(1).toUInt());
}

QByteArray login(int user)
{
    return "mode=LOGIN&handle=benchuser" + QByteArray::number(user) + "&password=0123456789ABCDEF&ip=";
}

// A user for each connection, as many clients would be, each signed in from this address so its
// status changes are accepted; their ids, or none.
QList<QByteArray> signInBenchUsers(quint16 port, bool tls = false)
{
    QList<QByteArray> ids;
    for (int user = 0; user < Connections; ++user) {
        post(port,
            "mode=USER_INSERT&handle=benchuser" + QByteArray::number(user)
                + "&password=0123456789ABCDEF&email=bench%40example.org&mouth_top=0&mouth_left=0",
            tls);
        const QByteArray signedIn = post(port, login(user), tls);
        const QRegularExpressionMatch id
            = QRegularExpression(QStringLiteral("<user_id>(\\d+)</user_id>")).match(QString::fromLatin1(signedIn));
        if (!id.hasMatch()) {
            std::fprintf(stderr, "cannot sign in: %s\n", signedIn.constData());
            return {};
        }
        ids.append(id.captured(1).toLatin1());
    }
    return ids;
}

// Requests per second of `threads` threads for Seconds, each request on a connection of its own
// (as the library makes them): USER_INFO of the thread's user, or mail cycles in which the
// thread's user leaves a line for its buddy, who takes it and acknowledges it (three requests).
struct MailRates {
    double info = 0;
    double mail = 0; // requests of the cycles
    long failures = 0;
};

MailRates mailRates(quint16 port, const QList<QByteArray>& ids)
{
    const int pairs = int(ids.size()) / 2;
    for (int p = 0; p < pairs; ++p) // the recipient takes mail from the sender
        post(port, "mode=BUDDY_ADD&handle=benchuser" + QByteArray::number(2 * p) + "&user_id=" + ids[2 * p + 1]);
    const QByteArray sealed = QByteArray(200, 'S').toBase64(); // about what a short line seals to
    const auto run = [&](bool mail) {
        std::atomic<long> requests {0}, failures {0};
        std::vector<std::thread> threads;
        QElapsedTimer clock;
        clock.start();
        for (int p = 0; p < pairs; ++p) {
            threads.emplace_back([&, p] {
                const QByteArray& sender = ids[2 * p];
                const QByteArray& recipient = ids[2 * p + 1];
                for (long n = 0; clock.elapsed() < Seconds * 1000; ++n) {
                    if (!mail) {
                        failures += post(port, "mode=USER_INFO&user_id=" + sender).isEmpty();
                        ++requests;
                        continue;
                    }
                    const QByteArray put = post(port,
                        "mode=MAIL_PUT&user_id=" + sender + "&handle=benchuser" + QByteArray::number(2 * p + 1)
                            + "&mail_id=b" + QByteArray::number(n) + "&sealed=" + sealed.toPercentEncoding());
                    const QByteArray taken = post(port, "mode=MAIL_TAKE&user_id=" + recipient);
                    const QRegularExpressionMatch id
                        = QRegularExpression(QStringLiteral("<id>(\\d+)</id>")).match(QString::fromLatin1(taken));
                    const QByteArray acked = id.hasMatch()
                        ? post(port, "mode=MAIL_ACK&user_id=" + recipient + "&ids=" + id.captured(1).toLatin1())
                        : QByteArray();
                    failures += !put.contains("<stored>1</stored>") + !id.hasMatch() + !acked.contains("<deleted>1");
                    requests += 3;
                }
            });
        }
        for (std::thread& t : threads)
            t.join();
        return std::pair {double(requests) * 1000.0 / double(clock.elapsed()), long(failures)};
    };
    MailRates rates;
    const auto [info, infoFailures] = run(false);
    const auto [mail, mailFailures] = run(true);
    rates.info = info;
    rates.mail = mail;
    rates.failures = infoFailures + mailFailures;
    return rates;
}

// The service as measured in one row: its name, the ports of its instances, and whether it (and
// nginx beside it) speaks HTTPS.
struct Setup {
    const char* name;
    std::vector<quint16> ports;
    bool tls = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // nginx's workers run as another user when started by root: let them read the files.
    const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readable);

    QProcess service;
    const quint16 servicePort = startService(service, dir.filePath("bench.db"));
    if (!servicePort)
        return 1;
    const QList<QByteArray> userIds = signInBenchUsers(servicePort);
    if (userIds.isEmpty())
        return 1;
    QList<QByteArray> info;
    QList<QByteArray> update;
    for (const QByteArray& id : userIds) {
        info.append("mode=USER_INFO&user_id=" + id);
        update.append("mode=USER_UPDATE&user_id=" + id + "&status=1");
    }
    // nginx serves the very bytes the service answers, as static files (the same for every user).
    QDir(dir.path()).mkpath(QStringLiteral("www"));
    QDir(dir.path()).mkpath(QStringLiteral("tmp"));
    for (const auto& [name, body] : {std::pair{"info.xml", info.front()}, std::pair{"update.xml", update.front()}}) {
        QFile file(dir.filePath(QStringLiteral("www/") + QLatin1String(name)));
        file.open(QIODevice::WriteOnly);
        const QByteArray reply = post(servicePort, body);
        if (reply.isEmpty()) {
            std::fprintf(stderr, "no reply to %s\n", body.constData());
            return 1;
        }
        file.write(reply);
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("www")), readable);
    // The HTTPS rows: one certificate from a throw-away authority for the service's TLS and nginx's.
    TestAuthority authority;
    const TestAuthority::Issued certificate
        = authority.issue(QStringLiteral("127.0.0.1"), {QStringLiteral("IP:127.0.0.1")});
    if (certificate.certificateFile.isEmpty()) {
        std::fprintf(stderr, "no certificate for the HTTPS rows: %s\n", qPrintable(authority.errorText()));
        stop(service);
        return 1;
    }
    const quint16 nginxPort = freePort();
    const quint16 nginxTlsPort = freePort();
    QFile config(dir.filePath(QStringLiteral("nginx.conf")));
    config.open(QIODevice::WriteOnly);
    // The HTTPS server speaks TLS as deploy/nginx/confabo.conf does.
    config.write(QStringLiteral(R"(worker_processes %1;
pid %2/nginx.pid;
error_log %2/error.log crit;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path %2/tmp; proxy_temp_path %2/tmp; fastcgi_temp_path %2/tmp;
  uwsgi_temp_path %2/tmp; scgi_temp_path %2/tmp;
  default_type "text/xml; charset=windows-1252";
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:%3 backlog=4096;
    listen 127.0.0.1:%4 ssl backlog=4096;
    ssl_certificate %5;
    ssl_certificate_key %6;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305;
    ssl_prefer_server_ciphers off;
    ssl_session_cache shared:bench:10m;
    ssl_session_timeout 1d;
    ssl_session_tickets off;
    root %2/www;
    # Static files answer only GET; the same file for a POST, as the service's reply.
    error_page 405 =200 $uri;
  }
}
)")
                     .arg(Cores)
                     .arg(dir.path())
                     .arg(nginxPort)
                     .arg(nginxTlsPort)
                     .arg(certificate.certificateFile, certificate.keyFile)
                     .toUtf8());
    config.close();
    QProcess nginx;
    nginx.start(QStringLiteral("/usr/sbin/nginx"),
        {QStringLiteral("-p"), dir.path(), QStringLiteral("-c"), config.fileName(), QStringLiteral("-e"),
            dir.filePath(QStringLiteral("error.log")), QStringLiteral("-g"), QStringLiteral("daemon off;")});
    if (!waitForPort(nginxPort) || !waitForPort(nginxTlsPort)) {
        std::fprintf(stderr, "nginx did not start: %s\n", nginx.readAllStandardError().constData());
        stop(service);
        return 1;
    }

    std::vector<Setup> setups{{"SQLite", {servicePort}}};
    // The PostgreSQL instances answer with the same bytes: the same user ids in an empty database.
    PostgresServer postgres;
    QProcess instances[2];
    if (!postgres.isRunning()) {
        std::printf("no PostgreSQL rows: %s\n", qPrintable(postgres.errorText()));
    } else {
        const QString uri = postgres.createDatabase();
        const quint16 first = uri.isEmpty() ? 0 : startService(instances[0], uri);
        const quint16 second = first ? startService(instances[1], uri) : 0;
        if (!second || signInBenchUsers(first) != userIds) {
            std::fprintf(stderr, "the PostgreSQL instances did not start: %s\n", qPrintable(postgres.errorText()));
            stop(nginx);
            return 1;
        }
        setups.push_back({"PostgreSQL x1", {first}});
        setups.push_back({"PostgreSQL x2", {first, second}});
    }
    // A service of its own with the same user ids serves HTTPS (one SQLite file is one service's).
    QProcess tlsService;
    const quint16 tlsPort = startService(tlsService, dir.filePath("bench-tls.db"), certificate);
    if (!tlsPort || signInBenchUsers(tlsPort, true) != userIds) {
        std::fprintf(stderr, "the HTTPS service did not start\n");
        stop(nginx);
        return 1;
    }
    setups.push_back({"SQLite, HTTPS", {tlsPort}, true});

    std::printf("confabo-service against nginx (static file, same reply bytes), %d cores, %d connections, median of %d "
                "rounds of %d s each\n",
        Cores, Connections, Rounds, Seconds);
    std::printf("%-58s %10s %10s %8s %9s %9s %8s %8s\n", "", "service/s", "nginx/s", "ratio", "p99 ms", "nginx p99",
        "failed", "nginx f.");
    int failed = 0;
    // Each request asks for the next user of its wrk thread's own in turn. The last kind has every
    // request change one and the same user: the worst case for a database, which writes each
    // change of that row anew.
    const struct {
        const char* name;
        QList<QByteArray> bodies;
        const char* file;
        bool keptAliveOnly;
    } kinds[] = {{"USER_INFO", info, "/info.xml", false}, {"USER_UPDATE status", update, "/update.xml", false},
        {"USER_UPDATE status of one user", {update.front()}, "/update.xml", true}};
    for (const bool closeEach : {true, false}) {
        for (const auto& [name, body, file, keptAliveOnly] : kinds) {
            if (closeEach && keptAliveOnly)
                continue;
            const QString script = writeScript(
                dir.path(), QString::fromLatin1(name).replace(u' ', u'_') + (closeEach ? "_c" : "_k"), body, closeEach);
            for (const Setup& setup : setups) {
                // TLS costs the same whatever the request: presence lookups, the commonest, show it.
                if (setup.tls && std::strcmp(name, "USER_INFO") != 0)
                    continue;
                const QByteArray row
                    = QByteArray(setup.name) + ", " + name + (closeEach ? ", 1 req/conn" : ", keep-alive");
                if (!Only.isEmpty() && !row.contains(Only))
                    continue;
                // nginx right before the service in each round, so both meet the same load from elsewhere.
                std::vector<std::pair<Result, Result>> rounds; // service, nginx
                for (int round = 0; round < Rounds; ++round) {
                    const auto n = runWrk({setup.tls ? nginxTlsPort : nginxPort}, setup.tls, QString::fromLatin1(file),
                        script, Connections);
                    const auto s
                        = runWrk(setup.ports, setup.tls, QStringLiteral("/cfb_maint.asp"), script, Connections);
                    if (s && n)
                        rounds.emplace_back(*s, *n);
                }
                if (rounds.size() != size_t(Rounds)) {
                    ++failed;
                    continue;
                }
                std::sort(rounds.begin(), rounds.end(), [](const auto& a, const auto& b) {
                    return a.first.requestsPerSecond / a.second.requestsPerSecond
                        < b.first.requestsPerSecond / b.second.requestsPerSecond;
                });
                const auto& [service, nginx] = rounds[rounds.size() / 2];
                printRow(row, service, nginx);
            }
        }
    }

    // Sign-in costs one argon2id verification; few connections, as sign-ins are rare.
    const QString loginScript = writeScript(dir.path(), QStringLiteral("login"), {login(0)}, true);
    const auto l = Only.isEmpty() || QByteArray("LOGIN").contains(Only)
        ? runWrk({servicePort}, false, QStringLiteral("/cfb_maint.asp"), loginScript, Cores)
        : std::nullopt;
    if (l) {
        std::printf("LOGIN (argon2id), 1 req/conn: %.0f sign-ins/s, p99 %.1f ms, failed %ld\n", l->requestsPerSecond,
            l->p99Ms, l->failures);
    }

    // Mailboxes beside presence lookups, the same client for both.
    if (Only.isEmpty() || QByteArray("MAIL").contains(Only)) {
        for (const Setup& setup : setups) {
            if (setup.tls || setup.ports.size() != 1)
                continue;
            const MailRates rates = mailRates(setup.ports.front(), userIds);
            std::printf("%s, %d threads, 1 req/conn: USER_INFO %.0f req/s; MAIL_PUT+MAIL_TAKE+MAIL_ACK %.0f req/s "
                        "(%.0f lines/s through a mailbox); failed %ld\n",
                setup.name, int(userIds.size()) / 2, rates.info, rates.mail, rates.mail / 3, rates.failures);
            if (rates.failures)
                ++failed;
        }
    }

    stop(nginx);
    stop(service);
    stop(tlsService);
    for (QProcess& instance : instances) {
        if (instance.state() != QProcess::NotRunning)
            stop(instance);
    }
    return failed ? 1 : 0;
}
