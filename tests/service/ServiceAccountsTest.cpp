// Accounts over real HTTP: registration, sign-in, presence, profile changes and avatars.

#include "ServiceTest.h"

using namespace Qt::StringLiterals;

class ServiceAccounts : public ServiceTest { };
CONFABO_ON_EVERY_STORE(ServiceAccounts);

TEST_P(ServiceAccounts, RegistrationGivesIdsAndRefusesTakenHandlesIgnoringCase)
{
    const int first = registerUser(u"MrsRobinson"_s);
    const int second = registerUser(u"benjamin"_s);
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second);

    EXPECT_EQ(registerUser(u"mrsrobinson"_s), 0);
    EXPECT_EQ(registerUser(u"MRSROBINSON"_s, u"other"_s), 0);
    // The refused attempt left the first account as it was.
    EXPECT_FALSE(login(u"MrsRobinson"_s).empty());
    EXPECT_TRUE(login(u"MrsRobinson"_s, u"other"_s).empty());
}

TEST_P(ServiceAccounts, HandleRulesAreEnforcedByTheService)
{
    for (const QString& bad : {u"with space"_s, u"at@sign"_s, u"grave`"_s, u"apo'strophe"_s, u"quote\"d"_s,
             QString(31, u'x'), QString(), u"tab\there"_s, u"fives"_s, u"x"_s}) {
        const ServiceReply reply = post({{"mode", u"USER_INSERT"_s}, {"handle", bad}, {"password", u"PW"_s},
            {"email", u""_s}, {"mouth_top", u"0"_s}, {"mouth_left", u"0"_s}});
        EXPECT_TRUE(reply.empty()) << bad.toStdString();
        EXPECT_EQ(reply.status, 200);
    }
    EXPECT_GT(registerUser(QString(30, u'y')), 0);
    EXPECT_GT(registerUser(u"sixers"_s), 0);
}

TEST_P(ServiceAccounts, AnAccountWithAShorterHandleFromBeforeKeepsWorking)
{
    const int amy = registerUser(u"amelia"_s, u"PW"_s, u"amy@example.org"_s);
    ASSERT_GT(amy, 0);
    ASSERT_TRUE(executeInStore(u"UPDATE users SET handle = 'Amy', handle_key = 'amy' WHERE id = %1"_s.arg(amy)));

    const ServiceReply signedIn = login(u"amy"_s, u"PW"_s);
    ASSERT_FALSE(signedIn.empty()) << signedIn.body.toStdString();
    EXPECT_EQ(signedIn.text("/body/user_id").toInt(), amy);
    EXPECT_EQ(signedIn.text("/body/handle"), u"Amy"_s);
    EXPECT_EQ(post({{"mode", u"USER_FIND"_s}, {"handle", u"AMY"_s}}).text("/body/user_id").toInt(), amy);

    const int owner = signedInUser(u"bertram"_s);
    const ServiceReply added
        = post({{"mode", u"BUDDY_ADD"_s}, {"handle", u"amy"_s}, {"user_id", QString::number(owner)}});
    EXPECT_EQ(added.text("/body/buddy_user_id").toInt(), amy);
    EXPECT_FALSE(
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(amy)}, {"password", u"NEWPW"_s}}).empty());
    EXPECT_FALSE(login(u"Amy"_s, u"NEWPW"_s).empty());
    EXPECT_EQ(registerUser(u"bob"_s), 0) << "a new account still needs six characters";
}

TEST_P(ServiceAccounts, SignInAnswersEveryFieldTheClientReads)
{
    const ServiceReply inserted
        = post({{"mode", u"USER_INSERT"_s}, {"handle", u"Jürgen_Ö"_s}, {"password", u"A1B2&C3=D4 E5"_s},
            {"email", u"jü@example.org"_s}, {"mouth_top", u"-12"_s}, {"mouth_left", u"345"_s}});
    const int id = inserted.text("/body").toInt();
    ASSERT_GT(id, 0);

    const ServiceReply reply = login(u"jürgen_ö"_s, u"A1B2&C3=D4 E5"_s, u"peer.example.org"_s);
    ASSERT_TRUE(reply.parses()) << reply.body.toStdString();
    EXPECT_EQ(reply.text("/body/user_id").toInt(), id);
    EXPECT_EQ(reply.text("/body/handle"), u"Jürgen_Ö"_s); // as registered, not as typed
    EXPECT_EQ(reply.text("/body/password"), u"A1B2&C3=D4 E5"_s);
    EXPECT_EQ(reply.text("/body/email"), u"jü@example.org"_s);
    EXPECT_EQ(reply.text("/body/mouth_top"), u"-12"_s);
    EXPECT_EQ(reply.text("/body/mouth_left"), u"345"_s);
    EXPECT_TRUE(reply.has("/body/avatar"));
    EXPECT_TRUE(reply.base64("/body/avatar").isEmpty());
    EXPECT_TRUE(reply.body.contains("\xFC")) << "text travels as Windows-1252";
    EXPECT_TRUE(reply.body.contains("dt:dt=\"bin.base64\""));
    EXPECT_TRUE(reply.headers.contains("Content-Type: text/xml; charset=windows-1252"));

    const ServiceReply info = byId("USER_INFO", id);
    EXPECT_EQ(info.text("/body/status"), u"1"_s);
    EXPECT_EQ(info.text("/body/ip"), u"peer.example.org"_s);
    EXPECT_EQ(info.text("/body/mouth_top"), u"-12"_s);
    EXPECT_EQ(info.text("/body/mouth_left"), u"345"_s);
}

TEST_P(ServiceAccounts, WelcomeMessageOnlyOnTheFirstSignIn)
{
    registerUser(u"newcomer"_s);
    const ServiceReply first = login(u"newcomer"_s);
    EXPECT_FALSE(first.text("/body/message").isEmpty());
    const ServiceReply second = login(u"newcomer"_s);
    ASSERT_FALSE(second.empty());
    EXPECT_FALSE(second.has("/body/message"));
}

TEST_P(ServiceAccounts, WrongPasswordsAndUnknownHandlesAreRefusedWithAnEmptyReply)
{
    const int id = registerUser(u"carefulUser"_s, u"SECRET"_s);
    EXPECT_TRUE(login(u"carefulUser"_s, u"secret"_s).empty());
    EXPECT_TRUE(login(u"carefulUser"_s, u""_s).empty());
    EXPECT_TRUE(login(u"nobodyAtAll"_s, u"SECRET"_s).empty());
    EXPECT_EQ(byId("USER_INFO", id).text("/body/status"), u"0"_s) << "a refused sign-in changes nothing";
}

TEST_P(ServiceAccounts, AnEmptyIpStoresTheAddressTheRequestCameFrom)
{
    const int id = registerUser(u"roaming"_s);
    ASSERT_FALSE(login(u"roaming"_s, u"0123456789ABCDEF"_s, u""_s, Foreign).empty());
    EXPECT_EQ(byId("USER_INFO", id).text("/body/ip"), u"127.0.0.2"_s);
}

TEST_P(ServiceAccounts, PresenceFollowsStatusUpdatesAndLogout)
{
    const int id = signedInUser(u"presence"_s);
    EXPECT_EQ(
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(id)}, {"status", u"2"_s}}).text("/body"), u"1"_s);
    EXPECT_EQ(byId("USER_INFO", id).text("/body/status"), u"2"_s);
    EXPECT_EQ(byId("USER_INFO", id).text("/body/ip"), u"127.0.0.1"_s) << "busy is still signed in";

    for (const QString& bad : {u"3"_s, u"-1"_s, u"busy"_s, u""_s})
        EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(id)}, {"status", bad}}).empty());
    EXPECT_EQ(byId("USER_INFO", id).text("/body/status"), u"2"_s);

    EXPECT_FALSE(byId("LOGOUT", id).empty());
    const ServiceReply offline = byId("USER_INFO", id);
    EXPECT_EQ(offline.text("/body/status"), u"0"_s);
    EXPECT_TRUE(offline.has("/body/ip"));
    EXPECT_EQ(offline.text("/body/ip"), QString()) << "an offline user's last address is not handed out";
    EXPECT_EQ(byId("USER_INFO", registerUser(u"neverOnline"_s)).text("/body/ip"), QString());
}

TEST_P(ServiceAccounts, PasswordEmailAndMouthChangesAnswerWithContentAndLast)
{
    const int id = signedInUser(u"changer"_s, u"old@example.org"_s);
    const QString uid = QString::number(id);

    EXPECT_EQ(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"password", u"NEWPASS"_s}}).text("/body"), u"1"_s);
    EXPECT_TRUE(login(u"changer"_s).empty());
    EXPECT_FALSE(login(u"changer"_s, u"NEWPASS"_s).empty());

    EXPECT_EQ(
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"email", u"new@example.org"_s}}).text("/body"), u"1"_s);
    EXPECT_EQ(post({{"mode", u"USER_FIND"_s}, {"handle", u"CHANGER"_s}}).text("/body/email"), u"new@example.org"_s);

    EXPECT_EQ(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"mouth_top", u"40"_s}, {"mouth_left", u"-7"_s}})
                  .text("/body"),
        u"1"_s);
    const ServiceReply signedIn = login(u"changer"_s, u"NEWPASS"_s);
    EXPECT_EQ(signedIn.text("/body/mouth_top"), u"40"_s);
    EXPECT_EQ(signedIn.text("/body/mouth_left"), u"-7"_s);

    // One change per request; a mix, half a mouth, an empty password or a 16-bit overflow is refused.
    EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"status", u"1"_s}, {"email", u"x@y"_s}}).empty());
    EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"mouth_top", u"1"_s}}).empty());
    EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"password", u""_s}}).empty());
    EXPECT_TRUE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", uid}, {"mouth_top", u"32768"_s}, {"mouth_left", u"0"_s}})
                    .empty());
    EXPECT_FALSE(login(u"changer"_s, u"NEWPASS"_s).empty());
}

TEST_P(ServiceAccounts, FindAndInfoOfUnknownUsersAreEmpty)
{
    const int id = registerUser(u"findme"_s, u"PW"_s, u"find@me.org"_s);
    const ServiceReply found = post({{"mode", u"USER_FIND"_s}, {"handle", u"FindMe"_s}});
    EXPECT_EQ(found.text("/body/user_id").toInt(), id);
    EXPECT_EQ(found.text("/body/email"), u"find@me.org"_s);

    EXPECT_TRUE(post({{"mode", u"USER_FIND"_s}, {"handle", u"findme2"_s}}).empty());
    EXPECT_TRUE(byId("USER_INFO", id + 1000).empty());
    EXPECT_TRUE(byId("USER_AVATAR", id + 1000).empty());
}

TEST_P(ServiceAccounts, AvatarUploadWithTheClientsDelimitersRoundTripsExactBytes)
{
    const int id = signedInUser(u"painter"_s);
    const QByteArray picture = awkwardPicture(5000);
    EXPECT_EQ(uploadAvatar(picture, id).text("/body"), u"1"_s);

    const ServiceReply avatar = byId("USER_AVATAR", id);
    EXPECT_TRUE(avatar.body.contains("xmlns:dt=\"urn:schemas-microsoft-com:datatypes\""));
    EXPECT_EQ(avatar.base64("/body/avatar"), picture);
    EXPECT_EQ(login(u"painter"_s).base64("/body/avatar"), picture);

    // The standard two hyphens are read as well.
    const QByteArray other = awkwardPicture(300);
    ASSERT_EQ(
        client().postWithType(avatarBody(other, id, 2), "multipart/form-data; boundary=\"7d1f5a80420\"").text("/body"),
        u"1"_s);
    EXPECT_EQ(byId("USER_AVATAR", id).base64("/body/avatar"), other);
}

TEST_P(ServiceAccounts, AvatarSizeLimitAndContentAreChecked)
{
    const int id = signedInUser(u"measurer"_s);
    const QByteArray largest = awkwardPicture(120000);
    ASSERT_EQ(uploadAvatar(largest, id).text("/body"), u"1"_s);

    EXPECT_TRUE(uploadAvatar(awkwardPicture(120001), id).empty());
    EXPECT_TRUE(uploadAvatar("not a picture at all", id).empty());
    EXPECT_TRUE(uploadAvatar("", id).empty());
    const QByteArray truncated = avatarBody(awkwardPicture(100), id, 29, false);
    EXPECT_TRUE(client().postWithType(truncated, "multipart/form-data; boundary=7d1f5a80420").empty());
    EXPECT_TRUE(client().postWithType(avatarBody(awkwardPicture(100), id), "multipart/form-data").empty());
    EXPECT_EQ(byId("USER_AVATAR", id).base64("/body/avatar"), largest) << "refused uploads keep the old avatar";
}

TEST_P(ServiceAccounts, RestartKeepsAccountsBuddiesBlocksAndAvatars)
{
    const int alice = signedInUser(u"alicia"_s, u"alicia@example.org"_s);
    const int bob = signedInUser(u"bertram"_s);
    signedInUser(u"mallory"_s);
    const QString aid = QString::number(alice);
    const QString buddyId
        = post({{"mode", u"BUDDY_ADD"_s}, {"handle", u"bertram"_s}, {"user_id", aid}}).text("/body/buddy_id");
    ASSERT_FALSE(buddyId.isEmpty());
    ASSERT_FALSE(post({{"mode", u"USER_BLOCK"_s}, {"user_id", aid}, {"handle", u"mallory"_s}}).empty());
    const QByteArray picture = awkwardPicture(2000);
    ASSERT_FALSE(uploadAvatar(picture, alice).empty());
    ASSERT_FALSE(post({{"mode", u"USER_UPDATE"_s}, {"user_id", aid}, {"password", u"CHANGED"_s}}).empty());

    ASSERT_TRUE(service().restart()) << service().errorText().toStdString();
    client_ = std::make_unique<ServiceClient>(service().port());

    const ServiceReply signedIn = login(u"alicia"_s, u"CHANGED"_s);
    ASSERT_FALSE(signedIn.empty());
    EXPECT_EQ(signedIn.text("/body/user_id").toInt(), alice);
    EXPECT_EQ(signedIn.text("/body/email"), u"alicia@example.org"_s);
    EXPECT_EQ(signedIn.base64("/body/avatar"), picture);
    EXPECT_EQ(byId("BUDDY_LIST", alice).list("buddy", "buddy_id"), QStringList{buddyId});
    EXPECT_EQ(byId("BUDDY_LIST", alice).list("buddy", "buddy_user_id"), QStringList{QString::number(bob)});
    EXPECT_EQ(byId("BLOCK_LIST", alice).list("blocked_user", "handle"), QStringList{u"mallory"_s});
    EXPECT_EQ(registerUser(u"BERTRAM"_s), 0);
}

TEST_P(ServiceAccounts, StopsCleanlyOnSigterm)
{
    registerUser(u"someone"_s);
    EXPECT_TRUE(service().stop());
}

namespace {

// A client's long-term public key in the base64 the clients send: 32 bytes counting up from
// `first` (from 0xF0 its spelling holds '+' and '/').
QString publicKeyText(char first)
{
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = char(first + i);
    return QString::fromLatin1(key.toBase64());
}

} // namespace

class ServicePublicKeys : public ServiceTest {
protected:
    ServiceReply loginWithKey(const QString& handle, const QString& key, const char* from = Home)
    {
        return post({{"mode", u"LOGIN"_s}, {"handle", handle}, {"password", u"0123456789ABCDEF"_s}, {"ip", QString()},
                        {"public_key", key}},
            from);
    }
};
CONFABO_ON_EVERY_STORE(ServicePublicKeys);

TEST_P(ServicePublicKeys, TheKeyOfTheLastSignInIsHandedOutAndAMalformedOneChangesNothing)
{
    const int amy = registerUser(u"amelia"_s);
    ASSERT_GT(amy, 0);
    EXPECT_FALSE(byId("USER_INFO", amy, Foreign).has("/body/public_key")) << "a new user has no key";

    const QString key = publicKeyText(char(0xF0));
    ASSERT_TRUE(key.contains(u'+') && key.contains(u'/'));
    const ServiceReply signedIn = loginWithKey(u"amelia"_s, key);
    ASSERT_FALSE(signedIn.empty());
    EXPECT_EQ(signedIn.text("/body/user_id").toInt(), amy);
    const ServiceReply info = byId("USER_INFO", amy, Foreign);
    EXPECT_EQ(info.text("/body/public_key"), key);
    EXPECT_TRUE(info.body.endsWith("<mouth_left>0</mouth_left><public_key>" + key.toLatin1() + "</public_key></body>"))
        << "after every element older clients read, untyped: " << info.body.toStdString();

    const QString other = publicKeyText(char(0x10));
    ASSERT_FALSE(loginWithKey(u"amelia"_s, other).empty());
    EXPECT_EQ(byId("USER_INFO", amy, Foreign).text("/body/public_key"), other) << "a new key replaces the old one";

    // Refused as a whole, from another machine and while signed out: no sign-in, the key kept.
    ASSERT_FALSE(byId("LOGOUT", amy).empty());
    const QByteArray zeros(32, '\0');
    for (const QString& bad : {other.left(43) + u'!', QString::fromLatin1(zeros.left(31).toBase64()),
             QString::fromLatin1(zeros.toBase64())}) {
        EXPECT_TRUE(loginWithKey(u"amelia"_s, bad, Foreign).empty()) << bad.toStdString();
        const ServiceReply after = byId("USER_INFO", amy, Foreign);
        EXPECT_EQ(after.text("/body/status"), u"0"_s) << bad.toStdString();
        EXPECT_EQ(after.text("/body/public_key"), other) << bad.toStdString();
    }
    EXPECT_TRUE(
        post({{"mode", u"USER_UPDATE"_s}, {"user_id", QString::number(amy)}, {"status", u"1"_s}}, Foreign).empty())
        << "the refused sign-ins did not bind the account to their address";

    // A client that gives no key cannot decrypt: its sign-in takes the old key away.
    ASSERT_FALSE(login(u"amelia"_s).empty());
    const ServiceReply keyless = byId("USER_INFO", amy, Foreign);
    EXPECT_EQ(keyless.text("/body/status"), u"1"_s);
    EXPECT_FALSE(keyless.has("/body/public_key")) << keyless.body.toStdString();
}

TEST_P(ServicePublicKeys, ADatabaseFromBeforeKeysIsBroughtUpToDateAndItsUsersHaveNone)
{
    const int amy = signedInUser(u"amelia"_s);
    const int bo = registerUser(u"bonnie"_s);
    ASSERT_TRUE(service().stop());
    const QString previousVersion
        = GetParam() == Store::Sqlite ? u"PRAGMA user_version = 2"_s : u"UPDATE confabo_schema SET version = 2"_s;
    ASSERT_TRUE(executeInStore(u"DROP TABLE relays; DROP TABLE mail; ALTER TABLE users DROP COLUMN public_key; "
                               u"ALTER TABLE users DROP COLUMN ip6; "_s
        + previousVersion));

    ASSERT_TRUE(service().restart()) << service().errorText().toStdString();
    client_ = std::make_unique<ServiceClient>(service().port());
    const ServiceReply kept = byId("USER_INFO", amy, Foreign);
    EXPECT_EQ(kept.text("/body/status"), u"1"_s);
    EXPECT_EQ(kept.text("/body/ip"), QString::fromLatin1(Home));
    EXPECT_FALSE(kept.has("/body/public_key"));

    const QString key = publicKeyText(char(0x20));
    ASSERT_FALSE(loginWithKey(u"bonnie"_s, key).empty());
    EXPECT_EQ(byId("USER_INFO", bo, Foreign).text("/body/public_key"), key);
    EXPECT_FALSE(byId("USER_INFO", amy, Foreign).has("/body/public_key"));
}
