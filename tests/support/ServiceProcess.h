#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Runs the built confabo-service for a test: a temporary SQLite database unless given another
// (a file name or a postgresql:// URI), a free port on 127.0.0.1, request logging off, HTTPS when
// the extra arguments give --tls-cert and --tls-key (tlsArguments() makes them). The
// constructor waits (bounded) until the service accepts connections and fails the test's
// expectations (isRunning() false, errorText() set) when it does not. The service is stopped
// when the object goes.
class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList& extraArguments = {}, const QString& database = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool isRunning() const;
    QString errorText() const { return error_; }

    QString host() const { return host_; }
    quint16 port() const { return port_; }
    // For the CFBSERVER setting: "127.0.0.1:PORT", or "https://127.0.0.1:PORT" over TLS.
    QString serverSetting() const;
    bool secure() const;
    QString databasePath() const; // the file or URI given to --db

    // Stops the service and starts it again on the same database (on a new port); false when it
    // does not come back.
    bool restart();
    // The same after SIGKILL: what it had answered must still be there.
    bool killAndRestart();
    // Stops it with SIGTERM; true when it ended by itself with exit code 0.
    bool stop();
    // Sends SIGHUP and returns the service's answer (bounded wait): the line saying it took the
    // certificate files anew ("reloaded ...") or kept the previous pair ("kept ..."); empty when
    // none came.
    QString reloadCertificate();

    static QString binaryPath();
    static QStringList tlsArguments(const QString& certificateFile, const QString& keyFile);

private:
    bool start();
    // The next line of the service's standard output that matches, within the time; empty when
    // none.
    QRegularExpressionMatch waitForLine(const QRegularExpression& pattern, int timeoutMs);

    QTemporaryDir dir_;
    QStringList extraArguments_;
    QString database_;
    std::unique_ptr<QProcess> process_;
    QString host_;
    quint16 port_ = 0;
    QString error_;
};
