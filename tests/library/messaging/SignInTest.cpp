// Construction, sign-in, sign-out and presence of the Confabo object against a capture server.
#include "channel/Identity.h"
#include "channel/KeyPins.h"
#include "messaging/Confabo.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/LocalAddress.h"

#include "CaptureServer.h"
#include "TempConfig.h"

#include "ErrorNumber.h"
#include <QBuffer>

#include <gtest/gtest.h>

using namespace cfb;

namespace {

QByteArray pngBytes(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray loginReply(const QByteArray& message, const QByteArray& mouthLeft, const QByteArray& avatarBase64)
{
    return "<body>" + (message.isNull() ? QByteArray() : "<message>" + message + "</message>")
        + "<user_id>17</user_id><handle>Amy</handle><password>0A1B</password><email>amy@example.org</email>"
          "<mouth_left>"
        + mouthLeft + "</mouth_left><mouth_top>95</mouth_top>"
        + "<avatar xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">" + avatarBase64
        + "</avatar></body>";
}

class SignInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsStore::save("Data", "CFBSERVER", server_.serverSetting());
        previousNotice_ = UserNotice::setHandler([this](const QString& text, const QString& caption) {
            notices_.append(text);
            captions_.append(caption);
            requestsWhenShown_ = server_.requestCount();
        });
    }
    void TearDown() override { UserNotice::setHandler(previousNotice_); }

    TempConfig config_;
    CaptureServer server_;
    UserNotice::Handler previousNotice_;
    QStringList notices_, captions_;
    int requestsWhenShown_ = -1;
};

} // namespace

TEST_F(SignInTest, ConstructionWritesTheChannelSettingsBack)
{
    SettingsStore::remove("Data", "CFBSERVER");
    Confabo confabo;
    EXPECT_EQ(SettingsStore::get("Data", "CFBASP", ""), "cfb_maint.asp");
    EXPECT_EQ(SettingsStore::get("Data", "CFBSERVER", ""), "127.0.0.1:8080");
    EXPECT_EQ(SettingsStore::get("Data", "SEND_TIMEOUT", ""), "20000");
    EXPECT_EQ(SettingsStore::get("Data", "RECV_TIMEOUT", ""), "30000");
    EXPECT_EQ(SettingsStore::get("Data", "CONN_TIMEOUT", ""), "5000");
    EXPECT_EQ(confabo.userID(), 0);
    EXPECT_EQ(confabo.Status(), CFB_OFFLINE);
}

TEST_F(SignInTest, StoredSettingsSteerTheChannelAndAreKept)
{
    SettingsStore::save("Data", "CFBASP", "/other.asp");
    SettingsStore::save("Data", "RECV_TIMEOUT", " 1234 ");
    Confabo confabo;
    EXPECT_EQ(confabo.HTTPRecvTimeout(), 1234);
    EXPECT_EQ(SettingsStore::get("Data", "RECV_TIMEOUT", ""), "1234");
    confabo.Logout();
    EXPECT_TRUE(server_.lastRequest().startsWith("POST /other.asp HTTP/1.0"));
}

TEST_F(SignInTest, ABadTimeoutOrBooleanSettingFailsConstruction)
{
    SettingsStore::save("Data", "CONN_TIMEOUT", "soon");
    EXPECT_EQ(errorOf([] { Confabo c; }), ConfaboError::TypeMismatch);
    SettingsStore::save("Data", "CONN_TIMEOUT", "5000");
    SettingsStore::save("Debug", "Block All Data", "maybe");
    EXPECT_EQ(errorOf([] { Confabo c; }), ConfaboError::TypeMismatch);
    SettingsStore::save("Debug", "Block All Data", "True");
    Confabo c;
    EXPECT_TRUE(c.blocksAllData());
}

TEST_F(SignInTest, TimeoutsAreSharedByTheThreadAndNeverStored)
{
    Confabo first;
    Confabo second;
    first.setHTTPRecvTimeout(777);
    EXPECT_EQ(second.HTTPRecvTimeout(), 777);
    EXPECT_EQ(ServiceChannel::current().recvTimeout, 777);
    EXPECT_EQ(SettingsStore::get("Data", "RECV_TIMEOUT", ""), "30000");
}

TEST_F(SignInTest, FullReplySignsIn)
{
    const QByteArray avatar = pngBytes(4, 3);
    server_.replyWithXml(loginReply("Welcome back", "12.7abc", avatar.toBase64()));
    Confabo confabo;
    ASSERT_TRUE(confabo.Login("amy", "0A1B", "amy.example.org"));

    const QList<QByteArray> bodies = server_.bodies();
    ASSERT_EQ(bodies.size(), 3) << "sign-in, buddy list, blocked users; no status request";
    // The profile's public key goes along, for buddies to encrypt to.
    ASSERT_TRUE(confabo.publicKey());
    // On a machine with an IPv6 route out, its address goes along too.
    const QString six = Confabo::ownIPv6Address();
    EXPECT_EQ(bodies[0],
        "mode=LOGIN&handle=amy&password=0A1B&ip=amy.example.org"
            + (six.isEmpty() ? QByteArray() : "&ip6=" + URLEncode(six))
            + "&public_key=" + URLEncode(KeyPins::toText(*confabo.publicKey())));
    EXPECT_EQ(bodies[1], "mode=BUDDY_LIST&user_id=17");
    EXPECT_EQ(bodies[2], "mode=BLOCK_LIST&user_id=17");
    EXPECT_EQ(notices_, QStringList{"Welcome back"});
    EXPECT_EQ(captions_, QStringList{"Confabo"});
    EXPECT_EQ(confabo.userID(), 17);
    EXPECT_EQ(confabo.handle(), "Amy");
    EXPECT_EQ(confabo.Password(), "0A1B");
    EXPECT_EQ(confabo.Email(), "amy@example.org");
    EXPECT_EQ(confabo.MouthLeft(), 13);
    EXPECT_EQ(confabo.MouthTop(), 95);
    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
    EXPECT_EQ(confabo.Avatar().size(), QSize(4, 3));
    EXPECT_EQ(confabo.IPAddress(), "");
}

TEST_F(SignInTest, EmptyMessageShowsNothingAndEmptyMouthLeftIsZero)
{
    server_.replyWithXml(loginReply("  ", "", ""));
    Confabo confabo;
    confabo.setIdentity(std::nullopt);
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    EXPECT_TRUE(notices_.isEmpty());
    EXPECT_EQ(confabo.MouthLeft(), 0);
    // Without a host name the service also learns the machine's own address, in a field older
    // services ignore.
    const QString local = LocalAddress::ofDefaultRoute();
    const QString six = Confabo::ownIPv6Address();
    // A profile without a key (here: set aside) signs in as older clients do.
    EXPECT_EQ(server_.bodies().first(),
        "mode=LOGIN&handle=amy&password=pw&ip=" + (local.isEmpty() ? QByteArray() : "&local_ip=" + local.toLatin1())
            + (six.isEmpty() ? QByteArray() : "&ip6=" + URLEncode(six)));
}

TEST_F(SignInTest, EmptyOrBrokenAvatarKeepsThePreviousOne)
{
    server_.replyWithXml(loginReply({}, "1", pngBytes(5, 5).toBase64()));
    Confabo confabo;
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    ASSERT_EQ(confabo.Avatar().size(), QSize(5, 5));

    server_.replyWithXml(loginReply({}, "1", ""));
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    EXPECT_EQ(confabo.Avatar().size(), QSize(5, 5));

    server_.replyWithXml(loginReply({}, "1", QByteArray("not a picture").toBase64()));
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    EXPECT_EQ(confabo.Avatar().size(), QSize(5, 5));

    server_.replyWithXml(loginReply({}, "1", "%%%garbage%%%"));
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    EXPECT_EQ(confabo.Avatar().size(), QSize(5, 5));
}

TEST_F(SignInTest, RefusalOrNoServiceReturnsFalseAndChangesNothing)
{
    Confabo confabo;
    confabo.setHandle("keep");
    server_.replyRaw("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n");
    EXPECT_FALSE(confabo.Login("amy", "wrong"));
    server_.replyWithXml("this is not xml");
    EXPECT_FALSE(confabo.Login("amy", "wrong"));
    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(confabo.Login("amy", "wrong"));
    EXPECT_EQ(confabo.handle(), "keep");
    EXPECT_EQ(confabo.Status(), CFB_OFFLINE);
    EXPECT_TRUE(notices_.isEmpty());
}

TEST_F(SignInTest, MissingElementRaisesAfterEarlierFieldsWereStored)
{
    server_.replyWithXml("<body><message>Read me first</message><user_id>5</user_id><handle>Bo</handle>"
                         "<password>P</password></body>");
    Confabo confabo;
    EXPECT_EQ(errorOf([&] { confabo.Login("bo", "P"); }), ConfaboError::ObjectNotSet);
    EXPECT_EQ(notices_, QStringList{"Read me first"});
    EXPECT_EQ(confabo.userID(), 5);
    EXPECT_EQ(confabo.handle(), "Bo");
    EXPECT_EQ(confabo.Password(), "P");
    EXPECT_EQ(confabo.Email(), "");
    EXPECT_EQ(confabo.Status(), CFB_OFFLINE);

    server_.replyWithXml(
        QByteArray(loginReply({}, "1", "")).replace("<avatar", "<avatar_x").replace("</avatar>", "</avatar_x>"));
    EXPECT_EQ(errorOf([&] { confabo.Login("bo", "P"); }), ConfaboError::ObjectNotSet);
}

TEST_F(SignInTest, MouthTopThatIsNotANumberRaisesTypeMismatch)
{
    server_.replyWithXml(QByteArray(loginReply({}, "1", "")).replace("<mouth_top>95", "<mouth_top>high"));
    Confabo confabo;
    EXPECT_EQ(errorOf([&] { confabo.Login("amy", "pw"); }), ConfaboError::TypeMismatch);
    EXPECT_EQ(confabo.MouthLeft(), 1);
}

TEST_F(SignInTest, NoticeIsShownBeforeLoginReturns)
{
    server_.replyWithXml(loginReply("Server maintenance at noon", "1", ""));
    Confabo confabo;
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    EXPECT_EQ(requestsWhenShown_, 1);
    EXPECT_EQ(notices_.size(), 1);
}

TEST_F(SignInTest, LogoutSendsTheNoticeAndAlwaysReturnsFalse)
{
    server_.replyWithXml(loginReply({}, "1", ""));
    Confabo confabo;
    ASSERT_TRUE(confabo.Login("amy", "pw"));
    server_.replyWithXml("<body>ok</body>");
    EXPECT_FALSE(confabo.Logout());
    EXPECT_EQ(server_.lastBody(), "mode=LOGOUT&user_id=17");
    EXPECT_EQ(confabo.userID(), 17);
    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
}

TEST_F(SignInTest, SetStatusChangesPresenceOnlyWhenTheServiceAnswered)
{
    Confabo confabo;
    confabo.setStatus(CFB_AVAILABLE);
    server_.replyWithXml("<body>1</body>");
    EXPECT_TRUE(confabo.SetStatus(CFB_BUSY));
    EXPECT_EQ(server_.lastBody(), "mode=USER_UPDATE&user_id=0&status=2");
    EXPECT_EQ(confabo.Status(), CFB_BUSY);

    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(confabo.SetStatus(CFB_AVAILABLE));
    EXPECT_EQ(confabo.Status(), CFB_BUSY);

    const int before = server_.requestCount();
    confabo.setStatus(CFB_OFFLINE);
    EXPECT_EQ(confabo.Status(), CFB_OFFLINE);
    EXPECT_EQ(server_.requestCount(), before) << "assigning Status posts nothing";
}
