// The library over https against the real confabo-service serving TLS with certificates from a
// throw-away authority: what a user does works as over HTTP, and a certificate that must not be
// trusted stops the request with its reason, before anything is sent.
#include "messaging/Confabo.h"
#include "messaging/FormRequest.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"

#include "CaptureServer.h"
#include "ServiceProcess.h"
#include "TempConfig.h"
#include "TestAuthority.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

const QStringList LoopbackNames = {QStringLiteral("IP:127.0.0.1"), QStringLiteral("DNS:localhost")};
const QString Password = QStringLiteral("0123456789ABCDEF");

class SecureChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TestAuthority::toolAvailable())
            GTEST_SKIP() << authority_.errorText().toStdString();
        ASSERT_TRUE(authority_.isValid()) << authority_.errorText().toStdString();
        Settings::ServicePath.write("/cfb_maint.asp");
        Settings::CaFile.write(authority_.certificateFile());
        previous_ = UserNotice::setHandler([](const QString&, const QString&) {});
        saved_ = ServiceChannel::current();
    }
    void TearDown() override
    {
        UserNotice::setHandler(previous_);
        ServiceChannel::current() = saved_;
    }

    // A service presenting this certificate, which the library's settings then point at.
    std::unique_ptr<ServiceProcess> serviceWith(const TestAuthority::Issued& certificate)
    {
        auto service = std::make_unique<ServiceProcess>(
            ServiceProcess::tlsArguments(certificate.certificateFile, certificate.keyFile));
        EXPECT_TRUE(service->isRunning()) << service->errorText().toStdString();
        Settings::ServiceHost.write(service->serverSetting());
        return service;
    }

    QString pngFile(const QString& name, QSize size)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir_.filePath(name);
        image.save(path, "PNG");
        return path;
    }

    TempConfig config_;
    TestAuthority authority_;
    QTemporaryDir dir_;
    UserNotice::Handler previous_;
    ServiceChannel saved_;
};

} // namespace

TEST_F(SecureChannelTest, SignInBuddyLookupAndAvatarUploadOverHttps)
{
    const auto service = serviceWith(authority_.issue("confabo-test", LoopbackNames));
    ASSERT_TRUE(service->isRunning());

    Confabo amy;
    EXPECT_TRUE(ServiceChannel::current().encrypted());
    ASSERT_TRUE(amy.Register("Amelia", Password, "amelia@example.org", pngFile("amy.png", {24, 12})))
        << ServiceChannel::current().lastFailure.toStdString();
    ASSERT_TRUE(amy.Login("Amelia", Password, "10.0.0.1"));
    EXPECT_EQ(amy.Avatar().size(), QSize(24, 12)) << "uploaded at registration, read back at sign-in";

    Confabo bo;
    ASSERT_TRUE(bo.Register("Bonnie", Password, "bonnie@example.org"));
    ASSERT_TRUE(bo.Login("Bonnie", Password, "10.0.0.2"));
    ASSERT_EQ(bo.AddBuddy("amelia@example.org"), "Amelia");
    const auto amySeenByBo = bo.Buddies()->Item("Amelia");
    ASSERT_NE(amySeenByBo, nullptr);
    EXPECT_EQ(amySeenByBo->Status(), CFB_AVAILABLE);
    EXPECT_EQ(amySeenByBo->IPAddress(), "10.0.0.1");

    // A new avatar goes up as the multipart form and comes back byte for byte.
    const QString newAvatar = pngFile("amy2.png", {30, 40});
    ASSERT_TRUE(amy.SetAvatar(newAvatar, 5, 6));
    QFile file(newAvatar);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const XmlDocument stored = FormRequest("USER_AVATAR").add("user_id", amy.userID()).post();
    EXPECT_EQ(stored.selectSingle("/body/avatar").typedValue(), file.readAll());
    EXPECT_TRUE(ServiceChannel::current().lastFailure.isEmpty());
}

TEST_F(SecureChannelTest, UntrustworthyCertificatesAreRefusedWithTheirReason)
{
    TestAuthority stranger(QStringLiteral("Someone Else's Authority"));
    ASSERT_TRUE(stranger.isValid()) << stranger.errorText().toStdString();
    const struct {
        const char* what;
        TestAuthority::Issued certificate;
        const char* reason;
    } cases[] = {
        {"another name", authority_.issue("elsewhere", {QStringLiteral("DNS:elsewhere.example.org")}),
            "name does not match"},
        {"expired", authority_.issue("confabo-test", LoopbackNames, -1), "certificate expired"},
        {"unknown authority", stranger.issue("confabo-test", LoopbackNames), "unknown certificate authority"},
    };
    for (const auto& [what, certificate, reason] : cases) {
        SCOPED_TRACE(what);
        const auto service = serviceWith(certificate);
        ASSERT_TRUE(service->isRunning());
        Confabo amy;
        EXPECT_FALSE(amy.Register("Amelia", Password, "amelia@example.org"));
        EXPECT_TRUE(ServiceChannel::current().lastFailure.startsWith(QLatin1String(reason)))
            << ServiceChannel::current().lastFailure.toStdString();
        EXPECT_FALSE(amy.Login("Amelia", Password));
        EXPECT_TRUE(ServiceChannel::current().lastFailure.startsWith(QLatin1String(reason)));
    }

    // A "CA File" that cannot be read says so, rather than blaming the service.
    const auto service = serviceWith(authority_.issue("confabo-test", LoopbackNames));
    Settings::CaFile.write(dir_.filePath("missing.pem"));
    Confabo amy;
    EXPECT_FALSE(amy.Login("Amelia", Password));
    EXPECT_TRUE(ServiceChannel::current().lastFailure.contains("CA File"))
        << ServiceChannel::current().lastFailure.toStdString();
}

TEST_F(SecureChannelTest, NothingGoesInClearWhenTheServerSpeaksNoTls)
{
    // A plain HTTP server where the https address points: it sees the TLS greeting and nothing
    // else, and the request is not tried again without TLS.
    CaptureServer plain;
    plain.replyWithXml("<body><user_id>1</user_id></body>");
    Settings::ServiceHost.write(QStringLiteral("HTTPS://127.0.0.1:%1/").arg(plain.port()));
    Confabo amy;
    EXPECT_FALSE(amy.Login("Amelia", "SECRET-CIPHER-TEXT"));
    EXPECT_TRUE(ServiceChannel::current().lastFailure.startsWith("no secure connection"))
        << ServiceChannel::current().lastFailure.toStdString();
    ASSERT_GE(plain.requestCount(), 1);
    for (const QByteArray& bytes : plain.requests()) {
        EXPECT_FALSE(bytes.contains("POST")) << bytes.toHex().constData();
        EXPECT_FALSE(bytes.contains("SECRET-CIPHER-TEXT"));
    }

    // The same server named with http:// gets the form in clear, as the address says.
    Settings::ServiceHost.write(QStringLiteral("http://127.0.0.1:%1").arg(plain.port()));
    Confabo bo;
    EXPECT_FALSE(ServiceChannel::current().encrypted());
    FormRequest("LOGOUT").add("user_id", 7).post();
    EXPECT_TRUE(plain.lastRequest().startsWith("POST /cfb_maint.asp HTTP/1.0\r\n"));
    EXPECT_EQ(plain.lastBody(), "mode=LOGOUT&user_id=7");
}
