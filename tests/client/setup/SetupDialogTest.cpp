// The setup dialog against the real service: registering from a fresh install to a signed-in main
// window, changing the profile, the data port and the autostart entry, and borrowing the video.
#include "../support/PopupAnswerer.h"
#include "StartupTestSupport.h"

#include "ClientProfile.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "common/frmPopup.h"
#include "common/modMain.h"
#include "desktop/AutoStart.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "session/frmLogin.h"
#include "setup/MouthMarker.h"
#include "setup/frmSetup.h"
#include "transport/ivUDP.h"
#include "video/CaptureSource.h"
#include "video/MainVideo.h"
#include "video/VideoFormatDialog.h"
#include "video/VideoPreview.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <algorithm>

using namespace cfb;
using namespace cfb::client;
using namespace startup_test;

namespace {

// A JPEG of exactly `bytes` bytes: a small picture with comment segments filling it up.
QString jpegOfSize(const QString& path, qint64 bytes)
{
    QImage picture(90, 120, QImage::Format_RGB32);
    picture.fill(0xff3080c0);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG");
    QByteArray padding;
    qint64 missing = bytes - jpeg.size();
    while (missing > 0) {
        const qint64 segment = std::min<qint64>(missing, 65000);
        const qint64 body = std::max<qint64>(segment - 4, 0);
        padding += QByteArray::fromHex("fffe");
        const int length = int(body + 2);
        padding += char(length >> 8);
        padding += char(length & 0xff);
        padding += QByteArray(body, 'x');
        missing -= body + 4;
    }
    jpeg.insert(2, padding); // after the start-of-image marker
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size() || jpeg.size() != bytes)
        return {};
    return path;
}

void setText(QWidget* dialog, const char* field, const QString& text)
{
    child<QLineEdit>(dialog, field)->setText(text);
}

void dragMarker(MouthMarker* marker, QPoint pointer)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(pointer), marker->mapToGlobal(QPointF(pointer)), Qt::NoButton,
        Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(marker, &move);
}

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString(); }
    void TearDown() override { window.reset(); }

    QString lastBox() const
    {
        return dialogs.boxes.isEmpty() ? QString() : dialogs.boxes.last().title + ": " + dialogs.boxes.last().text;
    }

    // Presses the button and says what the last box said (empty when none came), once the service
    // has answered what the button asked (the dialog is disabled until then).
    QString press(QWidget* dialog, const char* button)
    {
        const qsizetype before = dialogs.boxes.size();
        child<QPushButton>(dialog, button)->click();
        EXPECT_TRUE(waitFor([dialog] { return dialog->isEnabled(); }, 20000));
        return dialogs.boxes.size() > before ? lastBox() : QString();
    }

    void signedInProfile(const QString& handle)
    {
        ClientProfile::write(service, handle);
        Settings::BlockAllData.erase();
        Settings::DataPort.write(freeDataPort());
        ASSERT_TRUE(ClientProfile::registerUser(files.path(), handle, 0xff808080));
    }

    // Nobody is online, so the window may offer an invitation as it loads: answered No.
    void load(const QString& videoSource = QString())
    {
        PopupAnswerer answerer([&](frmPopup* popup) {
            ++invitationsOffered;
            PopupAnswerer::click(popup, "cmdNo");
        });
        window = std::make_unique<frmMain>();
        window->setVideoSourceOption(videoSource);
        EXPECT_TRUE(loadMainWindow(*window));
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::unique_ptr<frmMain> window;
    int invitationsOffered = 0;
};

// Confabo installed for the life of the object: a `confabo` program first on $PATH.
class InstalledProgram {
public:
    explicit InstalledProgram(const QString& folder)
        : oldPath_(qgetenv("PATH"))
    {
        QDir().mkpath(folder);
        QFile program(QDir(folder).filePath("confabo"));
        program.open(QIODevice::WriteOnly);
        program.write("#!/bin/sh\n");
        program.close();
        program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(folder) + ':' + oldPath_);
    }
    ~InstalledProgram() { qputenv("PATH", oldPath_); }

private:
    QByteArray oldPath_;
};

TEST_F(SetupDialogTest, FreshInstallRegistersInTheDialogAndIsSignedInAtOnce)
{
    Settings::ServiceHost.write(service.serverSetting());
    Settings::HostName.write("127.0.0.1");
    Settings::DataPort.write(freeDataPort());
    Settings::EnableSpeech.write("0");
    ASSERT_TRUE(ClientProfile::registerUser(files.path(), "takenname", 0xff102030));
    const QString exact = jpegOfSize(files.filePath("exact.jpg"), Confabo::MaxAvatarSize);
    const QString tooBig = jpegOfSize(files.filePath("big.jpg"), Confabo::MaxAvatarSize + 1);
    ASSERT_FALSE(exact.isEmpty());
    ASSERT_FALSE(tooBig.isEmpty());

    bool registered = false;
    qsizetype boxesOfTheForm = 0;
    std::unique_ptr<ServiceProcess> back;
    whenModal<frmSetup>(nullptr, [&](frmSetup* setup) {
        EXPECT_EQ(setup->windowTitle(), "Confabo Registration");
        EXPECT_FALSE(child<QPushButton>(setup, "cmdApply")->isEnabled());
        EXPECT_TRUE(child<QCheckBox>(setup, "chkAutoLogin")->isChecked());
        EXPECT_FALSE(child<QCheckBox>(setup, "chkAutoRun")->isChecked()) << "starting at log-in is opted into";
        auto* setupTabs = child<QTabWidget>(setup, "tabSetup");
        EXPECT_EQ(setupTabs->count(), 3) << "profile, application and audio";
        EXPECT_EQ(setupTabs->indexOf(child<QWidget>(setup, "tabVideo")), -1) << "no Video tab without a capture source";
        EXPECT_TRUE(child<QCheckBox>(setup, "chkCamera")->isHidden());
        // The form welcomes the new user itself: no box comes before or over it.
        EXPECT_TRUE(child<QLabel>(setup, "lblWelcome")->isVisible());
        EXPECT_TRUE(child<QLabel>(setup, "lblWelcome")->text().contains("Welcome to Confabo!"));
        QCoreApplication::processEvents();
        EXPECT_EQ(lastBox(), QString());

        const auto attempt = [&](const QString& handle, const QString& password, const QString& confirm,
                                 const QString& email, const QString& avatar) {
            setText(setup, "txtHandle", handle);
            setText(setup, "txtPassword", password);
            setText(setup, "txtConfirmPassword", confirm);
            setText(setup, "txtEmail", email);
            setText(setup, "txtAvatarFile", avatar);
            return press(setup, "cmdOK");
        };
        const QString email = "newuser1@example.org";
        EXPECT_EQ(attempt(" abcde ", "secret1", "secret1", email, ""),
            "Handle Not Accepted: The handle must be between 6 and 30 characters long.");
        EXPECT_EQ(attempt("newuser1", "short", "short", email, ""),
            "Password Not Accepted: The password must be between 6 and 30 characters long.");
        EXPECT_EQ(attempt("newuser1", "secret1", "secret2", email, ""),
            "Password Not Accepted: The password and confirm password fields do not match.");
        EXPECT_EQ(attempt("newuser1", "secret1", "secret1", "a@b.cde", ""),
            "Invalid Email Address: The email address is invalid.");
        EXPECT_EQ(attempt("newuser1", "secret1", "secret1", email, files.filePath("none.jpg")),
            "File Not Found: The avatar file was not found.");
        EXPECT_EQ(attempt("newuser1", "secret1", "secret1", email, tooBig),
            "Invalid Avatar File: The avatar image must be less than 120000 bytes.");
        EXPECT_EQ(dialogs.boxes.last().icon, UserDialogs::Icon::Critical);
        Confabo probe;
        EXPECT_FALSE(probe.Login("newuser1", SkipJack::EncipherPassword(u"secret1"), "127.0.0.1"))
            << "a refused form sends nothing";

        // The service is gone: the form says so instead of blaming the handle.
        const QString address = service.serverSetting();
        ASSERT_TRUE(service.stop());
        EXPECT_TRUE(
            attempt("newuser1", "secret1", "secret1", email, "")
                .startsWith("Confabo Registration Error: Cannot reach the Confabo service at " + address + ": "))
            << qPrintable(lastBox());
        back = std::make_unique<ServiceProcess>(QStringList{"--listen", address}, service.databasePath());
        ASSERT_TRUE(back->isRunning());

        EXPECT_EQ(attempt("takenname", "secret1", "secret1", email, ""),
            "Confabo Registration Error: That handle has already been taken. Please try another.");
        EXPECT_EQ(dialogs.boxes.last().icon, UserDialogs::Icon::Exclamation);
        EXPECT_TRUE(setup->isVisible());

        // Told once signed in, together with the service's welcome.
        EXPECT_EQ(attempt("  newuser1 ", " secret1 ", "secret1", email, exact), QString());
        registered = !setup->isVisible();
        boxesOfTheForm = dialogs.boxes.size();
    });
    bool signInWindow = false;
    whenModal<frmLogin>(
        nullptr, [&](frmLogin* login) { login->reject(); }, &signInWindow, 20000);

    load();
    EXPECT_TRUE(registered);
    EXPECT_FALSE(signInWindow) << "automatic sign-in was checked";
    // One box after the form: the new account and the service's welcome; no invitation offer to
    // an account that has no buddies yet.
    EXPECT_EQ(dialogs.boxes.size(), boxesOfTheForm + 1);
    EXPECT_TRUE(lastBox().startsWith("Confabo Registration: Your Confabo account is registered."
                                     "\r\n\r\nWelcome to Confabo, newuser1!"))
        << qPrintable(lastBox());
    EXPECT_EQ(invitationsOffered, 0);
    EXPECT_EQ(window->panelText(1), "newuser1");
    EXPECT_NE(window->library()->Status(), CFB_OFFLINE);
    EXPECT_EQ(Settings::Handle.read(), "newuser1");
    EXPECT_EQ(Settings::Password.read(), SkipJack::EncipherPassword(u"secret1"));
    EXPECT_EQ(Settings::AutoLogin.read(), "1");
    EXPECT_FALSE(window->library()->Avatar().isNull()) << "the avatar of exactly the largest size was taken";

    EXPECT_FALSE(QFile::exists(AutoStart::entryPath())) << "the box was left unchecked";
    EXPECT_EQ(Settings::AutoRun.read(), "0");
}

TEST_F(SetupDialogTest, ProfileChangesReachTheServiceAndFailuresKeepWhatWorks)
{
    signedInProfile("carolyn");
    const InstalledProgram installed(files.filePath("bin"));
    load();
    const QString oldPort = Settings::DataPort.read();
    QUdpSocket occupier;
    ASSERT_TRUE(occupier.bind(QHostAddress::Any, 0));
    const QString picture = files.filePath("face.png");
    QImage face(120, 100, QImage::Format_RGB32);
    face.fill(0xffc08040);
    ASSERT_TRUE(face.save(picture));
    int mouthLeft = 0;
    int mouthTop = 0;

    whenModal<frmSetup>(window.get(), [&](frmSetup* setup) {
        EXPECT_EQ(setup->windowTitle(), "Confabo Setup");
        EXPECT_TRUE(child<QLineEdit>(setup, "txtHandle")->isReadOnly());
        EXPECT_EQ(child<QLineEdit>(setup, "txtPassword")->text(), "pw-carolyn");
        EXPECT_EQ(child<QLineEdit>(setup, "txtEmail")->text(), "carolyn@example.org");

        setText(setup, "txtPassword", "abc");
        setText(setup, "txtConfirmPassword", "abc");
        EXPECT_EQ(press(setup, "cmdApply"), "Password Not Accepted: The password must be at least 6 characters.");
        setText(setup, "txtPassword", "newpass1");
        setText(setup, "txtConfirmPassword", "newpass2");
        EXPECT_EQ(press(setup, "cmdApply"), "Password Not Accepted: The password and confirm password fields do not match.");
        setText(setup, "txtConfirmPassword", "newpass1");
        setText(setup, "txtEmail", "carolyn @example.org");
        EXPECT_EQ(press(setup, "cmdApply"), "Invalid Email Address: The email address is invalid.");
        EXPECT_EQ(Settings::Password.read(), SkipJack::EncipherPassword(u"newpass1")) << "the password comes first";
        EXPECT_EQ(window->library()->Email(), "carolyn@example.org") << "nothing after a failed check";

        // A port that is taken: the box, and the client keeps listening where it was.
        setText(setup, "txtEmail", "carolyn@new.example.org");
        setText(setup, "txtAvatarFile", picture);
        setText(setup, "txtDataPort", QString::number(occupier.localPort()));
        EXPECT_TRUE(
            press(setup, "cmdApply")
                .startsWith(
                    QStringLiteral("Confabo - Data Port: Confabo cannot use data port %1").arg(occupier.localPort())));
        EXPECT_EQ(window->library()->wsReceive()->LocalPort(), oldPort);
        EXPECT_EQ(window->library()->wsReceive()->State(), sckUDPListening);
        EXPECT_EQ(Settings::DataPort.read(), oldPort);
        EXPECT_EQ(window->library()->Email(), "carolyn@new.example.org") << "the rest was stored";

        // The marker is dragged: never onto the picture's edge.
        dialogs.filesToOpen << picture;
        child<QPushButton>(setup, "cmdBrowse")->click();
        auto* marker = setup->findChild<MouthMarker*>("picMouth");
        const QRect avatar = child<QWidget>(setup, "imgAvatar")->geometry();
        const QPoint start = marker->pos();
        dragMarker(marker, QPoint(avatar.right() + 20 - marker->x(), avatar.bottom() + 20 - marker->y()));
        EXPECT_EQ(marker->pos(), start) << "beyond the far edges nothing moves";
        const QPoint lastInside(avatar.left() + avatar.width() - marker->width() - 1,
            avatar.top() + avatar.height() - marker->height() - 1);
        dragMarker(marker, lastInside - marker->pos());
        EXPECT_EQ(marker->pos(), lastInside);
        dragMarker(marker, QPoint(1, 1));
        EXPECT_EQ(marker->pos(), lastInside) << "one step more would touch the edge";
        dragMarker(marker, avatar.topLeft() - marker->pos());
        EXPECT_EQ(marker->pos(), lastInside) << "the near edges are refused too";
        mouthLeft = setup->mouthLeft();
        mouthTop = setup->mouthTop();
        EXPECT_EQ(mouthLeft, (lastInside.x() - avatar.left()) * 15);

        const QString newPort = freeDataPort();
        setText(setup, "txtDataPort", newPort);
        child<QCheckBox>(setup, "chkAutoLogin")->setChecked(true);
        child<QCheckBox>(setup, "chkAutoRun")->setChecked(true);
        EXPECT_EQ(press(setup, "cmdApply"), QString());
        EXPECT_EQ(window->library()->wsReceive()->LocalPort(), newPort);
        EXPECT_EQ(window->dataPort(), newPort.toInt());
        EXPECT_EQ(Settings::DataPort.read(), newPort);
        QFile entry(AutoStart::entryPath());
        ASSERT_TRUE(entry.open(QIODevice::ReadOnly)) << "the box writes the autostart entry";
        EXPECT_TRUE(entry.readAll().contains(AutoStart::execLine(AutoStart::installedProgram()).toUtf8()))
            << "it starts the installed program";
        child<QCheckBox>(setup, "chkAutoLogin")->setChecked(false);
        EXPECT_FALSE(child<QCheckBox>(setup, "chkAutoRun")->isChecked()) << "no autostart without automatic sign-in";
        EXPECT_EQ(press(setup, "cmdApply"), QString());
        EXPECT_FALSE(AutoStart::isEnabled());

        // The service is gone: the refused change leaves the stored password alone.
        ASSERT_TRUE(service.stop());
        setText(setup, "txtPassword", "another1");
        setText(setup, "txtConfirmPassword", "another1");
        EXPECT_EQ(press(setup, "cmdOK"),
            "Confabo Change Password Error: Unable to change the password at this time. Please try again later.");
        EXPECT_TRUE(setup->isVisible());
        // So is a refused e-mail change: said, not shown as saved.
        setText(setup, "txtPassword", "newpass1");
        setText(setup, "txtConfirmPassword", "newpass1");
        setText(setup, "txtEmail", "carolyn@gone.example.org");
        EXPECT_EQ(press(setup, "cmdOK"),
            "Confabo Change Email Error: Unable to change the email address at this time. Please try again later.");
        EXPECT_TRUE(setup->isVisible());
        setup->reject();
    });
    EXPECT_TRUE(window->dialogs().showSetup(window.get()));
    EXPECT_EQ(Settings::Password.read(), SkipJack::EncipherPassword(u"newpass1"));

    ASSERT_TRUE(service.restart());
    Settings::ServiceHost.write(service.serverSetting());
    Confabo again;
    ASSERT_TRUE(again.Login("carolyn", SkipJack::EncipherPassword(u"newpass1"), "127.0.0.1"));
    EXPECT_EQ(again.Email(), "carolyn@new.example.org");
    EXPECT_EQ(again.Avatar().size(), QSize(120, 100));
    EXPECT_EQ(again.MouthLeft(), mouthLeft);
    EXPECT_EQ(again.MouthTop(), mouthTop);
}

// A photo straight from a camera is larger than an avatar may be: it is made smaller as it is
// chosen, shown so, and taken at OK; the user is told nothing.
TEST_F(SetupDialogTest, AnOrdinaryPhotoBecomesAnAvatarUnderTheLimit)
{
    signedInProfile("dorothea");
    load();
    // 800 x 600 with detail everywhere (a gradient under noise), as a photo has.
    QImage photo(800, 600, QImage::Format_RGB32);
    auto* noise = QRandomGenerator::global();
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int grain = int(noise->bounded(60)) - 30;
            photo.setPixel(x, y,
                qRgb(std::clamp(x * 255 / 800 + grain, 0, 255), std::clamp(y * 255 / 600 + grain, 0, 255),
                    std::clamp(128 + grain, 0, 255)));
        }
    const QString path = files.filePath("holiday.jpg");
    ASSERT_TRUE(photo.save(path, "JPG", 90));
    ASSERT_GT(QFileInfo(path).size(), Confabo::MaxAvatarSize) << "the photo must be too large as it is";

    const qsizetype boxes = dialogs.boxes.size();
    whenModal<frmSetup>(window.get(), [&](frmSetup* setup) {
        dialogs.filesToOpen << path;
        child<QPushButton>(setup, "cmdBrowse")->click();
        EXPECT_EQ(child<QLineEdit>(setup, "txtAvatarFile")->text(), path) << "the field names the photo chosen";
        const QPixmap preview = child<QLabel>(setup, "imgAvatar")->pixmap();
        ASSERT_FALSE(preview.isNull());
        EXPECT_EQ(press(setup, "cmdOK"), QString());
    });
    EXPECT_TRUE(window->dialogs().showSetup(window.get()));
    EXPECT_EQ(dialogs.boxes.size(), boxes) << qPrintable(lastBox());

    Confabo again;
    ASSERT_TRUE(again.Login("dorothea", ClientProfile::password("dorothea"), "127.0.0.1"));
    const QImage avatar = again.Avatar();
    ASSERT_FALSE(avatar.isNull()) << "the service took it";
    EXPECT_LT(avatar.width(), 800);
    EXPECT_GE(avatar.width(), 160) << "as large as fits, not a stamp";
    EXPECT_NEAR(double(avatar.width()) / avatar.height(), 4.0 / 3.0, 0.02);
    EXPECT_TRUE(QFileInfo(path).size() > Confabo::MaxAvatarSize) << "the photo itself is left as it was";
}

TEST_F(SetupDialogTest, TheVideoIsBorrowedAndCancelPutsTheFormatBack)
{
    signedInProfile("videouser");
    load(QStringLiteral("pattern"));
    MainVideo* video = window->video();
    ASSERT_TRUE(video && video->hasSource());
    CaptureSource* source = video->source();
    const QSize size = source->frameSize();
    const QString snapshot = files.filePath("snapshot.jpg");

    whenModal<frmSetup>(window.get(), [&](frmSetup* setup) {
        auto* tabs = child<QTabWidget>(setup, "tabSetup");
        ASSERT_EQ(tabs->count(), 4); // profile, application, video, audio
        EXPECT_EQ(video->preview()->parentWidget(), child<QWidget>(setup, "picAvatar"));
        auto* camera = child<QCheckBox>(setup, "chkCamera");
        camera->setChecked(true);
        EXPECT_TRUE(child<QWidget>(setup, "picAvatar")->isVisible());
        EXPECT_FALSE(child<QWidget>(setup, "imgAvatar")->isVisible());
        EXPECT_TRUE(waitFor([&] { return !video->snapshot().isNull(); }));
        dialogs.filesToSave << snapshot;
        child<QPushButton>(setup, "cmdCamera")->click();
        EXPECT_FALSE(camera->isChecked());
        EXPECT_EQ(child<QLineEdit>(setup, "txtAvatarFile")->text(), snapshot);

        tabs->setCurrentIndex(2);
        EXPECT_EQ(video->preview()->parentWidget(), child<QWidget>(setup, "picVideo"));
        auto* rates = child<QComboBox>(setup, "cmbFrameRate");
        // Never chosen, the list shows what the camera runs at, and an OK or Apply that changes
        // nothing stores no rate or size: the camera's defaults keep following the codec.
        ASSERT_TRUE(Settings::FrameRate.read(QString()).isEmpty());
        EXPECT_EQ(rates->currentText(), QString::number(source->frameRate()));
        EXPECT_EQ(press(setup, "cmdApply"), QString());
        EXPECT_TRUE(Settings::FrameRate.read(QString()).isEmpty()) << Settings::FrameRate.read().toStdString();
        EXPECT_TRUE(Settings::VideoWidth.read(QString()).isEmpty());
        rates->setCurrentText("2");
        emit rates->activated(rates->currentIndex());
        EXPECT_EQ(source->frameRate(), 2);
        rates->setCurrentText("20");
        EXPECT_EQ(press(setup, "cmdApply"), QString());
        EXPECT_EQ(source->frameRate(), 20);
        EXPECT_EQ(Settings::FrameRate.read(), "20");
        EXPECT_EQ(window->panelText(4), QStringLiteral("%1x%2 20fps").arg(size.width()).arg(size.height()));
        whenModal<VideoFormatDialog>(setup, [](VideoFormatDialog* format) {
            auto* sizes = format->findChild<QComboBox*>("cmbSize");
            sizes->setCurrentIndex(sizes->findData(QSize(320, 240)));
            format->accept();
        });
        child<QPushButton>(setup, "cmdFormat")->click();
        EXPECT_EQ(source->frameSize(), QSize(320, 240));
        EXPECT_EQ(window->panelText(4), QStringLiteral("320x240 20fps"));
        child<QPushButton>(setup, "cmdCancel")->click();
    });
    EXPECT_TRUE(window->dialogs().showSetup(window.get()));
    EXPECT_EQ(source->frameSize(), size);
    EXPECT_EQ(source->frameRate(), 20) << "what Apply stored stays";
    EXPECT_EQ(video->preview()->parentWidget(), window->findChild<QWidget*>("picVideo"));

    QFile file(snapshot);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("\xff\xd8")) << "a .jpg snapshot is a JPEG";
    EXPECT_EQ(QImage::fromData(bytes).size(), size);
}

} // namespace
