// Buddy list, blocking, profile export and account changes of a signed-in Confabo object,
// against a capture server that answers each operation.
#include "messaging/Confabo.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"

#include "CaptureServer.h"
#include "TempConfig.h"

#include "ErrorNumber.h"
#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace cfb;

namespace {

const QByteArray SignedIn = "<body><user_id>17</user_id><handle>Amy</handle><password>PW</password>"
                            "<email>amy@x</email><mouth_left>1</mouth_left><mouth_top>2</mouth_top>"
                            "<avatar/></body>";

class AccountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsStore::save("Data", "CFBSERVER", server_.serverSetting());
        server_.replyWithXmlFor("LOGIN", SignedIn);
        server_.replyWithXmlFor("BUDDY_LIST",
            "<body><buddy><buddy_id>3</buddy_id><buddy_user_id>30</buddy_user_id>"
            "<handle>Bo</handle><email>bo@x</email></buddy>"
            "<buddy><buddy_id>4</buddy_id><buddy_user_id>40</buddy_user_id>"
            "<handle>Cy &amp; Co</handle><email>cy@x</email></buddy></body>");
        server_.replyWithXmlFor("BLOCK_LIST",
            "<body><blocked_user><handle>Troll</handle></blocked_user>"
            "<blocked_user><handle>troll</handle></blocked_user></body>");
        confabo_ = std::make_unique<Confabo>();
    }

    void signIn() { ASSERT_TRUE(confabo_->Login("amy", "PW")); }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

    static QByteArray pngBytes()
    {
        QImage image(6, 7, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    TempConfig config_;
    QTemporaryDir dir_;
    CaptureServer server_;
    std::unique_ptr<Confabo> confabo_;
};

} // namespace

TEST_F(AccountTest, SignInLoadsBuddiesAndBlockedUsers)
{
    signIn();
    const auto buddies = confabo_->Buddies();
    ASSERT_EQ(buddies->Count(), 2);
    EXPECT_EQ(buddies->Item(1)->handle(), "Bo");
    EXPECT_EQ(buddies->Item("cy & co")->BuddyUserID(), 40);
    EXPECT_EQ(buddies->Item("bo")->BuddyID(), 3);
    EXPECT_TRUE(confabo_->IsBlocked("Troll"));
    EXPECT_TRUE(confabo_->IsBlocked("troll"));
    EXPECT_FALSE(confabo_->IsBlocked("TROLL")) << "blocked handles keep their letter case";

    // A second sign-in replaces the collection.
    server_.replyWithXmlFor("BUDDY_LIST", "<body/>");
    server_.replyWithXmlFor("BLOCK_LIST", "<body/>");
    signIn();
    EXPECT_EQ(confabo_->Buddies()->Count(), 0);
    EXPECT_NE(confabo_->Buddies(), buddies);
    EXPECT_FALSE(confabo_->IsBlocked("Troll"));
}

TEST_F(AccountTest, DuplicateHandlesInTheListsFailSignInAfterTheUserFields)
{
    server_.replyWithXmlFor("BUDDY_LIST",
        "<body><buddy><buddy_id>3</buddy_id><buddy_user_id>30</buddy_user_id>"
        "<handle>Bo</handle><email/></buddy><buddy><buddy_id>4</buddy_id>"
        "<buddy_user_id>40</buddy_user_id><handle>BO</handle><email/></buddy></body>");
    EXPECT_EQ(errorOf([&] { confabo_->Login("amy", "PW"); }), ConfaboError::DuplicateKey);
    EXPECT_EQ(confabo_->userID(), 17);

    server_.replyWithXmlFor("BUDDY_LIST", "<body/>");
    server_.replyWithXmlFor("BLOCK_LIST",
        "<body><blocked_user><handle>x</handle></blocked_user>"
        "<blocked_user><handle>x</handle></blocked_user></body>");
    EXPECT_EQ(errorOf([&] { confabo_->Login("amy", "PW"); }), ConfaboError::DuplicateKey);
}

TEST_F(AccountTest, BuddiesAreCreatedOnFirstUseAndCanBeReplaced)
{
    const auto first = confabo_->Buddies();
    EXPECT_EQ(first->Count(), 0);
    EXPECT_EQ(confabo_->Buddies(), first);
    confabo_->CleanUp();
    EXPECT_NE(confabo_->Buddies(), first);
    auto mine = std::make_shared<Buddies>();
    confabo_->setBuddies(mine);
    EXPECT_EQ(confabo_->Buddies(), mine);
}

TEST_F(AccountTest, AddBuddyJoinsTheCollectionOnlyForANewRelation)
{
    signIn();
    server_.replyWithXmlFor("BUDDY_ADD",
        "<body><buddy_id>9</buddy_id><buddy_user_id>90</buddy_user_id>"
        "<handle>Dee</handle><email>dee@x</email></body>");
    EXPECT_EQ(confabo_->AddBuddy("dee@x"), "Dee");
    EXPECT_EQ(server_.lastBody(), "mode=BUDDY_ADD&handle=dee%40x&user_id=17");
    EXPECT_EQ(confabo_->Buddies()->Item("dee")->BuddyUserID(), 90);

    server_.replyWithXmlFor("BUDDY_ADD", "<body><handle>Bo</handle></body>");
    EXPECT_EQ(confabo_->AddBuddy("Bo"), "Bo");
    server_.replyWithXmlFor("BUDDY_ADD", "<body><handle/></body>");
    EXPECT_EQ(confabo_->AddBuddy("nobody"), "");
    EXPECT_EQ(confabo_->Buddies()->Count(), 3);

    server_.replyWithXmlFor("BUDDY_ADD", "<body><buddy_id>10</buddy_id><handle>E</handle></body>");
    EXPECT_EQ(errorOf([&] { confabo_->AddBuddy("E"); }), ConfaboError::ObjectNotSet);

    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_EQ(confabo_->AddBuddy("Fay"), "");
}

TEST_F(AccountTest, AvailableUsersIsNoneBeforeSignInAndANewCollectionAfter)
{
    EXPECT_EQ(confabo_->AvailableUsers(), nullptr);
    EXPECT_EQ(server_.requestCount(), 0);
    signIn();
    server_.replyWithXmlFor("USER_LIST",
        "<body><user><user_id>30</user_id><handle>Bo</handle><email>bo@x</email></user>"
        "<user><user_id>50</user_id><handle>Eve</handle><email/></user></body>");
    const auto users = confabo_->AvailableUsers();
    ASSERT_EQ(users->Count(), 2);
    EXPECT_EQ(users->Item("eve")->BuddyUserID(), 50);
    EXPECT_EQ(users->Item(1)->BuddyID(), 0);
    EXPECT_EQ(confabo_->Buddies()->Count(), 2) << "the user's own buddies are untouched";

    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_EQ(confabo_->AvailableUsers()->Count(), 0);
}

TEST_F(AccountTest, BlockAndUnblockAskOnlyWhenTheyWouldChangeSomething)
{
    signIn();
    const int before = server_.requestCount();
    EXPECT_FALSE(confabo_->BlockUser("Troll"));
    EXPECT_FALSE(confabo_->UnBlockUser("Nobody"));
    EXPECT_EQ(server_.requestCount(), before);

    server_.replyWithXml("<body>1</body>");
    EXPECT_TRUE(confabo_->BlockUser("Spam Bot"));
    EXPECT_EQ(server_.lastBody(), "mode=USER_BLOCK&user_id=17&handle=Spam+Bot");
    EXPECT_TRUE(confabo_->IsBlocked("Spam Bot"));
    EXPECT_TRUE(confabo_->UnBlockUser("Troll"));
    EXPECT_EQ(server_.lastBody(), "mode=USER_UNBLOCK&user_id=17&handle=Troll");
    EXPECT_FALSE(confabo_->IsBlocked("Troll"));

    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(confabo_->BlockUser("Other"));
    EXPECT_FALSE(confabo_->IsBlocked("Other"));
    EXPECT_FALSE(confabo_->UnBlockUser("Spam Bot"));
    EXPECT_TRUE(confabo_->IsBlocked("Spam Bot"));
}

TEST_F(AccountTest, BlockedUserListEndsWithOneEmptyElement)
{
    signIn();
    EXPECT_EQ(confabo_->GetBlockedUserList(), (QStringList{"Troll", "troll", ""}));
    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_EQ(confabo_->GetBlockedUserList(), QStringList{""});
}

TEST_F(AccountTest, WriteXmlExportsTheProfileAndEscapesMarkup)
{
    EXPECT_EQ(confabo_->WriteXML(),
        "<?xml version=\"1.0\"?>\r\n<body>\r\n<user_id>0</user_id>\r\n<handle></handle>\r\n"
        "<password></password>\r\n<email></email>\r\n<buddies>\r\n</buddies>\r\n</body>");
    signIn();
    server_.replyWithXmlFor("USER_INFO", "<body><ip>bo.example</ip></body>");
    confabo_->Buddies()->Remove("Cy & Co");
    confabo_->Buddies()->Add(0, 41, "<Di>", "d&i@x", "Di");
    EXPECT_EQ(confabo_->WriteXML(),
        "<?xml version=\"1.0\"?>\r\n<body>\r\n<user_id>17</user_id>\r\n<handle>Amy</handle>\r\n"
        "<password>PW</password>\r\n<email>amy@x</email>\r\n<buddies>\r\n"
        "\t<buddy>\r\n\t\t<handle>Bo</handle>\r\n\t\t<ip>bo.example</ip>\r\n\t\t<email>bo@x</email>\r\n   </buddy>\r\n"
        "\t<buddy>\r\n\t\t<handle>&lt;Di&gt;</handle>\r\n\t\t<ip>bo.example</ip>\r\n\t\t<email>d&amp;i@x</email>\r\n"
        "   </buddy>\r\n</buddies>\r\n</body>");
}

TEST_F(AccountTest, RegisterChecksTheHandleThenCreatesTheAccount)
{
    for (const char* bad : {"a b", "a@b", "a`b", "a'b", "a\"b"})
        EXPECT_FALSE(confabo_->Register(bad, "pw", "e@x")) << bad;
    EXPECT_EQ(server_.requestCount(), 0);

    server_.replyWithXmlFor("USER_INSERT", "<body>123</body>");
    EXPECT_TRUE(confabo_->Register("Newbie", "P&W", "n@x"));
    EXPECT_EQ(server_.bodies(),
        QList<QByteArray>{"mode=USER_INSERT&handle=Newbie&password=P%26W&email=n%40x&mouth_top=0&mouth_left=0"});
    EXPECT_EQ(confabo_->userID(), 0) << "registering does not sign in";
}

TEST_F(AccountTest, RegisterUploadsTheAvatarFileExactly)
{
    QByteArray gif("GIF89a");
    for (int i = 0; i < 1994; ++i)
        gif.append(char(i % 251));
    const QString path = writeFile("me.gif", gif);
    server_.replyWithXmlFor("USER_INSERT", "<body>123</body>");
    EXPECT_TRUE(confabo_->Register("Newbie", "pw", "n@x", path, -5, 7));
    const QList<QByteArray> bodies = server_.bodies();
    ASSERT_EQ(bodies.size(), 2);
    EXPECT_EQ(bodies[0], "mode=USER_INSERT&handle=Newbie&password=pw&email=n%40x&mouth_top=7&mouth_left=-5");
    EXPECT_EQ(bodies[1], AvatarUploadBody(gif, 123));
}

TEST_F(AccountTest, RegisterFailures)
{
    server_.replyWithXmlFor("USER_INSERT", "");
    server_.replyRaw("HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_FALSE(confabo_->Register("Tabitha", "pw", "e@x"));

    server_.replyWithXmlFor("USER_INSERT", "<body>handle taken</body>");
    EXPECT_EQ(errorOf([&] { confabo_->Register("Tabitha", "pw", "e@x"); }), ConfaboError::TypeMismatch);

    server_.replyWithXmlFor("USER_INSERT", "<reply>5</reply>");
    EXPECT_FALSE(confabo_->Register("Odette", "pw", "e@x"));

    server_.replyWithXmlFor("USER_INSERT", "<body>124</body>");
    const int before = server_.requestCount();
    EXPECT_EQ(errorOf([&] { confabo_->Register("Lorenzo", "pw", "e@x", dir_.filePath("missing.gif")); }),
        ConfaboError::FileNotFound);
    EXPECT_EQ(server_.requestCount(), before + 1) << "the account exists; no upload was posted";
}

TEST_F(AccountTest, PasswordAndEmailChangeOnlyWhenTheServiceTookThem)
{
    EXPECT_FALSE(confabo_->ChangePassword("new"));
    EXPECT_FALSE(confabo_->ChangeEmail("new@x"));
    EXPECT_EQ(server_.requestCount(), 0);

    signIn();
    server_.replyWithXmlFor("USER_UPDATE", "<body>1</body>");
    EXPECT_TRUE(confabo_->ChangePassword("N3W"));
    EXPECT_EQ(server_.lastBody(), "mode=USER_UPDATE&user_id=17&password=N3W");
    EXPECT_EQ(confabo_->Password(), "N3W");
    EXPECT_TRUE(confabo_->ChangeEmail("a b@x"));
    EXPECT_EQ(server_.lastBody(), "mode=USER_UPDATE&user_id=17&email=a+b%40x");
    EXPECT_EQ(confabo_->Email(), "a b@x");

    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(confabo_->ChangePassword("lost"));
    EXPECT_EQ(confabo_->Password(), "N3W");
    EXPECT_FALSE(confabo_->ChangeEmail("lost@x"));
    EXPECT_EQ(confabo_->Email(), "a b@x");
}

TEST_F(AccountTest, SetAvatarSendsTheMouthAndUploadsAnExistingFile)
{
    EXPECT_FALSE(confabo_->SetAvatar("", 1, 2));
    signIn();
    const int before = server_.requestCount();
    server_.replyWithXmlFor("USER_UPDATE", "<body>1</body>");
    EXPECT_TRUE(confabo_->SetAvatar("", 12, -4));
    EXPECT_EQ(server_.lastBody(), "mode=USER_UPDATE&user_id=17&mouth_top=-4&mouth_left=12");
    EXPECT_EQ(confabo_->MouthLeft(), 1) << "the object's mouth changes at the next sign-in";
    EXPECT_TRUE(confabo_->SetAvatar(dir_.filePath("missing.png"), 12, -4));
    EXPECT_EQ(server_.requestCount(), before + 2);

    const QByteArray png = pngBytes();
    const QString path = writeFile("me.png", png);
    server_.replyWithXml("<body>1</body>");
    EXPECT_TRUE(confabo_->SetAvatar(path, 12, -4));
    EXPECT_EQ(server_.lastBody(), AvatarUploadBody(png, 17));
    EXPECT_EQ(confabo_->Avatar().size(), QSize(6, 7));

    const QString junk = writeFile("junk.gif", "not a picture");
    EXPECT_EQ(errorOf([&] { confabo_->SetAvatar(junk, 0, 0); }), ConfaboError::InvalidPicture);
    EXPECT_EQ(server_.lastBody(), AvatarUploadBody("not a picture", 17)) << "raised after the upload";
    EXPECT_EQ(confabo_->Avatar().size(), QSize(6, 7));
}

TEST_F(AccountTest, SetAvatarReportsTheUploadReply)
{
    signIn();
    server_.replyWithXmlFor("USER_UPDATE", "<body>1</body>");
    server_.replyRaw("HTTP/1.0 200 OK\r\n\r\n"); // the upload (multipart) is refused
    const QString path = writeFile("me.png", pngBytes());
    EXPECT_FALSE(confabo_->SetAvatar(path, 0, 0));
    EXPECT_TRUE(confabo_->Avatar().isNull());
}

TEST_F(AccountTest, MaxAvatarSize)
{
    EXPECT_EQ(Confabo::MaxAvatarSize, 120000);
}
