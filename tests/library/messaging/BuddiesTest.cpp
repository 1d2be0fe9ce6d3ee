// The buddy collection, and a buddy's looked-up values against a capture server.
#include "messaging/Buddies.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"

#include "CaptureServer.h"
#include "TempConfig.h"

#include "ErrorNumber.h"
#include "ManualPollingClock.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(Buddies, KeysIgnoreLetterCaseAndPositionsStartAtOne)
{
    TempConfig config;
    Buddies buddies;
    const auto amy = buddies.Add(1, 11, "Amy", "amy@x", "Amy");
    const auto bo = buddies.Add(2, 12, "Bo", "bo@x");
    EXPECT_EQ(buddies.Count(), 2);
    EXPECT_EQ(buddies.Item("amy"), amy);
    EXPECT_EQ(buddies.Item("AMY"), amy);
    EXPECT_EQ(buddies.Item(1), amy);
    EXPECT_EQ(buddies.Item(2), bo);
    EXPECT_EQ(buddies.Item("Bo"), nullptr) << "added without a key";
    EXPECT_EQ(buddies.Item("nobody"), nullptr);
    EXPECT_EQ(buddies.Item(0), nullptr);
    EXPECT_EQ(buddies.Item(3), nullptr);
    EXPECT_EQ(buddies.Item(""), nullptr);
    EXPECT_EQ(amy->BuddyID(), 1);
    EXPECT_EQ(amy->BuddyUserID(), 11);
    EXPECT_EQ(amy->handle(), "Amy");
    EXPECT_EQ(amy->Email(), "amy@x");
}

TEST(Buddies, DuplicateKeyRaisesAndLeavesTheCollectionAlone)
{
    TempConfig config;
    Buddies buddies;
    buddies.Add(1, 11, "Amy", "", "Amy");
    EXPECT_EQ(errorOf([&] { buddies.Add(2, 12, "amy", "", "aMY"); }), ConfaboError::DuplicateKey);
    EXPECT_EQ(buddies.Count(), 1);
    // Items without a key never collide.
    buddies.Add(3, 13, "x", "");
    buddies.Add(4, 14, "x", "");
    EXPECT_EQ(buddies.Count(), 3);
}

TEST(Buddies, RemoveByPositionOrKeyKeepsOrderAndRaisesForMissing)
{
    TempConfig config;
    Buddies buddies;
    for (const char* h : {"a", "b", "c", "d"})
        buddies.Add(0, 0, h, "", h);
    buddies.Remove(2);
    buddies.Remove("C");
    QStringList order;
    for (const auto& b : buddies)
        order << b->handle();
    EXPECT_EQ(order, (QStringList{"a", "d"}));
    EXPECT_EQ(buddies.Item(2)->handle(), "d");
    EXPECT_EQ(errorOf([&] { buddies.Remove(3); }), ConfaboError::InvalidArgument);
    EXPECT_EQ(errorOf([&] { buddies.Remove(0); }), ConfaboError::InvalidArgument);
    EXPECT_EQ(errorOf([&] { buddies.Remove("c"); }), ConfaboError::InvalidArgument);
    EXPECT_EQ(buddies.Count(), 2);
    // A removed key may be used again.
    buddies.Add(0, 0, "c", "", "c");
    EXPECT_EQ(buddies.Item("c")->handle(), "c");
}

class BuddyLookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ServiceChannel::current();
        ServiceChannel::current().server = server_.serverSetting();
    }
    void TearDown() override { ServiceChannel::current() = saved_; }

    std::shared_ptr<Buddy> buddy(int interval = 30)
    {
        Settings::PollingInterval.write(QString::number(interval));
        return buddies_.Add(5, 55, "Cy", "cy@x", "Cy");
    }

    TempConfig config_;
    ManualPollingClock clock_;
    CaptureServer server_;
    ServiceChannel saved_;
    Buddies buddies_;
};

TEST_F(BuddyLookupTest, EachValueIsAskedForOncePerInterval)
{
    server_.replyWithXml("<body><status>1</status><ip>10.0.0.5</ip><mouth_top>40</mouth_top>"
                         "<mouth_left>-3</mouth_left></body>");
    auto cy = buddy();
    EXPECT_EQ(cy->Status(), CFB_AVAILABLE);
    EXPECT_EQ(cy->Status(), CFB_AVAILABLE);
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(server_.lastBody(), "mode=USER_INFO&user_id=55");
    // The one reply answers the address and the mouth too.
    EXPECT_EQ(cy->IPAddress(), "10.0.0.5");
    EXPECT_EQ(cy->MouthTop(), 40);
    EXPECT_EQ(cy->MouthLeft(), -3);
    cy->IPAddress();
    cy->MouthTop();
    cy->MouthLeft();
    EXPECT_EQ(server_.requestCount(), 1);
}

TEST_F(BuddyLookupTest, ValueIsAskedForAgainOnlyOnceTheIntervalHasPassed)
{
    server_.replyWithXml("<body><status>2</status><mouth_top>7</mouth_top></body>");
    auto cy = buddy(10);
    EXPECT_EQ(cy->Status(), CFB_BUSY);
    server_.replyWithXml("<body><status>0</status><mouth_top>8</mouth_top></body>");
    clock_.advance(10);
    EXPECT_EQ(cy->Status(), CFB_BUSY) << "the whole interval reuses the reply";
    EXPECT_EQ(cy->MouthTop(), 7) << "read from the reply of the interval, not asked for again";
    clock_.advance(1);
    EXPECT_EQ(cy->MouthTop(), 8);
    EXPECT_EQ(cy->Status(), CFB_OFFLINE) << "the same new reply";
    EXPECT_EQ(server_.requestCount(), 2);
}

TEST_F(BuddyLookupTest, FailedLookupKeepsTheValueAndWaitsForTheNextInterval)
{
    server_.replyWithXml("<body><status>1</status><ip>a.example</ip></body>");
    auto cy = buddy(1);
    EXPECT_EQ(cy->Status(), CFB_AVAILABLE);
    clock_.advance(2);
    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_EQ(cy->Status(), CFB_AVAILABLE);
    EXPECT_EQ(server_.requestCount(), 2);
    server_.replyWithXml("<body><status>2</status></body>");
    EXPECT_EQ(cy->Status(), CFB_AVAILABLE) << "no retry within the interval";
    EXPECT_EQ(server_.requestCount(), 2);
}

TEST_F(BuddyLookupTest, ReplyWithoutTheElementOrWithBadNumberRaises)
{
    server_.replyWithXml("<body><ip>x</ip><mouth_top>high</mouth_top></body>");
    auto cy = buddy();
    EXPECT_EQ(errorOf([&] { cy->Status(); }), ConfaboError::ObjectNotSet);
    EXPECT_EQ(errorOf([&] { cy->MouthTop(); }), ConfaboError::TypeMismatch);
    EXPECT_EQ(cy->IPAddress(), "x");
}

TEST_F(BuddyLookupTest, UnknownPresenceValueCountsAsOffline)
{
    server_.replyWithXml("<body><status>7</status></body>");
    EXPECT_EQ(buddy()->Status(), CFB_OFFLINE);
}

TEST_F(BuddyLookupTest, AvatarFallsBackToTheDefaultPictureAndIsAskedForOncePerInterval)
{
    const QImage& def = Buddy::DefaultAvatar();
    ASSERT_EQ(def.size(), QSize(142, 139));

    server_.replyWithXml(
        "<body><avatar xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\"/></body>");
    auto cy = buddy();
    EXPECT_EQ(cy->Avatar().size(), QSize(142, 139));
    EXPECT_TRUE(cy->usesDefaultAvatar());
    cy->Avatar();
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(server_.lastBody(), "mode=USER_AVATAR&user_id=55");
    clock_.advance(31);
    cy->Avatar();
    EXPECT_EQ(server_.requestCount(), 2) << "asked for again after the interval";

    for (const QByteArray& reply :
        {QByteArray("<body><avatar xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">"
             + QByteArray("not a picture").toBase64() + "</avatar></body>"),
            QByteArray("<body/>"), QByteArray()}) {
        server_.replyWithXml(reply);
        auto other = buddies_.Add(0, 56, "D" + QString::number(server_.requestCount()), "");
        EXPECT_EQ(other->Avatar().size(), QSize(142, 139)) << reply.constData();
        EXPECT_TRUE(other->usesDefaultAvatar());
    }
}

TEST_F(BuddyLookupTest, LoadByHandleFindsAUserOrChangesNothing)
{
    Buddy b;
    server_.replyWithXml("<body><user_id>77</user_id><email>z@x</email></body>");
    ASSERT_TRUE(b.LoadByHandle("Zed"));
    EXPECT_EQ(server_.lastBody(), "mode=USER_FIND&handle=Zed");
    EXPECT_EQ(b.handle(), "Zed");
    EXPECT_EQ(b.BuddyUserID(), 77);
    EXPECT_EQ(b.BuddyID(), 0);
    EXPECT_EQ(b.Email(), "z@x");

    server_.replyRaw("HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_FALSE(b.LoadByHandle("Nobody"));
    EXPECT_EQ(b.handle(), "Zed");
}

TEST_F(BuddyLookupTest, RemoveIsTrueOnlyForOneAndKeepsTheBuddyInItsCollection)
{
    auto cy = buddy();
    server_.replyWithXml("<body>1</body>");
    EXPECT_TRUE(cy->Remove());
    EXPECT_EQ(server_.lastBody(), "mode=BUDDY_REMOVE&buddy_id=5");
    EXPECT_EQ(buddies_.Item("cy"), cy);
    server_.replyWithXml("<body>0</body>");
    EXPECT_FALSE(cy->Remove());
    server_.setBehaviour(CaptureServer::Behaviour::CloseAtOnce);
    EXPECT_FALSE(cy->Remove());
}

TEST(Buddy, PollingIntervalThatIsNotANumberRaises)
{
    TempConfig config;
    Settings::PollingInterval.write("often");
    EXPECT_EQ(errorOf([] { Buddy b; }), ConfaboError::TypeMismatch);
}
