// The service channel against a capture server: the exact request bytes, and what a failed or
// odd reply turns into.
#include "messaging/FormRequest.h"
#include "messaging/modINET.h"

#include "CaptureServer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

class ServiceChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ServiceChannel::current();
        ServiceChannel::current().server = server_.serverSetting();
        ServiceChannel::current().scriptPath = "cfb_maint.asp";
    }
    void TearDown() override { ServiceChannel::current() = saved_; }

    CaptureServer server_;
    ServiceChannel saved_;
};

} // namespace

TEST_F(ServiceChannelTest, PostsHttp10FormWithAgentHeaderAndPath)
{
    server_.replyWithXml("<body><user_id>7</user_id></body>");
    const XmlDocument reply = FormRequest("USER_INFO").add("user_id", 42).post();

    ASSERT_TRUE(reply.hasContent());
    EXPECT_EQ(reply.selectSingle("/body/user_id").text(), "7");
    EXPECT_TRUE(ServiceChannel::current().lastFailure.isEmpty());

    const QByteArray request = server_.lastRequest();
    EXPECT_TRUE(request.startsWith("POST /cfb_maint.asp HTTP/1.0\r\n")) << request.constData();
    EXPECT_EQ(CaptureServer::headerValue(request, "User-Agent"), "http generic");
    EXPECT_EQ(CaptureServer::headerValue(request, "Content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(CaptureServer::headerValue(request, "Content-Length"), "25");
    EXPECT_EQ(CaptureServer::headerValue(request, "Accept"), "");
    EXPECT_EQ(CaptureServer::headerValue(request, "Host"), server_.serverSetting().toUtf8());
    EXPECT_EQ(CaptureServer::bodyOf(request), "mode=USER_INFO&user_id=42");
    // Exactly one content type: the given header replaces the one the client would add.
    EXPECT_EQ(request.toLower().count("content-type"), 1);
}

TEST_F(ServiceChannelTest, ScriptPathWithLeadingSlashIsKept)
{
    ServiceChannel::current().scriptPath = "/svc/cfb_maint.asp";
    FormRequest("LOGOUT").add("user_id", 1).post();
    EXPECT_TRUE(server_.lastRequest().startsWith("POST /svc/cfb_maint.asp HTTP/1.0\r\n"));
}

TEST_F(ServiceChannelTest, FormValuesAreEncodedAsWindows1252)
{
    // '&', '=' and space must not split or end a field; é is one byte in Windows-1252.
    FormRequest("LOGIN").add("handle", "Zoë Q").add("password", "a&b=c d*-._~").add("ip", "").post();
    EXPECT_EQ(server_.lastBody(), "mode=LOGIN&handle=Zo%EB+Q&password=a%26b%3Dc+d*-._%7E&ip=");
}

TEST_F(ServiceChannelTest, NegativeNumbersArePlainDecimal)
{
    FormRequest("USER_UPDATE").add("user_id", 3).add("mouth_top", -120).post();
    EXPECT_EQ(server_.lastBody(), "mode=USER_UPDATE&user_id=3&mouth_top=-120");
}

TEST_F(ServiceChannelTest, AvatarUploadIsSentByteForByte)
{
    // The service reads exactly these bytes; the picture's CR LF, NUL and 0xFF pass untouched.
    static constexpr char Expected[] = "-----------------------------7d1f5a80420\r\n"
                                       "Content-Disposition: form-data; name=\"mode\"\r\n\r\n"
                                       "AVATAR_UPDATE\r\n"
                                       "-----------------------------7d1f5a80420\r\n"
                                       "Content-Disposition: form-data; name=\"user_id\"\r\n\r\n"
                                       "1234\r\n"
                                       "-----------------------------7d1f5a80420\r\n"
                                       "Content-Disposition: form-data; name=\"avatar\"; filename=\"c:\\temp.gif\"\r\n"
                                       "Content-Type: image/gif \r\n\r\n"
                                       "GIF89a\x01\x00\x01\x00\r\n\0\xff\r\n"
                                       "-----------------------------7d1f5a80420--";
    PostAvatarUpload(QByteArray("GIF89a\x01\x00\x01\x00\r\n\0\xff", 14), 1234);
    const QByteArray request = server_.lastRequest();
    EXPECT_EQ(CaptureServer::bodyOf(request), QByteArray(Expected, sizeof Expected - 1));
    EXPECT_EQ(CaptureServer::headerValue(request, "Content-type"), "multipart/form-data; boundary=7d1f5a80420");
    EXPECT_EQ(CaptureServer::headerValue(request, "Content-Length"), QByteArray::number(sizeof Expected - 1));
}

TEST_F(ServiceChannelTest, ReplyIsReadWhateverTheStatus)
{
    server_.replyRaw("HTTP/1.0 500 Internal Server Error\r\nContent-Type: text/xml\r\n\r\n<body>1</body>");
    EXPECT_EQ(FormRequest("BUDDY_REMOVE").add("buddy_id", 9).post().selectSingle("/body").text(), "1");

    server_.replyRaw(
        "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html><body><p>Not found<br></p></body></html>");
    EXPECT_FALSE(FormRequest("LOGOUT").add("user_id", 1).post().hasContent());
}

TEST_F(ServiceChannelTest, ServerThatClosesWithoutBodyGivesEmptyDocument)
{
    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(FormRequest("LOGIN").add("handle", "a").post().hasContent());
    server_.replyRaw("HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_FALSE(FormRequest("LOGIN").add("handle", "a").post().hasContent());
}

TEST_F(ServiceChannelTest, ServerThatNeverAnswersIsBoundedByTheTimeouts)
{
    server_.setBehaviour(CaptureServer::Behaviour::NeverAnswer);
    ServiceChannel::current().connTimeout = 200;
    ServiceChannel::current().sendTimeout = 200;
    ServiceChannel::current().recvTimeout = 300;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(FormRequest("LOGIN").add("handle", "a").post().hasContent());
    EXPECT_GE(timer.elapsed(), 600);
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(ServiceChannelTest, UnreachableServiceGivesEmptyDocumentQuickly)
{
    CaptureServer* closed = new CaptureServer;
    const QString setting = closed->serverSetting();
    delete closed; // nothing listens there now
    ServiceChannel::current().server = setting;
    ServiceChannel::current().connTimeout = 3000;
    ServiceChannel::current().sendTimeout = 10000;
    ServiceChannel::current().recvTimeout = 10000;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(FormRequest("LOGIN").post().hasContent());
    EXPECT_FALSE(ServiceChannel::current().lastFailure.isEmpty());
    EXPECT_LT(timer.elapsed(), 1000) << "a refused connection does not wait for any timeout";

    // A name that cannot be resolved fails within the connect timeout, never the whole budget.
    ServiceChannel::current().server = "name.that.does.not.exist.invalid";
    timer.restart();
    EXPECT_FALSE(FormRequest("LOGIN").post().hasContent());
    EXPECT_FALSE(ServiceChannel::current().lastFailure.isEmpty());
    EXPECT_LT(timer.elapsed(), 3000 + 1500);
}

TEST_F(ServiceChannelTest, ServerSettingThatIsNoAddressFailsWithAReason)
{
    for (const char* setting : {"ftp://127.0.0.1", "127.0.0.1:99999", "127.0.0.1:80x", "https://", "host/path"}) {
        ServiceChannel::current().server = setting;
        EXPECT_FALSE(FormRequest("LOGOUT").add("user_id", 1).post().hasContent());
        EXPECT_TRUE(ServiceChannel::current().lastFailure.contains(setting))
            << ServiceChannel::current().lastFailure.toStdString();
    }
    EXPECT_EQ(server_.requestCount(), 0);
}

TEST_F(ServiceChannelTest, OverlongReplyIsRefused)
{
    QByteArray xml = "<body><avatar>" + QByteArray(MaxReplyBytes + 10, 'A') + "</avatar></body>";
    server_.replyWithXml(xml);
    EXPECT_FALSE(FormRequest("USER_AVATAR").add("user_id", 1).post().hasContent());
}

TEST(JoinByteArrays, KeepsEveryByteInOrder)
{
    EXPECT_EQ(JoinByteArrays(QByteArray("ab\0", 3), "cd"), QByteArray("ab\0cd", 5));
    EXPECT_EQ(JoinByteArrays({}, "x"), "x");
    EXPECT_EQ(JoinByteArrays("x", {}), "x");
    EXPECT_TRUE(JoinByteArrays({}, {}).isEmpty());
}
