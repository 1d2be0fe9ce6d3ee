// Bad input, HTTP details, concurrency and start-up failures of the running service.

#include "ServiceTest.h"

#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;

class ServiceRobustness : public ServiceTest {
protected:
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        user_ = signedInUser(u"steady"_s);
    }
    // A good request after each bad one shows the service still answers normally.
    void expectStillServing(const std::string& after)
    {
        const ServiceReply reply = byId("USER_INFO", user_);
        EXPECT_EQ(reply.text("/body/status"), u"1"_s) << "after " << after;
    }
    int user_ = 0;
};
CONFABO_ON_EVERY_STORE(ServiceRobustness);

TEST_P(ServiceRobustness, MalformedFormsGetEmptyRepliesAndTheNextRequestIsServed)
{
    const QByteArray uid = QByteArray::number(user_);
    const QList<QByteArray> bodies = {
        "",
        "garbage",
        "=",
        "mode",
        "mode=USER_INFO",
        "mode=USER_INFO&user_id=",
        "mode=USER_INFO&user_id=abc",
        "mode=USER_INFO&user_id=1x",
        "mode=USER_INFO&user_id=+1",
        "mode=USER_INFO&user_id=0",
        "mode=USER_INFO&user_id=-1",
        "mode=USER_INFO&user_id=2147483648",
        "mode=USER_INFO&user_id=99999999999999999999999999",
        "mode=USER_INFO&user_id=" + uid + "%",
        "mode=USER_INFO&user_id=" + uid + "%4",
        "mode=USER_INFO&user_id=" + uid + "%zz",
        "mode=USER_INFO&user_id=" + uid + "&user_id=" + uid,
        "mode=NO_SUCH_MODE&user_id=" + uid,
        "mode=user_info&user_id=" + uid,
        "mode=LOGIN&handle=steady",
        "mode=LOGIN&handle=steady&password=0123456789ABCDEF&ip=%01evil",
        "mode=LOGIN&handle=" + QByteArray(300, 'a') + "&password=x&ip=",
        "mode=USER_INSERT&handle=ok_handle&password=x&email=&mouth_top=0",
        "mode=USER_INSERT&handle=ok_handle&password=x&email=&mouth_top=0&mouth_left=99999",
        "mode=USER_INSERT&handle=ok%0Ahandle&password=x&email=&mouth_top=0&mouth_left=0",
        "mode=USER_INSERT&handle=ok_handle&password=x&email=" + QByteArray(300, 'e') + "&mouth_top=0&mouth_left=0",
        "mode=BUDDY_REMOVE&buddy_id=-5",
        "mode=USER_UPDATE&user_id=" + uid,
        "a=1&b=2&c=3&d=4&e=5&f=6&g=7&h=8&i=9&j=10&k=11&l=12&m=13&n=14&o=15&p=16&q=17&mode=USER_INFO&user_id=" + uid,
        QByteArray("mode=USER_INFO\0&user_id=1", 25),
    };
    for (const QByteArray& body : bodies) {
        const std::string shown = body.left(80).toStdString();
        const ServiceReply reply = client().post(body);
        EXPECT_EQ(reply.status, 200) << shown;
        EXPECT_TRUE(reply.empty()) << shown << " -> " << reply.body.toStdString();
        expectStillServing(shown);
    }
    EXPECT_EQ(byId("USER_INFO", user_).text("/body/ip"), u"127.0.0.1"_s) << "the control character was not stored";
    EXPECT_GT(registerUser(u"ok_handle"_s), 0) << "none of the refused registrations created the account";
}

TEST_P(ServiceRobustness, BadMultipartBodiesAreRefused)
{
    const QByteArray good = avatarBody(awkwardPicture(100), user_);
    const QList<std::pair<QByteArray, QByteArray>> cases = {
        {"multipart/form-data", good},
        {"multipart/form-data; boundary=", good},
        {"multipart/form-data; boundary=other", good},
        {"multipart/form-data; boundary=7d1f5a80420", "no delimiters at all"},
        {"multipart/form-data; boundary=7d1f5a80420", good.left(good.size() / 2)},
        {"multipart/form-data; boundary=7d1f5a80420", QByteArray(good).replace("name=\"avatar\"", "nom=\"avatar\"")},
        {"multipart/form-data; boundary=7d1f5a80420", QByteArray(good).replace("\r\n\r\nAVATAR", "\r\nAVATAR")},
        {"multipart/form-data; boundary=" + QByteArray(71, 'b'), good},
    };
    for (const auto& [type, body] : cases) {
        EXPECT_TRUE(client().postWithType(body, type).empty())
            << type.toStdString() << " / " << body.left(60).toStdString();
        expectStillServing(type.toStdString());
    }
    EXPECT_TRUE(byId("USER_AVATAR", user_).base64("/body/avatar").isEmpty());
}

TEST_P(ServiceRobustness, OversizedBodiesAreRefusedWithoutBeingRead)
{
    const QByteArray huge = "mode=USER_INFO&user_id=1&pad=" + QByteArray(300 * 1024, 'x');
    const ServiceReply reply = client().post(huge);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(reply.status, 413);
    expectStillServing("an oversized body");

    // A body that arrives in chunks without a length is cut off the same way.
    const QByteArray chunk = QByteArray::number(0x10000, 16) + "\r\n" + QByteArray(0x10000, 'y') + "\r\n";
    QByteArray chunked = "POST /cfb_maint.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 5; ++i)
        chunked += chunk;
    chunked += "0\r\n\r\n";
    EXPECT_TRUE(client().exchange(chunked).empty());
    expectStillServing("an oversized chunked body");
}

TEST_P(ServiceRobustness, HttpDetails)
{
    EXPECT_EQ(client().exchange("GET /cfb_maint.asp HTTP/1.0\r\n\r\n").status, 405);
    const ServiceReply wrongPath
        = ServiceClient(service().port(), "/other.asp").post("mode=USER_INFO&user_id=" + QByteArray::number(user_));
    EXPECT_EQ(wrongPath.status, 404);
    EXPECT_TRUE(wrongPath.empty());
    EXPECT_EQ(ServiceClient(service().port(), "/CFB_Maint.asp")
                  .post("mode=USER_INFO&user_id=" + QByteArray::number(user_))
                  .text("/body/status"),
        u"1"_s);

    for (const QByteArray& junk :
        {QByteArray("HELLO\r\n\r\n"), QByteArray("\r\n\r\n"), QByteArray(8000, 'A') + "\r\n\r\n",
            QByteArray("POST /cfb_maint.asp HTTP/1.0\r\nContent-Length: -5\r\n\r\n")}) {
        client().exchange(junk, Home, true);
        expectStillServing("junk: " + junk.left(30).toStdString());
    }

    // HTTP/1.1 keeps the connection for a second request.
    const QByteArray body = "mode=USER_INFO&user_id=" + QByteArray::number(user_);
    const QByteArray one = "POST /cfb_maint.asp HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded"
                           "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const QByteArray last = QByteArray(one).replace("Host: x\r\n", "Host: x\r\nConnection: close\r\n");
    const ServiceReply both = client().exchange(one + last);
    EXPECT_EQ(both.body.count("<status>1</status>"), 2) << both.body.toStdString();
}

TEST_P(ServiceRobustness, ManyClientsAtOnceAllGetAnswers)
{
    constexpr int Clients = 8;
    constexpr int Requests = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const quint16 port = service().port();
    const QByteArray uid = QByteArray::number(user_);
    for (int c = 0; c < Clients; ++c) {
        threads.emplace_back([&, c] {
            ServiceClient own(port);
            for (int i = 0; i < Requests; ++i) {
                const QByteArray body
                    = (i + c) % 2 ? "mode=USER_INFO&user_id=" + uid : "mode=USER_UPDATE&user_id=" + uid + "&status=1";
                if (own.post(body).body.isEmpty())
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(ServiceStartup, BadOptionsBusyPortsAndNewerDatabasesStopTheStart)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(u"x.db"_s);
    const auto run = [](const QStringList& arguments) {
        QProcess p;
        p.start(ServiceProcess::binaryPath(), arguments);
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitCode();
    };
    EXPECT_EQ(run({u"--listen"_s, u"nonsense"_s, u"--db"_s, db}), 2);
    EXPECT_EQ(run({u"--listen"_s, u"127.0.0.1:70000"_s, u"--db"_s, db}), 2);
    EXPECT_EQ(run({u"--frobnicate"_s}), 2);
    EXPECT_EQ(run({u"--trusted-proxy"_s, u"proxy.example.org"_s, u"--db"_s, db}), 2) << "a proxy is named by address";

    ServiceProcess running;
    ASSERT_TRUE(running.isRunning());
    EXPECT_EQ(run({u"--listen"_s, running.serverSetting(), u"--db"_s, db, u"--quiet"_s}), 1);

    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(qPrintable(db), &handle), SQLITE_OK);
    sqlite3_exec(handle, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    EXPECT_EQ(run({u"--listen"_s, u"127.0.0.1:0"_s, u"--db"_s, db, u"--quiet"_s}), 1);
}
