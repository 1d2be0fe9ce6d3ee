#include "TestAuthority.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

constexpr int OpensslTimeoutMs = 20000;

} // namespace

TestAuthority::TestAuthority(const QString& name)
{
    if (!toolAvailable()) {
        error_ = QStringLiteral("openssl is not installed (scripts/install-deps installs it)");
        return;
    }
    const QString key = newKey(QStringLiteral("authority"));
    if (key.isEmpty())
        return;
    openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new"), QStringLiteral("-key"), key,
        QStringLiteral("-subj"), u"/CN="_s + name, QStringLiteral("-days"), QStringLiteral("30"),
        QStringLiteral("-out"), certificateFile()});
}

bool TestAuthority::toolAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

QString TestAuthority::certificateFile() const
{
    return dir_.filePath(QStringLiteral("authority.crt"));
}

bool TestAuthority::openssl(const QStringList& arguments)
{
    if (!error_.isEmpty())
        return false;
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(OpensslTimeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        error_ = u"openssl "_s + arguments.join(u' ') + u" failed: "_s
            + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

QString TestAuthority::newKey(const QString& name)
{
    const QString key = dir_.filePath(name + u".key"_s);
    if (!openssl({QStringLiteral("genpkey"), QStringLiteral("-algorithm"), QStringLiteral("EC"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-out"), key})
        || !openssl({QStringLiteral("pkey"), QStringLiteral("-in"), key, QStringLiteral("-pubout"),
            QStringLiteral("-out"), dir_.filePath(name + u".pub"_s)}))
        return {};
    return key;
}

TestAuthority::Issued TestAuthority::issue(const QString& commonName, const QStringList& altNames, int days)
{
    const QString name = QStringLiteral("server%1").arg(++issued_);
    const QString key = newKey(name);
    if (key.isEmpty())
        return {};
    QFile extensions(dir_.filePath(name + u".ext"_s));
    if (!extensions.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1").arg(extensions.fileName());
        return {};
    }
    extensions.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName="
        + altNames.join(u',').toUtf8() + '\n');
    extensions.close();
    const QString certificate = dir_.filePath(name + u".crt"_s);
    if (!openssl({QStringLiteral("x509"), QStringLiteral("-new"), QStringLiteral("-subj"), u"/CN="_s + commonName,
            QStringLiteral("-force_pubkey"), dir_.filePath(name + u".pub"_s), QStringLiteral("-CA"), certificateFile(),
            QStringLiteral("-CAkey"), dir_.filePath(QStringLiteral("authority.key")), QStringLiteral("-days"),
            QString::number(days), QStringLiteral("-extfile"), extensions.fileName(), QStringLiteral("-out"),
            certificate}))
        return {};
    return {certificate, key};
}
