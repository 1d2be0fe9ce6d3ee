// The library against the real confabo-service with its own database: what a user does from
// registering to removing a buddy, as two users on one machine.
#include "messaging/Confabo.h"
#include "messaging/ConfaboError.h"
#include "messaging/FormRequest.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"

#include "ManualPollingClock.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

class LiveServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString();
        Settings::ServiceHost.write(service_.serverSetting());
        Settings::ServicePath.write("/cfb_maint.asp");
        Settings::PollingInterval.write("1");
        Settings::BlockAllData.write("True");
        previous_ = UserNotice::setHandler([this](const QString& text, const QString&) { notices_ << text; });
    }
    void TearDown() override { UserNotice::setHandler(previous_); }

    std::unique_ptr<Confabo> signedIn(const QString& handle, const QString& email, const QString& avatarPath = {})
    {
        auto confabo = std::make_unique<Confabo>();
        EXPECT_TRUE(
            confabo->Register(handle, "C0FFEE" + handle.toUpper().toUtf8().toHex().toUpper(), email, avatarPath));
        EXPECT_TRUE(
            confabo->Login(handle, "C0FFEE" + handle.toUpper().toUtf8().toHex().toUpper(), "host-of-" + handle));
        return confabo;
    }

    QString gifFile(const QString& name)
    {
        QFile resource(":/confabo/default_avatar.gif");
        resource.open(QIODevice::ReadOnly);
        const QString path = dir_.filePath(name);
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(resource.readAll());
        return path;
    }

    TempConfig config_;
    ManualPollingClock clock_;
    QTemporaryDir dir_;
    ServiceProcess service_;
    UserNotice::Handler previous_;
    QStringList notices_;
};

} // namespace

TEST_F(LiveServiceTest, RegisterThenSignInAndOut)
{
    Confabo amy;
    EXPECT_TRUE(amy.Register("Amelia", "AAAA", "amelia@example.org", {}, 12, 34));
    EXPECT_FALSE(amy.Register("amelia", "BBBB", "other@example.org")) << "handles are unique ignoring case";
    EXPECT_FALSE(amy.Login("Amelia", "wrong"));
    EXPECT_EQ(amy.userID(), 0);

    ASSERT_TRUE(amy.Login("Amelia", "AAAA", "10.1.2.3"));
    EXPECT_EQ(notices_.size(), 1) << "a welcome on the first sign-in";
    EXPECT_GT(amy.userID(), 0);
    EXPECT_EQ(amy.handle(), "Amelia");
    EXPECT_EQ(amy.Password(), "AAAA");
    EXPECT_EQ(amy.Email(), "amelia@example.org");
    EXPECT_EQ(amy.MouthLeft(), 12);
    EXPECT_EQ(amy.MouthTop(), 34);
    EXPECT_EQ(amy.Status(), CFB_AVAILABLE);
    EXPECT_EQ(amy.Buddies()->Count(), 0);
    EXPECT_EQ(amy.GetBlockedUserList(), QStringList{""});
    EXPECT_FALSE(amy.Logout());
    ASSERT_TRUE(amy.Login("Amelia", "AAAA"));
    EXPECT_EQ(notices_.size(), 1) << "and only then";
}

TEST_F(LiveServiceTest, BuddiesSeeEachOthersPresenceOncePerInterval)
{
    auto amy = signedIn("Amelia", "amelia@example.org");
    auto bo = signedIn("Bonnie", "bonnie@example.org");

    EXPECT_EQ(amy->AddBuddy("bonnie@example.org"), "Bonnie") << "by e-mail address";
    ASSERT_EQ(amy->Buddies()->Count(), 1);
    EXPECT_EQ(amy->AddBuddy("BONNIE"), "Bonnie") << "an existing buddy is not added twice";
    EXPECT_EQ(amy->Buddies()->Count(), 1);
    EXPECT_EQ(amy->AddBuddy("nobody-at-all"), "");
    EXPECT_EQ(bo->AddBuddy("Amelia"), "Amelia") << "by handle";

    const auto boSeenByAmy = amy->Buddies()->Item("bonnie");
    ASSERT_NE(boSeenByAmy, nullptr);
    EXPECT_EQ(boSeenByAmy->BuddyUserID(), bo->userID());
    EXPECT_EQ(boSeenByAmy->Status(), CFB_AVAILABLE);
    EXPECT_EQ(boSeenByAmy->IPAddress(), "host-of-Bonnie");

    ASSERT_TRUE(bo->SetStatus(CFB_BUSY));
    EXPECT_EQ(boSeenByAmy->Status(), CFB_AVAILABLE) << "reused within the interval";
    clock_.advance(2);
    EXPECT_EQ(boSeenByAmy->Status(), CFB_BUSY);

    bo->Logout();
    clock_.advance(2);
    EXPECT_EQ(boSeenByAmy->Status(), CFB_OFFLINE);

    // The list survives a new sign-in.
    ASSERT_TRUE(amy->Login("Amelia", amy->Password(), "host-of-Amelia"));
    ASSERT_EQ(amy->Buddies()->Count(), 1);
    EXPECT_EQ(amy->Buddies()->Item(1)->handle(), "Bonnie");

    const auto again = amy->Buddies()->Item("Bonnie");
    EXPECT_TRUE(again->Remove());
    ASSERT_TRUE(amy->Login("Amelia", amy->Password()));
    EXPECT_EQ(amy->Buddies()->Count(), 0);
}

TEST_F(LiveServiceTest, BlockAndUnblockRoundTrip)
{
    auto amy = signedIn("Amelia", "amelia@example.org");
    auto troll = signedIn("Griefer", "t@example.org");
    EXPECT_TRUE(amy->BlockUser("Griefer"));
    EXPECT_TRUE(amy->IsBlocked("Griefer"));
    EXPECT_FALSE(amy->BlockUser("Griefer"));
    EXPECT_EQ(amy->GetBlockedUserList(), (QStringList{"Griefer", ""}));

    ASSERT_TRUE(amy->Login("Amelia", amy->Password()));
    EXPECT_TRUE(amy->IsBlocked("Griefer")) << "the block is kept by the service";

    EXPECT_TRUE(amy->UnBlockUser("Griefer"));
    EXPECT_FALSE(amy->IsBlocked("Griefer"));
    EXPECT_EQ(amy->GetBlockedUserList(), QStringList{""});
    ASSERT_TRUE(amy->Login("Amelia", amy->Password()));
    EXPECT_FALSE(amy->IsBlocked("Griefer"));
}

TEST_F(LiveServiceTest, AvailableUsersAreTheOthersSignedInNow)
{
    auto amy = signedIn("Amelia", "amelia@example.org");
    auto bo = signedIn("Bonnie", "bonnie@example.org");
    auto cy = signedIn("Cyrano", "cyrano@example.org");
    cy->Logout();
    const auto users = amy->AvailableUsers();
    ASSERT_NE(users, nullptr);
    ASSERT_EQ(users->Count(), 1);
    EXPECT_EQ(users->Item("bonnie")->BuddyUserID(), bo->userID());
    EXPECT_EQ(amy->Buddies()->Count(), 0);
}

TEST_F(LiveServiceTest, AvatarUploadedAtRegistrationComesBackByteForByte)
{
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const QString path = dir_.filePath("me.png");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(png);
    f.close();

    auto amy = signedIn("Amelia", "amelia@example.org", path);
    EXPECT_EQ(amy->Avatar().size(), QSize(20, 10));
    const XmlDocument stored = FormRequest("USER_AVATAR").add("user_id", amy->userID()).post();
    EXPECT_EQ(stored.selectSingle("/body/avatar").typedValue(), png);
    auto bo = signedIn("Bonnie", "bonnie@example.org");
    ASSERT_EQ(bo->AddBuddy("Amelia"), "Amelia");
    EXPECT_EQ(bo->Buddies()->Item("Amelia")->Avatar().size(), QSize(20, 10));
    EXPECT_FALSE(bo->Buddies()->Item("Amelia")->usesDefaultAvatar());

    // A buddy without an avatar shows the default picture.
    ASSERT_EQ(amy->AddBuddy("Bonnie"), "Bonnie");
    EXPECT_TRUE(amy->Buddies()->Item("Bonnie")->Avatar().size() == QSize(142, 139));
    EXPECT_TRUE(amy->Buddies()->Item("Bonnie")->usesDefaultAvatar());

    // SetAvatar replaces it and moves the mouth.
    ASSERT_TRUE(bo->SetAvatar(gifFile("new.gif"), 70, 80));
    ASSERT_TRUE(bo->Login("Bonnie", bo->Password()));
    EXPECT_EQ(bo->Avatar().size(), QSize(142, 139));
    EXPECT_EQ(bo->MouthLeft(), 70);
    EXPECT_EQ(bo->MouthTop(), 80);
}

TEST_F(LiveServiceTest, PasswordAndEmailChanges)
{
    auto amy = signedIn("Amelia", "amelia@example.org");
    ASSERT_TRUE(amy->ChangePassword("NEWPASS"));
    ASSERT_TRUE(amy->ChangeEmail("amelia@new.example.org"));
    Confabo again;
    EXPECT_FALSE(again.Login("Amelia", "C0FFEE414D454C4941"));
    ASSERT_TRUE(again.Login("Amelia", "NEWPASS"));
    EXPECT_EQ(again.Email(), "amelia@new.example.org");
}

TEST_F(LiveServiceTest, UnreachableServiceGivesTheFailureResults)
{
    auto amy = signedIn("Amelia", "amelia@example.org");
    ASSERT_TRUE(service_.stop());
    EXPECT_FALSE(amy->SetStatus(CFB_BUSY));
    EXPECT_EQ(amy->Status(), CFB_AVAILABLE);
    EXPECT_EQ(amy->AddBuddy("Bonnie"), "");
    EXPECT_FALSE(amy->BlockUser("Bonnie"));
    EXPECT_FALSE(amy->ChangePassword("x"));
    EXPECT_EQ(amy->AvailableUsers()->Count(), 0);
    EXPECT_EQ(amy->GetBlockedUserList(), QStringList{""});
    EXPECT_FALSE(amy->Register("Newbie", "pw", "n@x"));
    Buddy b;
    EXPECT_FALSE(b.LoadByHandle("Amelia"));
    EXPECT_FALSE(amy->Login("Amelia", amy->Password()));
}
