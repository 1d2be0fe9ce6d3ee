#include "ServiceProcess.h"

#include <QDeadlineTimer>

#include <csignal>

#include <sys/prctl.h>

#include <csignal>

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 5000;

} // namespace

ServiceProcess::ServiceProcess(const QStringList& extraArguments, const QString& database)
    : extraArguments_(extraArguments)
    , database_(database)
{
    start();
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

QString ServiceProcess::binaryPath()
{
#ifdef CONFABO_SERVICE_BINARY
    return QStringLiteral(CONFABO_SERVICE_BINARY);
#else
    return {};
#endif
}

QString ServiceProcess::databasePath() const
{
    return database_.isEmpty() ? dir_.filePath(QStringLiteral("confabo.db")) : database_;
}

QStringList ServiceProcess::tlsArguments(const QString& certificateFile, const QString& keyFile)
{
    return {QStringLiteral("--tls-cert"), certificateFile, QStringLiteral("--tls-key"), keyFile};
}

bool ServiceProcess::secure() const
{
    return extraArguments_.contains(QStringLiteral("--tls-cert"));
}

QString ServiceProcess::serverSetting() const
{
    return (secure() ? QStringLiteral("https://") : QString()) + host_ + u':' + QString::number(port_);
}

bool ServiceProcess::isRunning() const
{
    return process_ && process_->state() == QProcess::Running && port_ != 0;
}

bool ServiceProcess::start()
{
    error_.clear();
    port_ = 0;
    if (binaryPath().isEmpty() || !dir_.isValid()) {
        error_ = QStringLiteral("confabo-service is not part of this build");
        return false;
    }
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel); // its errors reach the test log
    // A test that ends the whole process (a client's exit path, a crash, a timeout's kill) must
    // not leave its service running.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QStringList arguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"),
        databasePath(), QStringLiteral("--quiet")};
    arguments += extraArguments_;
    process_->start(binaryPath(), arguments);

    // The service prints "listening on HOST:PORT" once it accepts connections.
    static const QRegularExpression listening(QStringLiteral("^listening on (.+):(\\d+)$"));
    const QRegularExpressionMatch match = waitForLine(listening, StartTimeoutMs);
    if (match.hasMatch()) {
        host_ = match.captured(1);
        port_ = quint16(match.captured(2).toUInt());
        return true;
    }
    error_ = QStringLiteral("confabo-service did not start: ") + process_->errorString();
    stop();
    return false;
}

QRegularExpressionMatch ServiceProcess::waitForLine(const QRegularExpression& pattern, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (process_ && !deadline.hasExpired()) {
        if (!process_->canReadLine() && !process_->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        while (process_->canReadLine()) {
            QRegularExpressionMatch match = pattern.match(QString::fromUtf8(process_->readLine()).trimmed());
            if (match.hasMatch())
                return match;
        }
    }
    return {};
}

QString ServiceProcess::reloadCertificate()
{
    if (!isRunning())
        return {};
    ::kill(pid_t(process_->processId()), SIGHUP);
    static const QRegularExpression answer(QStringLiteral("^(reloaded|kept) .*"));
    return waitForLine(answer, StartTimeoutMs).captured(0);
}

bool ServiceProcess::stop()
{
    if (!process_)
        return false;
    bool clean = false;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (process_->waitForFinished(StopTimeoutMs)) {
            clean = process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
        } else {
            process_->kill();
            process_->waitForFinished(StopTimeoutMs);
        }
    }
    process_.reset();
    port_ = 0;
    return clean;
}

bool ServiceProcess::restart()
{
    stop();
    return start();
}

bool ServiceProcess::killAndRestart()
{
    if (process_) {
        process_->kill();
        process_->waitForFinished(StopTimeoutMs);
        process_.reset();
    }
    return start();
}
