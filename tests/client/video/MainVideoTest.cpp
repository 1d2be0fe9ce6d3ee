// Live video in the main window, signed in to the real service with the test pattern as camera:
// frames reach the selected buddy only, while its video is on, as JPEG pictures of the configured
// size; frames from others never replace the selected buddy's picture; without a source the
// window says "(No Video)" and shows the user's own avatar.
//
// One machine cannot hold two clients on one data port, so each buddy that receives video is a
// socket on an address of its own (127.0.0.2, 127.0.0.3) holding the agreed port; the window,
// which sends to that port, cannot receive on it meanwhile.
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "channel/Identity.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "messaging/XmlDocument.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "video/CaptureSource.h"
#include "video/MainVideo.h"
#include "video/VideoPreview.h"

#include <QAction>
#include <QBuffer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QSet>
#include <QTabBar>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace cfb;
using namespace cfb::client;

namespace {

// A buddy's machine as far as video goes: what arrives on its address and the data port.
class FramePeer {
public:
    FramePeer(const QString& address, quint16 port)
    {
        bound = socket.bind(QHostAddress(address), port);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                QByteArray datagram(int(socket.pendingDatagramSize()), Qt::Uninitialized);
                datagram.truncate(socket.readDatagram(datagram.data(), datagram.size()));
                take(datagram);
            }
        });
    }

    void take(const QByteArray& datagram)
    {
        XmlDocument document;
        const auto arrival = PeerDatagram::parse(document, datagram);
        if (!arrival || !arrival->videoData) {
            ++other;
            return;
        }
        senders.insert(arrival->fromHandle);
        jpegs += arrival->videoData->startsWith("\xFF\xD8\xFF") ? 1 : 0;
        sizes.append(QImage::fromData(*arrival->videoData, "JPEG").size());
        arrivals.append(clock.elapsed());
    }

    void clear()
    {
        sizes.clear();
        arrivals.clear();
        senders.clear();
        jpegs = other = 0;
    }

    QUdpSocket socket;
    bool bound = false;
    QElapsedTimer clock;
    QList<QSize> sizes;
    QList<qint64> arrivals;
    QSet<QString> senders;
    int jpegs = 0, other = 0;
};

class MainVideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        Settings::VideoWidth.write(QStringLiteral("160"));
        Settings::VideoHeight.write(QStringLiteral("120"));
        Settings::FrameRate.write(QStringLiteral("10"));
        const std::pair<const char*, QRgb> people[]
            = {{"amelia", 0xffd03020}, {"bertram", 0xff20a040}, {"cordelia", 0xff2040d0}};
        for (const auto& [name, colour] : people)
            addUser(QLatin1String(name), colour);
        ASSERT_TRUE(users["cordelia"]->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        for (const char* buddy : {"amelia", "bertram"})
            ASSERT_EQ(users["cordelia"]->AddBuddy(QString::fromLatin1(buddy) + "@example.org"), buddy);
        users["cordelia"]->Logout();
        Settings::BlockAllData.erase();
        port = freeDataPort();
        Settings::DataPort.write(port);
        clock.start();
    }

    void TearDown() override { window.reset(); }

    void addUser(const QString& handle, QRgb colour)
    {
        colours[handle] = colour;
        users[handle] = ClientProfile::registerUser(files.path(), handle, colour);
        ASSERT_TRUE(users[handle]) << "the service refused " << qPrintable(handle);
    }

    void signIn(const char* handle, const char* address)
    {
        // A plain socket stands in for the buddy's client: its object publishes no key, so the
        // window reaches it in the plain format.
        users[handle]->setIdentity(std::nullopt);
        ASSERT_TRUE(users[handle]->Login(handle, ClientProfile::password(handle), address));
    }

    void load(const QString& videoSource)
    {
        window = std::make_unique<frmMain>();
        window->setVideoSourceOption(videoSource);
        EXPECT_TRUE(loadMainWindow(*window));
        tabs = window->findChild<QTabBar*>("tabBuddies");
        ASSERT_TRUE(tabs);
    }

    QAction* action(const char* name) { return window->findChild<QAction*>(name); }

    // The colour in the middle of what a picture box shows.
    QRgb shown(const char* box)
    {
        const QPixmap pixmap = window->findChild<QLabel*>(box)->pixmap();
        if (pixmap.isNull())
            return 0;
        const QImage image = pixmap.toImage();
        return image.pixel(image.width() / 2, image.height() / 2);
    }

    // Waits until the peer has `count` pictures (bounded).
    bool arrive(FramePeer& peer, int count)
    {
        return waitUntil([&] { return peer.sizes.size() >= count; }, 8000);
    }

    // Lets frames in flight land, forgets them, then watches for a while.
    void quietFor(int ms, std::initializer_list<FramePeer*> peers)
    {
        runFor(200);
        for (FramePeer* peer : peers)
            peer->clear();
        runFor(ms);
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::map<QString, std::unique_ptr<Confabo>> users;
    std::map<QString, QRgb> colours;
    QString port;
    QElapsedTimer clock;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
};

TEST_F(MainVideoTest, FramesGoToTheSelectedBuddyWhileItsVideoIsOnAndFollowASizeChange)
{
    FramePeer amy(QStringLiteral("127.0.0.2"), quint16(port.toUInt()));
    FramePeer bob(QStringLiteral("127.0.0.3"), quint16(port.toUInt()));
    ASSERT_TRUE(amy.bound && bob.bound) << amy.socket.errorString().toStdString();
    amy.clock.start();
    bob.clock.start();
    signIn("amelia", "127.0.0.2");
    signIn("bertram", "127.0.0.3");
    load(QStringLiteral("pattern"));
    ASSERT_EQ(tabs->count(), 2);
    ASSERT_EQ(window->SelBuddy()->handle(), "amelia");
    EXPECT_EQ(window->panelText(4), "160x120 10fps");
    EXPECT_EQ(window->panelText(3), "Video: Off");
    EXPECT_TRUE(action("toolVideo")->isEnabled());
    EXPECT_TRUE(action("mnuVideo")->isEnabled());

    // The preview runs from the start; nothing is sent while video is off.
    VideoPreview* preview = window->video()->preview();
    ASSERT_TRUE(waitUntil([&] { return !preview->picture().isNull(); }));
    EXPECT_TRUE(preview->isVisible());
    const QImage firstPreview = preview->picture().copy();
    EXPECT_TRUE(waitUntil([&] { return preview->picture() != firstPreview; })) << "the pattern moves";
    quietFor(500, {&amy, &bob});
    EXPECT_EQ(amy.sizes.size() + amy.other + bob.sizes.size() + bob.other, 0);

    // Video on for amelia: JPEG pictures of the configured size, near the configured rate.
    action("toolVideo")->trigger();
    EXPECT_EQ(window->panelText(3), "Video: On");
    EXPECT_TRUE(action("mnuVideo")->isChecked());
    ASSERT_TRUE(arrive(amy, 12)) << amy.sizes.size();
    EXPECT_EQ(amy.sizes, QList<QSize>(amy.sizes.size(), QSize(160, 120)));
    EXPECT_EQ(amy.jpegs, amy.sizes.size());
    EXPECT_EQ(amy.senders, QSet<QString>{"cordelia"});
    const double fps = 1000.0 * (amy.arrivals.size() - 1) / double(amy.arrivals.last() - amy.arrivals.first());
    EXPECT_LE(fps, 15.0) << "frames go at the capture rate, not faster";
    EXPECT_GE(fps, 3.0);
    EXPECT_TRUE(bob.sizes.isEmpty());

    // A message being sent holds the frames back; they resume afterwards.
    {
        MainVideo::Pause pause(window->video());
        quietFor(400, {&amy});
        EXPECT_TRUE(amy.sizes.isEmpty());
    }
    ASSERT_TRUE(arrive(amy, 2));

    // Bertram's tab: his record has video off, so nothing goes to anyone.
    tabs->setCurrentIndex(1);
    ASSERT_EQ(window->SelBuddy()->handle(), "bertram");
    EXPECT_EQ(window->panelText(3), "Video: Off");
    EXPECT_FALSE(action("toolVideo")->isChecked());
    quietFor(500, {&amy, &bob});
    EXPECT_EQ(amy.sizes.size() + bob.sizes.size(), 0);

    // On for bertram, off again: his avatar is back in his picture.
    action("mnuVideo")->trigger();
    EXPECT_TRUE(action("toolVideo")->isChecked());
    ASSERT_TRUE(arrive(bob, 3));
    action("toolVideo")->trigger();
    EXPECT_EQ(window->panelText(3), "Video: Off");
    EXPECT_EQ(shown("imgBuddy"), colours["bertram"]);

    // Back to amelia, whose record still has video on: frames go to her again, and only to her.
    tabs->setCurrentIndex(0);
    EXPECT_EQ(window->panelText(3), "Video: On");
    EXPECT_TRUE(action("toolVideo")->isChecked());
    quietFor(0, {&amy, &bob});
    ASSERT_TRUE(arrive(amy, 3));
    EXPECT_TRUE(bob.sizes.isEmpty());

    // The capture size changes mid-stream: the preview follows, frames keep coming.
    const int bitmaps = window->video()->sender().bitmapAllocations();
    ASSERT_TRUE(window->video()->source()->setFrameSize({320, 240}));
    ASSERT_TRUE(waitUntil([&] { return !amy.sizes.isEmpty() && amy.sizes.last() == QSize(320, 240); }));
    amy.clear();
    ASSERT_TRUE(arrive(amy, 4));
    EXPECT_EQ(amy.sizes, QList<QSize>(amy.sizes.size(), QSize(320, 240)));
    EXPECT_EQ(window->panelText(4), "320x240 10fps");
    // Encoded straight from the planes, the default: no bitmap is made for them.
    EXPECT_TRUE(window->video()->sender().encodeFromPlanes());
    EXPECT_EQ(window->video()->sender().bitmapAllocations(), bitmaps);

    // No tab left (bertram signed out, amelia blocked and removed while still online): nothing
    // goes out. (A busy buddy keeps the tab.)
    users["bertram"]->Logout();
    ASSERT_TRUE(waitUntil([&] {
        window->tmr_Timer();
        return tabs->count() == 1;
    }));
    ASSERT_EQ(window->SelBuddy()->handle(), "amelia");
    dialogs.answers = {UserDialogs::AnswerYes};
    action("toolBlock")->trigger();
    // Blocking asks the service and drops the tab when it answers.
    ASSERT_TRUE(waitUntil([&] { return tabs->count() == 0; }));
    EXPECT_EQ(window->SelBuddy(), nullptr);
    quietFor(600, {&amy, &bob});
    EXPECT_EQ(amy.sizes.size() + bob.sizes.size(), 0);

    window->Unload();
    EXPECT_FALSE(window->video()->source()->isRunning()) << "capture stops at exit";
}

TEST_F(MainVideoTest, WithoutASourceOwnAvatarShowsAndOnlyTheSelectedBuddysFramesAreShown)
{
    signIn("amelia", "127.0.0.1");
    signIn("bertram", "127.0.0.1");
    load(QStringLiteral("camera:no-such-device"));
    ASSERT_EQ(window->SelBuddy()->handle(), "amelia");
    EXPECT_EQ(window->panelText(4), "(No Video)");
    EXPECT_FALSE(action("toolVideo")->isEnabled());
    EXPECT_FALSE(action("mnuVideo")->isEnabled());
    EXPECT_EQ(shown("picVideo"), colours["cordelia"]);
    EXPECT_EQ(shown("imgPic"), colours["cordelia"]);
    EXPECT_EQ(shown("imgBuddy"), colours["amelia"]);

    // Frames sent to this window's data port as the buddies' clients would.
    int arrived = 0;
    QObject::connect(window->library(), &Confabo::VideoFrame, [&](QString&, QImage&) { ++arrived; });
    const auto sendFrame = [&](const QString& from, QColor colour) {
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(colour);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(picture.save(&buffer, "JPEG", 90));
        Buddy toCarol;
        ASSERT_TRUE(toCarol.LoadByHandle("cordelia"));
        const int before = arrived;
        ASSERT_TRUE(toCarol.SendFrame(jpeg, from, int16_t(window->dataPort())));
        ASSERT_TRUE(waitUntil([&] { return arrived > before; }));
    };
    sendFrame("bertram", Qt::green);
    EXPECT_EQ(shown("imgBuddy"), colours["amelia"]) << "bertram's frame is dropped while amelia is selected";
    sendFrame("amelia", Qt::blue);
    const QColor amyFrame = QColor::fromRgb(shown("imgBuddy"));
    EXPECT_LT(amyFrame.red(), 30);
    EXPECT_LT(amyFrame.green(), 30);
    EXPECT_GT(amyFrame.blue(), 220);

    // Bertram selected: now his frames are the ones shown.
    tabs->setCurrentIndex(1);
    EXPECT_EQ(shown("imgBuddy"), colours["bertram"]);
    sendFrame("amelia", Qt::blue);
    EXPECT_EQ(shown("imgBuddy"), colours["bertram"]);
    sendFrame("bertram", Qt::green);
    EXPECT_GT(QColor::fromRgb(shown("imgBuddy")).green(), 220);
}

} // namespace
