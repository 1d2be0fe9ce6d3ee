// confabo-service serving HTTPS: its certificate and key come from PEM files, which SIGHUP reads
// again for new connections while the open ones carry on with the pair they started with.
#include "ServiceClient.h"
#include "ServiceProcess.h"
#include "TestAuthority.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int TimeoutMs = 10000;
const QStringList LoopbackNames = {u"IP:127.0.0.1"_s};

// One TLS connection to the service, kept alive across requests (HTTP/1.1).
class TlsConnection {
public:
    explicit TlsConnection(quint16 port)
    {
        // Which certificate comes is what these tests look at; the library's tests check trust.
        socket_.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket_.connectToHostEncrypted(u"127.0.0.1"_s, port);
        encrypted_ = socket_.waitForEncrypted(TimeoutMs);
    }

    bool encrypted() const { return encrypted_; }
    QString commonName() const { return socket_.peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0); }

    void send(const QByteArray& bytes)
    {
        socket_.write(bytes);
        socket_.waitForBytesWritten(TimeoutMs);
    }

    // One answer: its head, then as many body bytes as its Content-Length gives.
    ServiceReply reply()
    {
        ServiceReply reply;
        qsizetype headEnd = -1;
        qsizetype length = -1;
        while (length < 0 || buffer_.size() < headEnd + 4 + length) {
            if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(TimeoutMs))
                return reply;
            buffer_ += socket_.readAll();
            headEnd = buffer_.indexOf("\r\n\r\n");
            if (headEnd >= 0 && length < 0) {
                const QByteArray head = buffer_.left(headEnd).toLower();
                const qsizetype field = head.indexOf("content-length:");
                length
                    = field < 0 ? 0 : head.mid(field + 15, head.indexOf('\r', field) - field - 15).trimmed().toLong();
            }
        }
        reply.headers = buffer_.left(headEnd);
        reply.status = reply.headers.mid(9, 3).toInt();
        reply.body = buffer_.mid(headEnd + 4, length);
        buffer_.remove(0, headEnd + 4 + length);
        return reply;
    }

    static QByteArray request(const QByteArray& body)
    {
        return "POST /cfb_maint.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }

private:
    QSslSocket socket_;
    QByteArray buffer_;
    bool encrypted_ = false;
};

// Puts the issued pair where the service reads it, as an ACME client's renewal does.
bool install(const TestAuthority::Issued& issued, const QString& certificateFile, const QString& keyFile)
{
    QFile::remove(certificateFile);
    QFile::remove(keyFile);
    return QFile::copy(issued.certificateFile, certificateFile) && QFile::copy(issued.keyFile, keyFile);
}

} // namespace

TEST(ServiceTls, SighupServesTheRenewedCertificateToNewConnectionsWhileOpenOnesFinish)
{
    if (!TestAuthority::toolAvailable())
        GTEST_SKIP() << "openssl is not installed (scripts/install-deps installs it)";
    TestAuthority authority;
    ASSERT_TRUE(authority.isValid()) << authority.errorText().toStdString();
    QTemporaryDir dir;
    const QString certificateFile = dir.filePath(u"fullchain.pem"_s);
    const QString keyFile = dir.filePath(u"privkey.pem"_s);
    ASSERT_TRUE(install(authority.issue(u"first"_s, LoopbackNames), certificateFile, keyFile));
    ServiceProcess service(ServiceProcess::tlsArguments(certificateFile, keyFile));
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();

    // A connection kept alive from before the renewal: one request answered, the next half sent.
    TlsConnection open(service.port());
    ASSERT_TRUE(open.encrypted());
    EXPECT_EQ(open.commonName(), u"first"_s);
    open.send(TlsConnection::request(formBody({{"mode", u"USER_INSERT"_s}, {"handle", u"Amelia"_s},
        {"password", u"0123456789ABCDEF"_s}, {"email", {}}, {"mouth_top", u"0"_s}, {"mouth_left", u"0"_s}})));
    const ServiceReply registered = open.reply();
    ASSERT_EQ(registered.status, 200);
    const QString amy = registered.text("/body");
    ASSERT_GT(amy.toInt(), 0);
    const QByteArray slow = TlsConnection::request(
        formBody({{"mode", u"LOGIN"_s}, {"handle", u"Amelia"_s}, {"password", u"0123456789ABCDEF"_s}, {"ip", {}}}));
    open.send(slow.left(slow.size() / 2));

    ASSERT_TRUE(install(authority.issue(u"second"_s, LoopbackNames), certificateFile, keyFile));
    EXPECT_TRUE(service.reloadCertificate().startsWith(u"reloaded the TLS certificate: CN=second"_s));

    TlsConnection next(service.port());
    ASSERT_TRUE(next.encrypted());
    EXPECT_EQ(next.commonName(), u"second"_s);
    next.send(TlsConnection::request(formBody({{"mode", u"USER_INFO"_s}, {"user_id", amy}})));
    EXPECT_EQ(next.reply().status, 200);

    open.send(slow.mid(slow.size() / 2));
    const ServiceReply signedIn = open.reply();
    EXPECT_EQ(signedIn.status, 200);
    EXPECT_EQ(signedIn.text("/body/user_id"), amy);
    EXPECT_EQ(open.commonName(), u"first"_s);

    // A botched renewal (a new certificate beside the old key, or no file at all) keeps the pair
    // in use and says why.
    const TestAuthority::Issued third = authority.issue(u"third"_s, LoopbackNames);
    QFile::remove(certificateFile);
    ASSERT_TRUE(QFile::copy(third.certificateFile, certificateFile));
    const QString mismatch = service.reloadCertificate();
    EXPECT_TRUE(mismatch.startsWith(u"kept the previous TLS certificate"_s)) << mismatch.toStdString();
    EXPECT_TRUE(mismatch.contains(u"is not the one of the certificate"_s)) << mismatch.toStdString();
    QFile::remove(keyFile);
    EXPECT_TRUE(service.reloadCertificate().startsWith(u"kept the previous TLS certificate: cannot read"_s));
    TlsConnection after(service.port());
    ASSERT_TRUE(after.encrypted());
    EXPECT_EQ(after.commonName(), u"second"_s);
}

TEST(ServiceTls, CertificateOptionsAreCheckedAtStart)
{
    if (!TestAuthority::toolAvailable())
        GTEST_SKIP() << "openssl is not installed (scripts/install-deps installs it)";
    TestAuthority authority;
    ASSERT_TRUE(authority.isValid()) << authority.errorText().toStdString();
    const TestAuthority::Issued one = authority.issue(u"one"_s, LoopbackNames);
    const TestAuthority::Issued other = authority.issue(u"other"_s, LoopbackNames);
    QTemporaryDir dir;
    const QString db = dir.filePath(u"x.db"_s);
    QString errors;
    const auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.start(ServiceProcess::binaryPath(), arguments + QStringList{u"--db"_s, db, u"--listen"_s, u"127.0.0.1:0"_s});
        if (!p.waitForFinished(TimeoutMs)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        errors = QString::fromUtf8(p.readAllStandardError());
        return p.exitCode();
    };
    EXPECT_EQ(run({u"--tls-cert"_s, one.certificateFile}), 2);
    EXPECT_TRUE(errors.contains(u"--tls-cert and --tls-key go together"_s)) << errors.toStdString();
    EXPECT_EQ(run({u"--tls-key"_s, one.keyFile}), 2);
    EXPECT_EQ(run(ServiceProcess::tlsArguments(one.certificateFile, dir.filePath(u"missing.pem"_s))), 1);
    EXPECT_TRUE(errors.contains(u"cannot serve HTTPS: cannot read"_s)) << errors.toStdString();
    EXPECT_EQ(run(ServiceProcess::tlsArguments(one.certificateFile, other.keyFile)), 1);
    EXPECT_EQ(run(ServiceProcess::tlsArguments(one.keyFile, one.keyFile)), 1) << "a key is no certificate";
}
