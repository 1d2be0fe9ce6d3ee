// Messages and frames in the plain format between two Confabo objects without keys over loopback
// UDP, signed in to the real service, and the arrival handling fed with crafted datagrams.
#include "channel/Identity.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "NoisyJpeg.h"
#include "PeerSocket.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QBuffer>
#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

struct Received {
    QStringList events; // "message:<from>:<text>" and "frame:<from>:<bytes>:<w>x<h>", in order
    QList<QByteArray> frames;
};

void record(Confabo& confabo, Received& into)
{
    QObject::connect(
        &confabo, &Confabo::NewMessage, [&into](QString& from, QString& email, int16_t& port, QString& text) {
            into.events << QStringLiteral("message:%1:%2:%3:%4").arg(from, email).arg(port).arg(text);
        });
    QObject::connect(
        &confabo, &Confabo::VideoFrameBytes, [&into](QString&, QByteArray& bytes) { into.frames << bytes; });
    QObject::connect(&confabo, &Confabo::VideoFrame, [&into](QString& from, QImage& picture) {
        into.events << QStringLiteral("frame:%1:%2x%3").arg(from).arg(picture.width()).arg(picture.height());
    });
}

// Lets pending datagrams arrive (used where nothing must arrive).
void settle()
{
    runFor(300);
}

class PeerMessagingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString();
        previous_ = UserNotice::setHandler([](const QString&, const QString&) {});
        SettingsStore::save("Data", "CFBSERVER", service_.serverSetting());
        amy_ = make("Amelia");
        bo_ = make("Bonnie");
        ASSERT_EQ(amy_->AddBuddy("Bonnie"), "Bonnie");
        ASSERT_EQ(bo_->AddBuddy("Amelia"), "Amelia");
        record(*amy_, atAmy_);
        record(*bo_, atBo_);
    }
    void TearDown() override { UserNotice::setHandler(previous_); }

    std::unique_ptr<Confabo> make(const QString& handle, const QString& dataPort = freeDataPort())
    {
        SettingsStore::save("Data", "DataPort", dataPort); // each object reads its own
        auto confabo = std::make_unique<Confabo>();
        // Clients without a key, which talk in the plain format (the encrypted channel is
        // tested between whole clients).
        confabo->setIdentity(std::nullopt);
        EXPECT_TRUE(confabo->Register(handle, "PW", handle.toLower() + "@example.org"));
        EXPECT_TRUE(confabo->Login(handle, "PW", "127.0.0.1"));
        EXPECT_EQ(confabo->wsReceive()->State(), sckUDPListening);
        return confabo;
    }

    static int16_t portOf(Confabo& c) { return int16_t(c.wsReceive()->LocalPort().toInt()); }

    // A raw datagram to a Confabo's data port, as a foreign peer would send it.
    static void sendRaw(Confabo& to, const QByteArray& datagram)
    {
        ivUDP out;
        out.setRemotePort(to.wsReceive()->LocalPort());
        out.setRemoteHost("127.0.0.1");
        out.wsSendData(datagram);
    }

    TempConfig config_;
    ServiceProcess service_;
    UserNotice::Handler previous_;
    std::unique_ptr<Confabo> amy_, bo_;
    Received atAmy_, atBo_;
};

} // namespace

TEST_F(PeerMessagingTest, MessagesTravelBothWays)
{
    ASSERT_TRUE(
        amy_->SendMessage("bonnie", QString::fromUtf8("Hi Bonnie, café & <cake>?"), portOf(*amy_), portOf(*bo_)));
    ASSERT_TRUE(waitUntil([&] { return !atBo_.events.isEmpty(); }));
    EXPECT_EQ(atBo_.events,
        QStringList{
            QString::fromUtf8("message:Amelia:amelia@example.org:%1:Hi Bonnie, café & <cake>?").arg(portOf(*amy_))});

    ASSERT_TRUE(bo_->SendMessage(1, "Hi Amelia", 0, portOf(*amy_)));
    ASSERT_TRUE(waitUntil([&] { return !atAmy_.events.isEmpty(); }));
    EXPECT_EQ(atAmy_.events, QStringList{"message:Bonnie:bonnie@example.org:0:Hi Amelia"});
}

TEST_F(PeerMessagingTest, AHandleThatIsNoBuddyIsLookedUpFirst)
{
    auto cy = make("Cyrano");
    Received atCy;
    record(*cy, atCy);
    ASSERT_TRUE(amy_->SendMessage("cyrano", "hello stranger", 0, portOf(*cy)));
    ASSERT_TRUE(waitUntil([&] { return !atCy.events.isEmpty(); }));
    EXPECT_EQ(atCy.events, QStringList{"message:Amelia:amelia@example.org:0:hello stranger"});
    EXPECT_FALSE(amy_->SendMessage("nobody-here", "lost", 0, portOf(*cy)));
}

TEST_F(PeerMessagingTest, BlockedSenderIsDroppedAndOthersStillArrive)
{
    ASSERT_TRUE(bo_->BlockUser("Amelia"));
    auto cy = make("Cyrano");
    ASSERT_TRUE(amy_->SendMessage("Bonnie", "let me in", 0, portOf(*bo_)));
    ASSERT_TRUE(amy_->Buddies()->Item("Bonnie")->SendFrame(jpegOfSize(5000, {64, 48}), "Amelia", portOf(*bo_)));
    ASSERT_TRUE(cy->SendMessage("Bonnie", "from cyrano", 0, portOf(*bo_)));
    ASSERT_TRUE(waitUntil([&] { return !atBo_.events.isEmpty(); }));
    settle();
    EXPECT_EQ(atBo_.events, QStringList{"message:Cyrano:cyrano@example.org:0:from cyrano"});

    ASSERT_TRUE(bo_->UnBlockUser("Amelia"));
    ASSERT_TRUE(amy_->SendMessage("Bonnie", "now?", 0, portOf(*bo_)));
    ASSERT_TRUE(waitUntil([&] { return atBo_.events.size() == 2; }));
    EXPECT_EQ(atBo_.events.last(), "message:Amelia:amelia@example.org:0:now?");
}

TEST_F(PeerMessagingTest, BusyBuddyGetsNothing)
{
    auto cy = make("Cyrano");
    Received atCy;
    record(*cy, atCy);
    ASSERT_TRUE(cy->SetStatus(CFB_BUSY));
    ASSERT_EQ(amy_->AddBuddy("Cyrano"), "Cyrano");
    EXPECT_FALSE(amy_->SendMessage("Cyrano", "are you there?", 0, portOf(*cy)));
    EXPECT_FALSE(amy_->Buddies()->Item("Cyrano")->SendFrame(jpegOfSize(5000, {64, 48}), "Amelia", portOf(*cy)));
    settle();
    EXPECT_TRUE(atCy.events.isEmpty());
}

TEST_F(PeerMessagingTest, FramesArriveWholeAndDecode)
{
    const auto bo = amy_->Buddies()->Item("Bonnie");
    const QByteArray small = jpegOfSize(5000, {64, 48});
    const QByteArray large = jpegOfSize(40000, {320, 240});
    ASSERT_EQ(small.size(), 5000);
    ASSERT_EQ(large.size(), 40000);
    ASSERT_TRUE(bo->SendFrame(small, "Amelia", portOf(*bo_)));
    ASSERT_TRUE(bo->SendFrame(large, "Amelia", portOf(*bo_)));
    ASSERT_TRUE(waitUntil([&] { return atBo_.events.size() == 2; }));
    EXPECT_EQ(atBo_.events, (QStringList{"frame:Amelia:64x48", "frame:Amelia:320x240"}));
    EXPECT_EQ(atBo_.frames, (QList<QByteArray>{small, large}));
}

TEST_F(PeerMessagingTest, PortsAbove32767ComeNegativeAndStillReachTheirPeer)
{
    // The system hands out free ports above 32767.
    ivUDP probe;
    probe.wsBind("0");
    const int high = probe.LocalPort().toInt();
    probe.ReleaseSocket();
    ASSERT_GT(high, 32767);
    auto cy = make("Cyrano", QString::number(high));
    Received atCy;
    record(*cy, atCy);
    ASSERT_EQ(amy_->AddBuddy("Cyrano"), "Cyrano");
    const auto toCy = amy_->Buddies()->Item("Cyrano");
    const QByteArray jpeg = jpegOfSize(5000, {64, 48});
    EXPECT_FALSE(toCy->SendFrame(jpeg, "Amelia", 0)) << "port 0 reaches nobody";

    ASSERT_TRUE(toCy->SendFrame(jpeg, "Amelia", int16_t(high)));
    ASSERT_TRUE(amy_->SendMessage("Cyrano", "high up", 0, int16_t(high)));
    ASSERT_TRUE(toCy->SendFrame(jpeg, "Amelia", int16_t(high)));
    ASSERT_TRUE(waitUntil([&] { return atCy.events.size() == 3; }));
    EXPECT_EQ(atCy.events,
        (QStringList{"frame:Amelia:64x48", "message:Amelia:amelia@example.org:0:high up", "frame:Amelia:64x48"}));
}

TEST_F(PeerMessagingTest, FrameTooLargeForOneDatagramIsNotSentAtAll)
{
    const auto bo = amy_->Buddies()->Item("Bonnie");
    EXPECT_FALSE(bo->SendFrame(QByteArray(100000, 'x'), "Amelia", portOf(*bo_)));
    EXPECT_FALSE(bo->SendFrame(QByteArray(), "Amelia", portOf(*bo_)));
    ASSERT_TRUE(bo->SendFrame(jpegOfSize(48000, {320, 240}), "Amelia", portOf(*bo_))) << "the largest that fits";
    ASSERT_TRUE(waitUntil([&] { return !atBo_.events.isEmpty(); }));
    settle();
    ASSERT_EQ(atBo_.frames.size(), 1);
    EXPECT_EQ(atBo_.frames[0].size(), 48000);
}

TEST_F(PeerMessagingTest, OddDatagramsBetweenGoodOnesChangeNothing)
{
    const QByteArray good = PeerDatagram::message("Amelia", "amelia@example.org", 7, "one");
    sendRaw(*bo_, "this is not xml");
    sendRaw(*bo_, good);
    sendRaw(*bo_, "<body><from_handle>Amelia</from_handle>"); // truncated
    sendRaw(*bo_, "<body><message>who am I</message></body>");
    sendRaw(*bo_, QByteArray(60000, '<'));
    sendRaw(*bo_,
        "<body><from_handle>Amelia</from_handle><video_data xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
        "dt:dt=\"bin.base64\">%%%</video_data><message>garbage frame</message></body>");
    sendRaw(*bo_, "<body><from_handle>Amelia</from_handle><message></message></body>");
    sendRaw(*bo_, PeerDatagram::message("Amelia", "amelia@example.org", 7, "two"));
    ASSERT_TRUE(waitUntil([&] { return atBo_.events.size() == 2; }));
    settle();
    EXPECT_EQ(atBo_.events,
        (QStringList{"message:Amelia:amelia@example.org:7:one", "message:Amelia:amelia@example.org:7:two"}));
}

TEST_F(PeerMessagingTest, FrameAndMessageInOneDatagramRaiseBothFrameFirst)
{
    const QByteArray jpeg = jpegOfSize(3000, {32, 24});
    QByteArray datagram;
    PeerDatagram::frameChunk("Amelia", jpeg, datagram);
    datagram.replace("</video_data></body>", "</video_data><message>look!</message></body>");
    sendRaw(*bo_, datagram);
    ASSERT_TRUE(waitUntil([&] { return atBo_.events.size() == 2; }));
    EXPECT_EQ(atBo_.events, (QStringList{"frame:Amelia:32x24", "message:Amelia::0:look!"}));
}

TEST_F(PeerMessagingTest, CleanUpInsideAHandlerIsSafe)
{
    QObject::connect(
        bo_.get(), &Confabo::NewMessage, bo_.get(), [this](QString&, QString&, int16_t&, QString&) { bo_->CleanUp(); });
    const QString port = bo_->wsReceive()->LocalPort();
    sendRaw(*bo_, PeerDatagram::message("Amelia", "", 0, "first"));
    ASSERT_TRUE(waitUntil([&] { return !atBo_.events.isEmpty(); }));
    EXPECT_EQ(bo_->wsReceive(), nullptr);
    ivUDP out;
    out.setRemotePort(port);
    out.setRemoteHost("127.0.0.1");
    out.wsSendData(PeerDatagram::message("Amelia", "", 0, "after clean-up"));
    settle();
    EXPECT_EQ(atBo_.events.size(), 1);
}

TEST(PeerArrival, ChunksAcrossDatagramsMakeOneFrame)
{
    TempConfig config;
    SettingsStore::save("Debug", "Block All Data", "True");
    Confabo confabo;
    Received got;
    record(confabo, got);

    QByteArray frame = jpegOfSize(64535 + 1000, {400, 300});
    ASSERT_EQ(frame.size(), 65535);
    QByteArray first, second;
    PeerDatagram::frameChunk("Amelia", QByteArrayView(frame).first(64535), first);
    PeerDatagram::frameChunk("Amelia", QByteArrayView(frame).sliced(64535), second);
    confabo.ReceiveDatagram(first);
    EXPECT_TRUE(got.events.isEmpty());
    confabo.ReceiveDatagram(PeerDatagram::message("Amelia", "", 0, "in between"));
    confabo.ReceiveDatagram(second);
    EXPECT_EQ(got.events, (QStringList{"message:Amelia::0:in between", "frame:Amelia:400x300"}));
    ASSERT_EQ(got.frames.size(), 1);
    EXPECT_EQ(got.frames[0], frame);
}

// A few kilobytes that declare a picture of 4096x2048 become a picture no larger than a video
// frame, not 32 MB of pixels per datagram; the bytes are passed on as they came.
TEST(PeerArrival, AHugeFrameArrivesScaledToTheLargestFrame)
{
    TempConfig config;
    SettingsStore::save("Debug", "Block All Data", "True");
    Confabo confabo;
    Received got;
    record(confabo, got);

    QImage grey(4096, 2048, QImage::Format_Grayscale8);
    grey.fill(90);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(grey.save(&buffer, "JPEG", 10));
    for (qsizetype at = 0; at < jpeg.size(); at += PeerDatagram::FrameChunkSize) {
        QByteArray datagram;
        PeerDatagram::frameChunk(
            "Amelia", QByteArrayView(jpeg).sliced(at, qMin(PeerDatagram::FrameChunkSize, jpeg.size() - at)), datagram);
        confabo.ReceiveDatagram(datagram);
    }
    EXPECT_EQ(got.events, (QStringList{"frame:Amelia:1536x768"}));
    ASSERT_EQ(got.frames.size(), 1);
    EXPECT_EQ(got.frames[0], jpeg);
}

TEST(PeerArrival, BytesThatAreNoPictureStillAnnounceAFrameWithoutPicture)
{
    TempConfig config;
    SettingsStore::save("Debug", "Block All Data", "True");
    Confabo confabo;
    Received got;
    record(confabo, got);
    QByteArray datagram;
    PeerDatagram::frameChunk("Amelia", "not a picture", datagram);
    confabo.ReceiveDatagram(datagram);
    EXPECT_EQ(got.events, QStringList{"frame:Amelia:0x0"});
}

TEST(PeerArrival, BlockAllDataLeavesTheSocketUnbound)
{
    TempConfig config;
    SettingsStore::save("Debug", "Block All Data", "True");
    SettingsStore::save("Data", "DataPort", "0");
    Confabo confabo;
    ASSERT_NE(confabo.wsReceive(), nullptr);
    EXPECT_EQ(confabo.wsReceive()->State(), sckUDPClosed);
}

TEST(PeerArrival, DataPortInUseEndsUnboundWithoutLooping)
{
    TempConfig config;
    ivUDP holder;
    holder.wsBind("0");
    SettingsStore::save("Data", "DataPort", holder.LocalPort());
    Confabo confabo; // its bind fails, the recovery's bind fails again, and that is where it stops
    settle();
    ASSERT_NE(confabo.wsReceive(), nullptr);
    EXPECT_NE(confabo.wsReceive()->State(), sckUDPListening);

    // A later error of the socket recovers onto the port the store names then.
    SettingsStore::save("Data", "DataPort", "0");
    int32_t code = 10022;
    QString text = "Invalid argument";
    emit confabo.wsReceive()->Error(code, text);
    EXPECT_EQ(confabo.wsReceive()->State(), sckUDPListening);
}

// What a signed-in user sends leaves from the data port the buddy answers to, so a router between
// them keeps one mapping for both ways; a user not signed in here sends from a port of its own.
TEST_F(PeerMessagingTest, MessagesAndFramesLeaveFromTheSendersDataPort)
{
    PeerSocket peer;
    const auto sourcePortOfNext = [&peer] {
        char bytes[65536];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(peer.fd(), bytes, sizeof bytes, 0, reinterpret_cast<sockaddr*>(&from), &length);
        return n > 0 ? int(ntohs(from.sin_port)) : -1;
    };
    const auto bo = amy_->Buddies()->Item("Bonnie");
    ASSERT_TRUE(bo->SendMessage("Amelia", "amelia@example.org", "from my data port", 0, int16_t(peer.port())));
    EXPECT_EQ(sourcePortOfNext(), portOf(*amy_));
    ASSERT_TRUE(bo->SendFrame(jpegOfSize(5000, {64, 48}), "Amelia", int16_t(peer.port())));
    EXPECT_EQ(sourcePortOfNext(), portOf(*amy_));

    ASSERT_TRUE(bo->SendMessage("Nobody", "", "from elsewhere", 0, int16_t(peer.port())));
    const int other = sourcePortOfNext();
    EXPECT_GT(other, 0);
    EXPECT_NE(other, portOf(*amy_));
}
