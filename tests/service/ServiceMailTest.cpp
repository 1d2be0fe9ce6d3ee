// Mailboxes: lines left for a user who is offline, taken and acknowledged by them, the limits
// on what a sender may leave, and who may leave any at all.

#include "ServiceTest.h"

#include <QDateTime>

using namespace Qt::StringLiterals;

class ServiceMail : public ServiceTest {
protected:
    // bertram has alicia as a buddy; both are signed in from Home.
    void SetUp() override
    {
        ServiceTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        alicia_ = signedInUser(u"alicia"_s);
        bertram_ = signedInUser(u"bertram"_s);
        ASSERT_FALSE(addBuddy(bertram_, u"alicia"_s).empty());
    }

    ServiceReply addBuddy(int owner, const QString& handle)
    {
        return post({{"mode", u"BUDDY_ADD"_s}, {"handle", handle}, {"user_id", QString::number(owner)}});
    }
    ServiceReply put(int sender, const QString& to, const QString& mailId, const QByteArray& sealed,
        const char* from = Home)
    {
        return post({{"mode", u"MAIL_PUT"_s}, {"user_id", QString::number(sender)}, {"handle", to},
                        {"mail_id", mailId}, {"sealed", QString::fromLatin1(sealed.toBase64())}},
            from);
    }
    ServiceReply take(int recipient, const char* from = Home) { return byId("MAIL_TAKE", recipient, from); }
    ServiceReply ack(int recipient, const QStringList& ids, const char* from = Home)
    {
        return post(
            {{"mode", u"MAIL_ACK"_s}, {"user_id", QString::number(recipient)}, {"ids", ids.join(u',')}}, from);
    }
    // Takes and acknowledges everything waiting; the sealed lines in the order they came.
    QList<QByteArray> takeAll(int recipient)
    {
        QList<QByteArray> lines;
        for (int batch = 0; batch < 100; ++batch) {
            const ServiceReply taken = take(recipient);
            const QStringList ids = taken.list("mail", "id");
            const QStringList sealed = taken.list("mail", "sealed");
            for (const QString& s : sealed)
                lines.append(QByteArray::fromBase64(s.toLatin1()));
            if (!ids.isEmpty()) {
                EXPECT_EQ(ack(recipient, ids).text("/body/deleted"), QString::number(ids.size()));
            }
            if (taken.text("/body/more") != u"1"_s)
                break;
        }
        return lines;
    }

    int alicia_ = 0;
    int bertram_ = 0;
};
CONFABO_ON_EVERY_STORE(ServiceMail);

// A service whose senders are not held back by the rate, so a test can fill a mailbox.
class ServiceMailLimits : public ServiceMail {
protected:
    QStringList serviceArguments() const override { return {u"--mail-rate"_s, u"1000000"_s}; }
};
CONFABO_ON_EVERY_STORE(ServiceMailLimits);

TEST_P(ServiceMail, ALineIsTakenUntilAcknowledgedAndOnlyByItsRecipient)
{
    const QByteArray sealed = "\x01sealed\x00bytes\xff"_ba;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const ServiceReply stored = put(alicia_, u"BERTRAM"_s, u"a1b2-c3_d4"_s, sealed);
    EXPECT_EQ(stored.text("/body/stored"), u"1"_s) << stored.body.toStdString();
    EXPECT_FALSE(stored.has("/body/message"));
    EXPECT_EQ(put(alicia_, u"bertram"_s, u"a1b2-c3_d4"_s, sealed).text("/body/stored"), u"1"_s)
        << "the same line again (its answer was lost) is stored once";

    EXPECT_TRUE(put(alicia_, u"bertram"_s, u"x"_s, sealed, Foreign).empty()) << "only from alicia's own address";
    EXPECT_TRUE(take(bertram_, Foreign).empty());
    EXPECT_TRUE(take(alicia_).list("mail", "id").isEmpty()) << "a sender's own mailbox holds nothing of it";

    const ServiceReply taken = take(bertram_);
    ASSERT_EQ(taken.list("mail", "id").size(), 1) << taken.body.toStdString();
    EXPECT_EQ(taken.list("mail", "from"), QStringList{u"alicia"_s});
    EXPECT_EQ(taken.list("mail", "from_user_id"), QStringList{QString::number(alicia_)});
    EXPECT_EQ(taken.list("mail", "mail_id"), QStringList{u"a1b2-c3_d4"_s});
    EXPECT_EQ(taken.base64("/body/mail/sealed"), sealed);
    const qint64 time = taken.list("mail", "time").value(0).toLongLong();
    EXPECT_GE(time, before);
    EXPECT_LE(time, QDateTime::currentSecsSinceEpoch());
    EXPECT_EQ(taken.text("/body/more"), u"0"_s);
    EXPECT_EQ(take(bertram_).list("mail", "id"), taken.list("mail", "id")) << "kept until acknowledged";

    const QStringList ids = taken.list("mail", "id");
    EXPECT_TRUE(ack(bertram_, ids, Foreign).empty());
    EXPECT_EQ(ack(alicia_, ids).text("/body/deleted"), u"0"_s) << "nobody acknowledges another's mail";
    EXPECT_EQ(ack(bertram_, ids).text("/body/deleted"), u"1"_s);
    EXPECT_EQ(ack(bertram_, ids).text("/body/deleted"), u"0"_s);
    EXPECT_TRUE(take(bertram_).list("mail", "id").isEmpty());

    // Malformed fields are refused as a whole.
    EXPECT_TRUE(put(alicia_, u"bertram"_s, u"bad id!"_s, sealed).empty());
    EXPECT_TRUE(put(alicia_, u"bertram"_s, QString(65, u'a'), sealed).empty());
    EXPECT_TRUE(post({{"mode", u"MAIL_PUT"_s}, {"user_id", QString::number(alicia_)}, {"handle", u"bertram"_s},
                         {"mail_id", u"m"_s}, {"sealed", u"not*base64"_s}})
                    .empty());
    EXPECT_TRUE(ack(bertram_, {u"1"_s, u""_s}).empty());
    EXPECT_TRUE(ack(bertram_, {u"-4"_s}).empty());
    EXPECT_TRUE(take(bertram_).list("mail", "id").isEmpty());
}

TEST_P(ServiceMail, StrangersAndBlockedUsersCannotLeaveMail)
{
    const int carla = signedInUser(u"carolina"_s);
    const QByteArray sealed = "sealed"_ba;
    const ServiceReply stranger = put(carla, u"bertram"_s, u"c1"_s, sealed);
    EXPECT_EQ(stranger.text("/body/stored"), u"0"_s);
    EXPECT_EQ(stranger.text("/body/message"), u"bertram takes mail only from buddies."_s);
    EXPECT_EQ(put(alicia_, u"nobody"_s, u"n1"_s, sealed).text("/body/message"), u"There is nobody called nobody."_s);
    EXPECT_EQ(put(bertram_, u"bertram"_s, u"s1"_s, sealed).text("/body/stored"), u"0"_s) << "not to oneself";
    EXPECT_EQ(put(bertram_, u"alicia"_s, u"b1"_s, sealed).text("/body/stored"), u"0"_s)
        << "buddies go one way: alicia has not added bertram";

    // A line left before the block is not handed out after it; the blocked sender is told what
    // a stranger is told.
    ASSERT_EQ(put(alicia_, u"bertram"_s, u"a1"_s, sealed).text("/body/stored"), u"1"_s);
    ASSERT_FALSE(post({{"mode", u"USER_BLOCK"_s}, {"user_id", QString::number(bertram_)}, {"handle", u"alicia"_s}})
                     .empty());
    EXPECT_EQ(put(alicia_, u"bertram"_s, u"a2"_s, sealed).text("/body/message"),
        u"bertram takes mail only from buddies."_s);
    EXPECT_TRUE(take(bertram_).list("mail", "id").isEmpty());
    EXPECT_TRUE(take(carla).list("mail", "id").isEmpty());
}

TEST_P(ServiceMail, MailSurvivesAnUpgradeARestartAndAKill)
{
    // A database from before mailboxes is brought up to date, keeping its users.
    ASSERT_TRUE(service().stop());
    const QString previousVersion
        = GetParam() == Store::Sqlite ? u"PRAGMA user_version = 3"_s : u"UPDATE confabo_schema SET version = 3"_s;
    ASSERT_TRUE(
        executeInStore(u"DROP TABLE relays; DROP TABLE mail; ALTER TABLE users DROP COLUMN ip6; "_s + previousVersion));
    ASSERT_TRUE(service().restart()) << service().errorText().toStdString();
    client_ = std::make_unique<ServiceClient>(service().port());

    ASSERT_EQ(put(alicia_, u"bertram"_s, u"before-restart"_s, "one"_ba).text("/body/stored"), u"1"_s);
    ASSERT_TRUE(service().restart()) << service().errorText().toStdString();
    client_ = std::make_unique<ServiceClient>(service().port());
    ASSERT_EQ(put(alicia_, u"bertram"_s, u"before-kill"_s, "two"_ba).text("/body/stored"), u"1"_s);
    ASSERT_TRUE(service().killAndRestart()) << service().errorText().toStdString();
    client_ = std::make_unique<ServiceClient>(service().port());

    const ServiceReply taken = take(bertram_);
    EXPECT_EQ(taken.list("mail", "mail_id"), (QStringList{u"before-restart"_s, u"before-kill"_s}));
    EXPECT_EQ(takeAll(bertram_), (QList<QByteArray>{"one"_ba, "two"_ba}));
}

TEST_P(ServiceMail, ASenderIsHeldToARateOfLines)
{
    int stored = 0;
    ServiceReply last;
    for (int i = 0; i < 61; ++i) {
        last = put(alicia_, u"bertram"_s, u"r%1"_s.arg(i), "x"_ba);
        stored += last.text("/body/stored") == u"1"_s;
    }
    EXPECT_EQ(stored, 60);
    EXPECT_EQ(last.text("/body/message"), u"Too many lines at once: wait a minute before leaving more."_s);
    // Another sender is not held back by alicia's lines.
    const int carla = signedInUser(u"carolina"_s);
    ASSERT_FALSE(addBuddy(bertram_, u"carolina"_s).empty());
    EXPECT_EQ(put(carla, u"bertram"_s, u"c1"_s, "x"_ba).text("/body/stored"), u"1"_s);
}

TEST_P(ServiceMailLimits, AMailboxHoldsFiveHundredLinesTwoMegabytesAndLinesUpTo64KB)
{
    const QByteArray small = "s"_ba;
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(put(alicia_, u"bertram"_s, u"n%1"_s.arg(i), small).text("/body/stored"), u"1"_s) << i;
    const ServiceReply full = put(alicia_, u"bertram"_s, u"n500"_s, small);
    EXPECT_EQ(full.text("/body/stored"), u"0"_s);
    EXPECT_EQ(full.text("/body/message"), u"bertram's mailbox is full."_s);
    const ServiceReply first = take(bertram_);
    EXPECT_EQ(first.list("mail", "id").size(), 100) << "handed out in batches";
    EXPECT_EQ(first.text("/body/more"), u"1"_s);
    ASSERT_FALSE(ack(bertram_, first.list("mail", "id").mid(0, 1)).empty());
    EXPECT_EQ(put(alicia_, u"bertram"_s, u"n500"_s, small).text("/body/stored"), u"1"_s) << "room for one again";
    EXPECT_EQ(takeAll(bertram_).size(), 500);

    // Bytes: 32 lines of 64 KB fill the 2 MB; a line one byte larger never waits.
    const int dora = signedInUser(u"dorothea"_s);
    ASSERT_FALSE(addBuddy(dora, u"alicia"_s).empty());
    const QByteArray large(64 * 1024, 'L');
    EXPECT_EQ(put(alicia_, u"dorothea"_s, u"big"_s, large + 'L').text("/body/message"),
        u"A line of more than 64 KB cannot wait in a mailbox."_s);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(put(alicia_, u"dorothea"_s, u"b%1"_s.arg(i), large).text("/body/stored"), u"1"_s) << i;
    EXPECT_EQ(put(alicia_, u"dorothea"_s, u"b32"_s, small).text("/body/message"), u"dorothea's mailbox is full."_s);
    const ServiceReply bytes = take(dora);
    EXPECT_EQ(bytes.list("mail", "id").size(), 16) << "a batch holds about a megabyte";
    EXPECT_EQ(bytes.text("/body/more"), u"1"_s);

    // Mail older than thirty days is dropped, and makes room.
    ASSERT_TRUE(executeInStore(u"UPDATE mail SET stored_at = stored_at - 31 * 86400"_s));
    EXPECT_TRUE(take(dora).list("mail", "id").isEmpty());
    EXPECT_EQ(put(alicia_, u"dorothea"_s, u"b32"_s, large).text("/body/stored"), u"1"_s);
}
