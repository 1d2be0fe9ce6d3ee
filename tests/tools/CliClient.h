#pragma once

// A headless client driven through its standard input and output, for the end-to-end tests.
#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>

class CliClient {
public:
    // With an address the client binds its data port there and gives it to the service; with a
    // published address too, the service hands that one to buddies instead.
    CliClient(const QString& handle, const QString& configDir, const QString& server, int dataPort,
        const QString& address = QString(), const QString& published = QString())
        : handle_(handle)
        , configDir_(configDir)
        , server_(server)
        , dataPort_(dataPort)
        , address_(address)
        , published_(published)
    {
    }

    QStringList common() const
    {
        QStringList options{"--config-dir", configDir_, "--server", server_, "--data-port", QString::number(dataPort_)};
        if (!address_.isEmpty())
            options << "--data-address" << address_;
        return options;
    }

    // Runs a one-shot command and returns its exit code.
    int run(const QStringList& arguments, QByteArray* out = nullptr, QByteArray* err = nullptr)
    {
        QProcess p;
        p.start(CONFABO_CLI_BINARY, arguments + common());
        p.closeWriteChannel();
        if (!p.waitForFinished(20000))
            return -1;
        if (out)
            *out = p.readAllStandardOutput();
        if (err)
            *err = p.readAllStandardError();
        return p.exitCode();
    }

    // Options the session gets beside the usual ones (--downloads DIR, say).
    void addSessionOptions(const QStringList& options) { sessionOptions_ << options; }

    bool startSession()
    {
        QStringList arguments{"session", "--handle", handle_, "--password", "pw-" + handle_};
        arguments << sessionOptions_;
        if (!published_.isEmpty())
            arguments << "--hostname" << published_;
        else if (address_.isEmpty())
            arguments << "--hostname"
                      << "127.0.0.1";
        session_.start(CONFABO_CLI_BINARY, arguments + common());
        return session_.waitForStarted(5000) && waitFor("signed_in").contains("event");
    }

    // The echo bot under this client's handle, password and settings, in place of a session.
    bool startBot()
    {
        session_.start(CONFABO_CLI_BINARY, QStringList{"bot", "--handle", handle_, "--password", "pw-" + handle_} + common());
        return session_.waitForStarted(5000) && waitFor("signed_in").contains("event");
    }

    void say(const QByteArray& line)
    {
        session_.write(line + "\n");
        session_.waitForBytesWritten(5000); // QProcess writes only while it is waited on
    }

    // The next line of output whose "event" or "result" is `kind`, waiting at most 10 s (or
    // ms); lines of other kinds are kept in seen().
    QJsonObject waitFor(const QString& kind, int ms = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            while (session_.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(session_.readLine()).object();
                seen_.append(o);
                if (o.value("event").toString() == kind || o.value("result").toString() == kind)
                    return o;
            }
            session_.waitForReadyRead(100);
        }
        return {};
    }

    // Everything the session wrote, after waiting `ms` for more.
    QList<QJsonObject> drain(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        do {
            session_.waitForReadyRead(50);
            while (session_.canReadLine())
                seen_.append(QJsonDocument::fromJson(session_.readLine()).object());
        } while (timer.elapsed() < ms);
        return seen_;
    }

    int quit()
    {
        say("quit");
        session_.closeWriteChannel();
        session_.waitForFinished(10000);
        return session_.exitStatus() == QProcess::NormalExit ? session_.exitCode() : -1;
    }

    // Ends the session at once, as a crash or a pulled cable would: no sign-out, no goodbye.
    void kill()
    {
        session_.kill();
        session_.waitForFinished(5000);
    }

    // Stops a bot as systemd does; its exit code, or -1 when it did not end by itself.
    int terminate()
    {
        session_.terminate();
        session_.waitForFinished(10000);
        return session_.exitStatus() == QProcess::NormalExit ? session_.exitCode() : -1;
    }

    int port() const { return dataPort_; }
    qint64 pid() const { return session_.processId(); }
    QList<QJsonObject>& seen() { return seen_; }

private:
    QString handle_, configDir_, server_;
    int dataPort_;
    QString address_;
    QString published_;
    QStringList sessionOptions_;
    QProcess session_;
    QList<QJsonObject> seen_;
};

inline int count(const QList<QJsonObject>& lines, const QString& event)
{
    return int(
        std::count_if(lines.begin(), lines.end(), [&](const QJsonObject& o) { return o.value("event") == event; }));
}

// Registers a handle for a test user (its password "pw-" + handle); true when the service took it.
inline bool registerAs(CliClient& client, const QString& handle)
{
    return client.run({"register", "--handle", handle, "--password", "pw-" + handle, "--email", handle + "@example.org"})
        == 0;
}

// Registers both and signs them in (unless their sessions run already), makes each the other's
// buddy and looks them up, so that each knows the other's key; false with the step that failed.
inline bool meet(CliClient& a, const QString& aHandle, CliClient& b, const QString& bHandle, bool started = false)
{
    if (!started && !(registerAs(a, aHandle) && registerAs(b, bHandle) && a.startSession() && b.startSession()))
        return false;
    a.say("add " + bHandle.toUtf8());
    b.say("add " + aHandle.toUtf8());
    if (!a.waitFor("add").value("ok").toBool() || !b.waitFor("add").value("ok").toBool())
        return false;
    a.say("buddies");
    b.say("buddies");
    return !a.waitFor("buddies").isEmpty() && !b.waitFor("buddies").isEmpty();
}
