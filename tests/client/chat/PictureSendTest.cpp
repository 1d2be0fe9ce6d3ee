// Sending a photograph with the Picture button, signed in to the real service: the window keeps
// handling its events while the picture is read and encoded, and the buddy (a plain socket on the
// data port the window sends to) gets it as one frame it can show.
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "Heartbeat.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "channel/Identity.h"
#include "chat/cBuddyInfo.h"
#include "chat/frmBuddy.h"
#include "imaging/modPic.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "transport/ivUDP.h"

#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabBar>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace cfb;
using namespace cfb::client;

namespace {

constexpr qint64 LongestGapMs = 100;

// A photograph's worth of bytes and more: every pixel random, saved as a JPEG.
bool writeNoisyJpeg(const QString& path, QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    QRandomGenerator random(26);
    for (int y = 0; y < size.height(); ++y)
        random.fillRange(reinterpret_cast<quint32*>(picture.scanLine(y)), size.width());
    return picture.save(path, "JPEG", 75);
}

class PictureSendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        // The users' own library objects bind no data port: amelia's socket below takes the one
        // the window sends to.
        amelia = ClientProfile::registerUser(files.path(), QStringLiteral("amelia"), 0xff406080);
        const auto cordelia = ClientProfile::registerUser(files.path(), QStringLiteral("cordelia"), 0xff804060);
        ASSERT_TRUE(amelia && cordelia);
        ASSERT_TRUE(cordelia->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        ASSERT_EQ(cordelia->AddBuddy("amelia"), "amelia");
        cordelia->Logout();
        // A plain socket stands in for amelia's client: its object publishes no key, so the
        // window reaches it in the plain format.
        amelia->setIdentity(std::nullopt);
        ASSERT_TRUE(amelia->Login("amelia", ClientProfile::password("amelia"), "127.0.0.1"));
        Settings::BlockAllData.erase();
        Settings::DataPort.write(freeDataPort());
        dialogs.boxes.clear();

        window = std::make_unique<frmMain>();
        EXPECT_TRUE(loadMainWindow(*window));
        // The window receives on a port of its own, so amelia can listen on the data port.
        auto* receiver = new ivUDP;
        receiver->setLocalPort(freeDataPort());
        receiver->wsBind();
        ASSERT_EQ(receiver->State(), sckUDPListening);
        window->library()->setWsReceive(receiver);
        ASSERT_TRUE(ears.bind(QHostAddress::LocalHost, quint16(window->dataPort())));
        ears.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        auto* tabs = window->findChild<QTabBar*>("tabBuddies");
        ASSERT_TRUE(waitUntil([&] {
            window->tmr_Timer();
            return tabs->count() == 1 && tabs->tabText(0) == "amelia";
        }));
    }

    void TearDown() override { window.reset(); }

    // The next frame amelia gets, decoded; nothing when none came in time.
    std::optional<QImage> nextFrame(int ms = 20000)
    {
        if (!waitUntil([this] { return ears.hasPendingDatagrams(); }, ms))
            return std::nullopt;
        QByteArray bytes(int(ears.pendingDatagramSize()), Qt::Uninitialized);
        ears.readDatagram(bytes.data(), bytes.size());
        XmlDocument document;
        const auto arrival = PeerDatagram::parse(document, bytes);
        if (!arrival || !arrival->videoData || arrival->videoData->size() >= PeerDatagram::FrameChunkSize)
            return QImage(); // not a frame, or not one complete in this datagram
        return PictureFromBytes(*arrival->videoData);
    }

    // Every picture being prepared is done with and its outcome handled.
    void settle()
    {
        QThreadPool::globalInstance()->waitForDone(20000);
        runFor(50);
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::unique_ptr<Confabo> amelia;
    std::unique_ptr<frmMain> window;
    QUdpSocket ears;
    Heartbeat heartbeat;
};

TEST_F(PictureSendTest, ALargePhotoGoesOutAsOneFrameWhileTheWindowKeepsRunning)
{
    const QString photo = files.filePath("photo.jpg");
    ASSERT_TRUE(writeNoisyJpeg(photo, QSize(4000, 3000)));

    // The main window's Picture button: the window keeps beating, the photo arrives smaller, its
    // proportions kept, and shows where the video was.
    dialogs.filesToOpen = {photo};
    heartbeat.start();
    window->findChild<QPushButton*>("cmdPic")->click();
    std::optional<QImage> frame = nextFrame();
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs);
    ASSERT_TRUE(frame);
    ASSERT_FALSE(frame->isNull()) << "one datagram holding a picture";
    EXPECT_LT(frame->width(), 4000);
    EXPECT_NEAR(double(frame->width()) / frame->height(), 4.0 / 3.0, 0.03);
    EXPECT_TRUE(window->findChild<QLabel*>("imgPic")->isVisible());
    EXPECT_FALSE(window->findChild<QLabel*>("imgPic")->pixmap().isNull());
    EXPECT_TRUE(dialogs.boxes.isEmpty());

    // The detached window: a second picture chosen while the photo is still being prepared is
    // the one that goes; the photo never follows it.
    window->findChild<QPushButton*>("cmdNewWindow")->click();
    frmBuddy* form = window->buddyInfo("amelia")->BuddyForm();
    ASSERT_TRUE(form && form->isVisible());
    QImage small(48, 36, QImage::Format_RGB32);
    small.fill(0xffe01010);
    const QString smallFile = files.filePath("small.bmp");
    ASSERT_TRUE(small.save(smallFile));
    dialogs.filesToOpen = {photo, smallFile};
    auto* cmdPic = form->findChild<QPushButton*>("cmdPic");
    heartbeat.start();
    cmdPic->click();
    cmdPic->click();
    frame = nextFrame();
    EXPECT_LT(heartbeat.longestGapMs(), LongestGapMs);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), QSize(48, 36));
    EXPECT_GT(qRed(frame->pixel(24, 18)), 200);
    settle();
    EXPECT_FALSE(ears.hasPendingDatagrams()) << "the superseded photo was sent too";
    const QImage shown = form->VideoCtl()->pixmap().toImage();
    EXPECT_GT(shown.pixelColor(shown.width() / 2, shown.height() / 2).red(), 200) << "shows the small picture";

    // A picture still being prepared when its window closes is not sent.
    dialogs.filesToOpen = {photo};
    cmdPic->click();
    form->close();
    settle();
    EXPECT_FALSE(ears.hasPendingDatagrams()) << "sent after the window closed";
    EXPECT_TRUE(dialogs.boxes.isEmpty());
}

} // namespace
