// Whether one client can starve the others, measured on the built confabo-service:
//  - USER_INFO latency (median, 90th and 99th percentile; one request per connection, as the
//    clients send them, from 127.0.0.2) while the service is quiet and while 64 connections from
//    127.0.0.1 flood it with wrong-password sign-ins (wrk), in the same run. Once with the
//    default limits, once with the per-address limits lifted so every sign-in reaches the
//    hashing pool and only its bounded queue stands between the flood and the lookups; and, for
//    reference, the same flood of lookups that hash nothing.
//  - The service's CPU time for a multipart request of 262,143 hyphens with boundary=-, against
//    the same body with an ordinary boundary.
// Ratios are against the reference measured in the same run. CONFABO_BENCH_SERVICE names another
// build of the service to measure instead, e.g. an older commit's (rounds that pass options it
// does not know report that it did not start).

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int FloodConnections = 64;
const int FloodSeconds = qEnvironmentVariableIntValue("CONFABO_BENCH_SECONDS") > 0
    ? qEnvironmentVariableIntValue("CONFABO_BENCH_SECONDS") + 3
    : 8;

// One request on a connection of its own from `from`; the reply body, empty on any failure.
QByteArray exchange(quint16 port, const QByteArray& request, const char* from = "127.0.0.1")
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    QByteArray reply;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
        && connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
        for (qsizetype sent = 0; sent < request.size();) {
            const ssize_t n = send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, n);
    }
    close(fd);
    const qsizetype split = reply.indexOf("\r\n\r\n");
    return split < 0 ? QByteArray() : reply.mid(split + 4);
}

QByteArray request(const QByteArray& body, const QByteArray& type = "application/x-www-form-urlencoded")
{
    return "POST /cfb_maint.asp HTTP/1.0\r\nContent-Type: " + type
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A confabo-service on a free port with a database of its own.
class Service {
public:
    Service(const QString& database, const QStringList& options)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(qEnvironmentVariable("CONFABO_BENCH_SERVICE", QStringLiteral(CONFABO_SERVICE_BINARY)),
            QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"), database,
                QStringLiteral("--quiet")}
                + options);
        static const QRegularExpression listening(QStringLiteral(R"(^listening on .+:(\d+)$)"));
        for (int i = 0; i < 100 && !port_; ++i) {
            while (process_.canReadLine() && !port_) {
                const auto m = listening.match(QString::fromUtf8(process_.readLine()).trimmed());
                if (m.hasMatch())
                    port_ = quint16(m.captured(1).toUInt());
            }
            if (!port_)
                process_.waitForReadyRead(100);
        }
    }
    ~Service()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    quint16 port() const { return port_; }

    // CPU time of the service's threads so far, in seconds (the scheduler's nanosecond count).
    double cpuSeconds() const
    {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(process_.processId());
        double total = 0;
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(tasks + u'/' + task + QStringLiteral("/schedstat"));
            if (stat.open(QIODevice::ReadOnly))
                total += double(stat.readAll().split(' ').value(0).toLongLong()) / 1e9;
        }
        return total;
    }

private:
    QProcess process_;
    quint16 port_ = 0;
};

struct Latencies {
    double median = 0, p90 = 0, p99 = 0;
    size_t samples = 0;
    size_t failures = 0;
};

// USER_INFO requests one after another until `until`, at most `most` of them.
Latencies measureLookups(quint16 port, const QByteArray& info, Clock::time_point until, size_t most)
{
    std::vector<double> ms;
    size_t failures = 0;
    const QByteArray bytes = request(info);
    while (Clock::now() < until && ms.size() < most) {
        const auto start = Clock::now();
        const QByteArray reply = exchange(port, bytes, "127.0.0.2");
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!reply.contains("<status>"))
            ++failures;
    }
    std::sort(ms.begin(), ms.end());
    Latencies l;
    l.samples = ms.size();
    l.failures = failures;
    if (!ms.empty()) {
        const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
        l.median = at(0.5);
        l.p90 = at(0.9);
        l.p99 = at(0.99);
    }
    return l;
}

const QByteArray WrongSignIn = "mode=LOGIN&handle=benchuser&password=WRONGWRONGWRONG0&ip=";
const QByteArray LookUpNobody = "mode=USER_INFO&user_id=999999";

QString writeFloodScript(const QString& dir, const QByteArray& body)
{
    QFile file(dir + QStringLiteral("/flood.lua"));
    file.open(QIODevice::WriteOnly);
    file.write("wrk.method = \"POST\"\nwrk.body = \"" + body + "\"\n");
    file.write(R"lua(wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["Connection"] = "close"
)lua");
    return file.fileName();
}

void printLatencies(const char* name, const Latencies& l, const Latencies& quiet)
{
    std::printf("  %-40s median %7.2f ms  p90 %7.2f ms  p99 %7.2f ms  (%zu samples, %zu failed)  p90 %6.2fx quiet\n",
        name, l.median, l.p90, l.p99, l.samples, l.failures, quiet.p90 > 0 ? l.p90 / quiet.p90 : 0.0);
}

bool floodRound(const QTemporaryDir& dir, const char* name, const QStringList& options, const QByteArray& flood)
{
    Service service(dir.filePath(QStringLiteral("%1.db").arg(QString::fromLatin1(name).left(8))), options);
    if (!service.port()) {
        std::fprintf(stderr, "confabo-service did not start\n");
        return false;
    }
    exchange(service.port(),
        request("mode=USER_INSERT&handle=benchuser&password=0123456789ABCDEF&email=&mouth_top=0&mouth_left=0"),
        "127.0.0.2");
    const QByteArray signedIn
        = exchange(service.port(), request("mode=LOGIN&handle=benchuser&password=0123456789ABCDEF&ip="), "127.0.0.2");
    const auto id
        = QRegularExpression(QStringLiteral("<user_id>(\\d+)</user_id>")).match(QString::fromLatin1(signedIn));
    if (!id.hasMatch()) {
        std::fprintf(stderr, "cannot sign in: %s\n", signedIn.constData());
        return false;
    }
    const QByteArray info = "mode=USER_INFO&user_id=" + id.captured(1).toLatin1();

    std::printf("%s\n", name);
    exchange(service.port(), request(info), "127.0.0.2"); // warm the reader connection
    const Latencies quiet = measureLookups(service.port(), info, Clock::now() + std::chrono::seconds(3), 3000);
    printLatencies("USER_INFO, quiet", quiet, quiet);

    QProcess wrk;
    wrk.start(QStringLiteral("wrk"),
        {QStringLiteral("-t2"), QStringLiteral("-c%1").arg(FloodConnections), QStringLiteral("-d%1s").arg(FloodSeconds),
            QStringLiteral("-s"), writeFloodScript(dir.path(), flood),
            QStringLiteral("http://127.0.0.1:%1/cfb_maint.asp").arg(service.port())});
    if (!wrk.waitForStarted(5000)) {
        std::fprintf(stderr, "wrk did not start\n");
        return false;
    }
    const auto floodStart = Clock::now();
    const double cpuBefore = service.cpuSeconds();
    // Sample once the flood runs, and stop a second before it ends.
    const auto begin = floodStart + std::chrono::seconds(1);
    while (Clock::now() < begin)
        exchange(service.port(), request(info), "127.0.0.2");
    const Latencies flooded
        = measureLookups(service.port(), info, floodStart + std::chrono::seconds(FloodSeconds - 1), 100000);
    wrk.waitForFinished((FloodSeconds + 30) * 1000);
    const double cpu = service.cpuSeconds() - cpuBefore;
    const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
    const auto rate = QRegularExpression(QStringLiteral(R"(Requests/sec:\s+([\d.]+))")).match(out);
    printLatencies("USER_INFO, during the flood", flooded, quiet);
    std::printf("  flood: %d connections, %s requests/s answered, service CPU %.1f s in %d s\n", FloodConnections,
        rate.hasMatch() ? qPrintable(rate.captured(1)) : "?", cpu, FloodSeconds);
    return true;
}

bool multipartRound(const QTemporaryDir& dir)
{
    Service service(dir.filePath(QStringLiteral("multipart.db")), {});
    if (!service.port())
        return false;
    const QByteArray hyphens(262143, '-');
    constexpr int Requests = 200;
    std::printf("multipart body of 262,143 hyphens, %d requests each\n", Requests);
    double reference = 0;
    for (const QByteArray& boundary : {QByteArray("x"), QByteArray("-")}) {
        const QByteArray bytes = request(hyphens, "multipart/form-data; boundary=" + boundary);
        const double before = service.cpuSeconds();
        const auto start = Clock::now();
        for (int i = 0; i < Requests; ++i)
            exchange(service.port(), bytes);
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / Requests;
        const double cpu = (service.cpuSeconds() - before) * 1000.0 / Requests;
        if (reference == 0)
            reference = cpu;
        std::printf("  boundary=%s  service CPU %.2f ms/request  wall %.2f ms/request  %.2fx boundary=x\n",
            boundary.constData(), cpu, wall, reference > 0 ? cpu / reference : 0.0);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    bool ok = true;
    if (only.isEmpty() || only == u"flood") {
        const QStringList lifted{QStringLiteral("--connections-per-address"), QStringLiteral("10000"),
            QStringLiteral("--sign-in-burst"), QStringLiteral("1000000"), QStringLiteral("--sign-in-rate"),
            QStringLiteral("1000000")};
        ok &= floodRound(dir,
            "wrong-password sign-in flood, default limits (30 sign-ins at once and 30 a minute per address, 32 "
            "connections per address)",
            {}, WrongSignIn);
        ok &= floodRound(dir,
            "wrong-password sign-in flood, per-address limits lifted: every sign-in reaches the hashing pool", lifted,
            WrongSignIn);
        ok &= floodRound(dir, "reference: a flood of lookups of nobody (no hashing at all), per-address limits lifted",
            lifted, LookUpNobody);
    }
    if (only.isEmpty() || only == u"multipart")
        ok &= multipartRound(dir);
    return ok ? 0 : 1;
}
