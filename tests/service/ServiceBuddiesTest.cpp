// Buddies, blocking, the list of available users, and which address may change an account.

#include "ServiceTest.h"

using namespace Qt::StringLiterals;

class ServiceBuddies : public ServiceTest {
protected:
    ServiceReply addBuddy(int owner, const QString& handleOrEmail, const char* from = Home)
    {
        return post({{"mode", u"BUDDY_ADD"_s}, {"handle", handleOrEmail}, {"user_id", QString::number(owner)}}, from);
    }
    ServiceReply withHandle(const char* mode, int owner, const QString& handle, const char* from = Home)
    {
        return post(
            {{"mode", QString::fromLatin1(mode)}, {"user_id", QString::number(owner)}, {"handle", handle}}, from);
    }
};
CONFABO_ON_EVERY_STORE(ServiceBuddies);

TEST_P(ServiceBuddies, AddingByHandleOrEmailMakesOneRelation)
{
    const int owner = signedInUser(u"listowner"_s);
    const int carol = registerUser(u"Cordelia"_s, u"PW"_s, u"cordelia@example.org"_s);
    const int dave = registerUser(u"desmond"_s, u"PW"_s, u"Desmond@Example.org"_s);

    const ServiceReply added = addBuddy(owner, u"CORDELIA"_s);
    EXPECT_GT(added.text("/body/buddy_id").toInt(), 0);
    EXPECT_EQ(added.text("/body/buddy_user_id").toInt(), carol);
    EXPECT_EQ(added.text("/body/handle"), u"Cordelia"_s);
    EXPECT_EQ(added.text("/body/email"), u"cordelia@example.org"_s);

    const ServiceReply byEmail = addBuddy(owner, u"desmond@example.ORG"_s);
    EXPECT_EQ(byEmail.text("/body/buddy_user_id").toInt(), dave);
    EXPECT_EQ(byEmail.text("/body/handle"), u"desmond"_s);

    // Already a buddy: the handle, and no new relation.
    const ServiceReply again = addBuddy(owner, u"cordelia@example.org"_s);
    EXPECT_FALSE(again.has("/body/buddy_id"));
    EXPECT_EQ(again.text("/body/handle"), u"Cordelia"_s);

    // Nobody, or oneself: content with an empty handle.
    for (const QString& nobody : {u"nobody"_s, u"listowner"_s, u""_s}) {
        const ServiceReply none = addBuddy(owner, nobody);
        EXPECT_TRUE(none.has("/body/handle")) << nobody.toStdString();
        EXPECT_TRUE(none.text("/body/handle").isEmpty());
        EXPECT_FALSE(none.has("/body/buddy_id"));
    }

    const ServiceReply list = byId("BUDDY_LIST", owner);
    EXPECT_EQ(list.list("buddy", "handle"), (QStringList{u"Cordelia"_s, u"desmond"_s}));
    EXPECT_EQ(list.list("buddy", "buddy_id").first(), added.text("/body/buddy_id"));
    EXPECT_EQ(list.list("buddy", "email"), (QStringList{u"cordelia@example.org"_s, u"Desmond@Example.org"_s}));
    EXPECT_TRUE(byId("BUDDY_LIST", carol).list("buddy", "handle").isEmpty()) << "relations go one way";
    EXPECT_TRUE(byId("BUDDY_LIST", carol).parses());
}

TEST_P(ServiceBuddies, RemovingARelationAnswersOneOnce)
{
    const int owner = signedInUser(u"listowner"_s);
    registerUser(u"friend"_s);
    const QString buddyId = addBuddy(owner, u"friend"_s).text("/body/buddy_id");
    const auto remove = [&](const QString& id, const char* from) {
        return post({{"mode", u"BUDDY_REMOVE"_s}, {"buddy_id", id}}, from);
    };

    EXPECT_TRUE(remove(buddyId, Foreign).empty()) << "only the owner's address may remove it";
    EXPECT_EQ(remove(buddyId, Home).text("/body"), u"1"_s);
    EXPECT_TRUE(byId("BUDDY_LIST", owner).list("buddy", "handle").isEmpty());
    EXPECT_TRUE(remove(buddyId, Home).empty());
    EXPECT_TRUE(remove(u"0"_s, Home).empty());
    EXPECT_TRUE(remove(u"x"_s, Home).empty());

    // A new relation after removal gets a new id.
    EXPECT_NE(addBuddy(owner, u"friend"_s).text("/body/buddy_id"), buddyId);
}

TEST_P(ServiceBuddies, BlockingAndUnblockingKeepOneEntryPerUser)
{
    const int owner = signedInUser(u"listowner"_s);
    registerUser(u"Spammer"_s);
    registerUser(u"griefer"_s);

    EXPECT_EQ(withHandle("USER_BLOCK", owner, u"spammer"_s).text("/body"), u"1"_s);
    EXPECT_FALSE(withHandle("USER_BLOCK", owner, u"SPAMMER"_s).empty());
    EXPECT_FALSE(withHandle("USER_BLOCK", owner, u"griefer"_s).empty());
    EXPECT_TRUE(withHandle("USER_BLOCK", owner, u"ghost"_s).empty());
    EXPECT_TRUE(withHandle("USER_BLOCK", owner, u"listowner"_s).empty());
    EXPECT_EQ(byId("BLOCK_LIST", owner).list("blocked_user", "handle"), (QStringList{u"Spammer"_s, u"griefer"_s}));

    EXPECT_EQ(withHandle("USER_UNBLOCK", owner, u"Spammer"_s).text("/body"), u"1"_s);
    EXPECT_EQ(byId("BLOCK_LIST", owner).list("blocked_user", "handle"), QStringList{u"griefer"_s});
    // Unblocking what is not blocked succeeds, so a client's stale entry can go.
    EXPECT_FALSE(withHandle("USER_UNBLOCK", owner, u"Spammer"_s).empty());
    EXPECT_FALSE(withHandle("USER_UNBLOCK", owner, u"ghost"_s).empty());

    EXPECT_TRUE(byId("BLOCK_LIST", owner + 1000).empty());
}

TEST_P(ServiceBuddies, UserListHoldsOtherAvailableUsersOnly)
{
    const int asker = signedInUser(u"inquirer"_s);
    const int online = signedInUser(u"online"_s, u"on@line.org"_s);
    const int busy = signedInUser(u"busybee"_s);
    registerUser(u"neversignedin"_s);
    const int gone = signedInUser(u"departed"_s);
    ASSERT_FALSE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(busy)}, {"status", u"2"_s}}).empty());
    ASSERT_FALSE(byId("LOGOUT", gone).empty());

    const ServiceReply list = byId("USER_LIST", asker);
    EXPECT_EQ(list.list("user", "handle"), QStringList{u"online"_s});
    EXPECT_EQ(list.list("user", "user_id"), QStringList{QString::number(online)});
    EXPECT_EQ(list.list("user", "email"), QStringList{u"on@line.org"_s});
    EXPECT_TRUE(byId("USER_LIST", asker + 1000).empty());
}

// Every change to an account is accepted only from the address that last signed in as it.
TEST_P(ServiceBuddies, ChangesFromAnotherAddressAreRefusedAndChangeNothing)
{
    const int victim = signedInUser(u"victim"_s, u"v@example.org"_s);
    registerUser(u"someone"_s);
    registerUser(u"blocked"_s);
    const QString vid = QString::number(victim);
    ASSERT_FALSE(withHandle("USER_BLOCK", victim, u"blocked"_s).empty());
    const QString buddyId = addBuddy(victim, u"someone"_s).text("/body/buddy_id");
    const QByteArray picture = awkwardPicture(400);
    ASSERT_FALSE(uploadAvatar(picture, victim).empty());

    const QList<ServiceReply> attempts = {
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"status", u"2"_s}}, Foreign),
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"password", u"HIJACK"_s}}, Foreign),
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"email", u"evil@example.org"_s}}, Foreign),
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"mouth_top", u"9"_s}, {"mouth_left", u"9"_s}}, Foreign),
        byId("LOGOUT", victim, Foreign),
        addBuddy(victim, u"blocked"_s, Foreign),
        post({{"mode", u"BUDDY_REMOVE"_s}, {"buddy_id", buddyId}}, Foreign),
        withHandle("USER_BLOCK", victim, u"someone"_s, Foreign),
        withHandle("USER_UNBLOCK", victim, u"blocked"_s, Foreign),
        uploadAvatar(awkwardPicture(50), victim, Foreign),
    };
    for (qsizetype i = 0; i < attempts.size(); ++i)
        EXPECT_TRUE(attempts[i].empty()) << "attempt " << i << ": " << attempts[i].body.toStdString();

    const ServiceReply state = login(u"victim"_s);
    ASSERT_FALSE(state.empty()) << "password unchanged";
    EXPECT_EQ(state.text("/body/email"), u"v@example.org"_s);
    EXPECT_EQ(state.text("/body/mouth_top"), u"0"_s);
    EXPECT_EQ(state.base64("/body/avatar"), picture);
    EXPECT_EQ(byId("BUDDY_LIST", victim).list("buddy", "handle"), QStringList{u"someone"_s});
    EXPECT_EQ(byId("BLOCK_LIST", victim).list("blocked_user", "handle"), QStringList{u"blocked"_s});

    // Signing in from the other machine moves the binding there.
    ASSERT_FALSE(login(u"victim"_s, u"0123456789ABCDEF"_s, {}, Foreign).empty());
    EXPECT_FALSE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"status", u"2"_s}}, Foreign).empty());
    EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", vid}, {"status", u"1"_s}}, Home).empty());
    EXPECT_EQ(byId("USER_INFO", victim).text("/body/status"), u"2"_s);
}

TEST_P(ServiceBuddies, AvatarRightAfterRegistrationComesFromTheRegisteringAddress)
{
    const int fromHome = registerUser(u"homeuser"_s);
    EXPECT_FALSE(uploadAvatar(awkwardPicture(100), fromHome, Home).empty());
    const int fromElsewhere = registerUser(u"awayuser"_s, u"PW"_s, {}, Foreign);
    EXPECT_TRUE(uploadAvatar(awkwardPicture(100), fromElsewhere, Home).empty());
    EXPECT_FALSE(uploadAvatar(awkwardPicture(100), fromElsewhere, Foreign).empty());
}

// The relayed address a signed-in user holds reaches whoever looks them up, only while it is
// theirs: said from their own machine, well formed, not older than the service keeps it, and not
// past their sign-out or next sign-in.
TEST_P(ServiceBuddies, RelayedAddressIsHandedOutWhileItsHolderIsOnline)
{
    const int amy = signedInUser(u"amelia"_s);
    signedInUser(u"bertram"_s, {}, Foreign);
    const QString id = QString::number(amy);
    const auto sayRelay = [&](const QString& relay, const char* from = Home) {
        return post({{"mode", u"RELAY_ADDRESS"_s}, {"user_id", id}, {"relay", relay}}, from);
    };
    const auto relayOfAmelia = [&] {
        const ServiceReply info = byId("USER_INFO", amy, Foreign);
        EXPECT_FALSE(info.empty());
        return info.has("/body/relay") ? info.text("/body/relay") : u"(none)"_s;
    };
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s);

    ASSERT_FALSE(sayRelay(u"11.18.0.9:49200"_s).empty());
    EXPECT_EQ(relayOfAmelia(), u"11.18.0.9:49200"_s);

    for (const QString& bad : {u"11.18.0.9"_s, u"11.18.0.9:0"_s, u"11.18.0.9:65536"_s, u"0.0.0.0:49200"_s,
             u"relay.example.org:3478"_s, u"11.18.0.9:+5"_s, u"11.18.0.9:05"_s, u"11.18.0.9: 5"_s, u"11.18.0.9:5x"_s, u"[::1]:49200"_s,
             u"11.18.0.9:49200</relay><ip>6.6.6.6"_s, u"311.18.0.9:49200"_s, u":49200"_s}) {
        EXPECT_TRUE(sayRelay(bad).empty()) << bad.toStdString();
    }
    EXPECT_TRUE(sayRelay(u"11.18.0.66:1"_s, Foreign).empty()) << "only from the machine she signed in from";
    EXPECT_EQ(relayOfAmelia(), u"11.18.0.9:49200"_s) << "refused addresses change nothing";

    // A new one replaces the old; none forgets it.
    ASSERT_FALSE(sayRelay(u"11.18.0.10:50000"_s).empty());
    EXPECT_EQ(relayOfAmelia(), u"11.18.0.10:50000"_s);
    ASSERT_FALSE(sayRelay(QString()).empty());
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s);

    // Not renewed within the service's quarter of an hour, it is gone.
    ASSERT_FALSE(sayRelay(u"11.18.0.10:50000"_s).empty());
    ASSERT_TRUE(executeInStore(u"UPDATE relays SET said_at = said_at - 901"_s));
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s);

    // Gone with its holder, and not back at the next sign-in.
    ASSERT_FALSE(sayRelay(u"11.18.0.10:50001"_s).empty());
    ASSERT_FALSE(byId("LOGOUT", amy).empty());
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s);
    ASSERT_FALSE(login(u"amelia"_s).empty());
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s);
    ASSERT_FALSE(sayRelay(u"11.18.0.10:50002"_s).empty());
    ASSERT_FALSE(login(u"amelia"_s).empty());
    EXPECT_EQ(relayOfAmelia(), u"(none)"_s) << "a sign-in starts without the last session's relay";
}
