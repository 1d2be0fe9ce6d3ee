// confabo-screenshots: draws the desktop client's windows into PNG files, for the README.
//
//   confabo-screenshots avatar --file F.png --color '#d05030'   a simple avatar picture to register
//   confabo-screenshots render --out DIR --server HOST:PORT --data-port N --handle H --password P
//                              [--buddy HANDLE --buddy-input FIFO --receive-port N]
//   confabo-screenshots first-run --out DIR --server HOST:PORT --data-port N --handle H
//
// Run it with QT_QPA_PLATFORM=offscreen and $XDG_CONFIG_HOME pointing at a folder of its own:
// "render" writes the account into that settings store and signs in automatically, so the service
// and the buddies must be up (scripts/screenshots does that). With --buddy it also draws a chat
// with that buddy, whose confabo-cli session reads its commands from FIFO, and the Verify dialog of
// that buddy's safety number. "first-run" starts from
// an empty settings store as a new user does: the splash, the registration form (filled in with a
// new account H), the box after it and the main window with nobody online.
#include "buddies/VerifyDialog.h"
#include "buddies/frmBlockList.h"
#include "buddies/frmBuddyList.h"
#include "buddies/frmInvite.h"
#include "channel/Identity.h"
#include "chat/cBuddyInfo.h"
#include "chat/frmBuddy.h"
#include "common/HelpWindow.h"
#include "common/UserDialogs.h"
#include "common/frmPopup.h"
#include "common/frmSplash.h"
#include "common/modMain.h"
#include "desktop/QtUserDialogs.h"
#include "mainwindow/CallControl.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "protocol/SkipJack.h"
#include "resources/ClientResources.h"
#include "session/frmLogin.h"
#include "setup/frmSetup.h"
#include "speech/EspeakSpeechEngine.h"
#include "speech/MouthWidget.h"
#include "transport/ivUDP.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

using namespace cfb;
using namespace cfb::client;

namespace {

int usage()
{
    std::fprintf(stderr,
        "usage: confabo-screenshots avatar --file F.png --color C | render --out DIR --server S --data-port N --handle "
        "H --password P [--buddy B --buddy-input FIFO --receive-port N] | first-run --out DIR --server S --data-port N "
        "--handle H\n");
    return 2;
}

QString option(const QStringList& args, const QString& name)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
}

// Lets pending work (layout, slides, images) finish for a moment.
void settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Runs the event loop until done() holds, for at most ms; gives done()'s value.
bool settleUntil(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// The main window's load, waiting for its steps after the sign-in; false when they failed.
bool load(frmMain& window)
{
    bool ended = false, loaded = false;
    const QMetaObject::Connection watch = QObject::connect(&window, &frmMain::loadEnded, &window, [&](bool ok) {
        ended = true;
        loaded = ok;
    });
    window.Load();
    settleUntil([&] { return ended; }, 30000);
    QObject::disconnect(watch);
    return loaded;
}

// ready() is checked after the window has settled and once more just before it is drawn.
bool save(QWidget* window, const QString& dir, const QString& name, const std::function<bool()>& ready = {})
{
    window->show();
    settle();
    if (ready && !settleUntil(ready)) {
        std::fprintf(stderr, "%s: the window did not get to the state to draw\n", qUtf8Printable(name));
        return false;
    }
    const QString path = QDir(dir).filePath(name);
    const bool ok = window->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qUtf8Printable(path));
    return ok;
}

// The buddy-list editor, the block-list editor (with one buddy blocked for the picture) and the
// invitation dialog, each shown without its modal loop.
bool saveListDialogs(frmMain& window, const QString& dir)
{
    bool ok = true;
    {
        frmBuddyList buddies(window.session(), &window);
        ok &= save(&buddies, dir, QStringLiteral("buddylist.png"));
        buddies.reject();
    }
    const QString blocked = QStringLiteral("bertram");
    if (window.library()->BlockUser(blocked)) {
        frmBlockList list(window.session(), nullptr);
        settleUntil([&] { return list.findChild<QListWidget*>(QStringLiteral("lstBlocked"))->count() > 0; });
        if (QListWidgetItem* entry = list.findChild<QListWidget*>(QStringLiteral("lstBlocked"))->item(0))
            entry->setCheckState(Qt::Checked);
        ok &= save(&list, dir, QStringLiteral("blocklist.png"));
        list.reject();
        window.library()->UnBlockUser(blocked);
    }
    {
        frmInvite invite(window.session(), &window);
        invite.findChild<QLineEdit*>(QStringLiteral("txtMessage"))->setText(QStringLiteral("Come and try Confabo!"));
        ok &= save(&invite, dir, QStringLiteral("invite.png"));
        invite.reject();
    }
    return ok;
}

// The Verify dialog of a buddy with a key: the safety number, its QR code, "Verified".
bool saveVerifyDialog(frmMain& window, const QString& dir, const QString& buddy)
{
    const std::shared_ptr<Buddy> user = window.library()->Buddies()->Item(buddy);
    if (!user) {
        std::fprintf(stderr, "verify.png skipped: %s is no buddy\n", qUtf8Printable(buddy));
        return false;
    }
    VerifyDialog verify(window.session(), user, &window);
    const bool ok
        = save(&verify, dir, QStringLiteral("verify.png"), [&verify] { return !verify.shownNumber().isEmpty(); });
    verify.reject();
    return ok;
}

// The setup dialog's four tabs, the profile tab with the test pattern in the camera box.
bool saveSetupDialog(frmMain& window, const QString& dir)
{
    frmSetup setup(window.session(), &window);
    auto* tabs = setup.findChild<QTabWidget*>(QStringLiteral("tabSetup"));
    const char* names[] = {"setup-profile.png", "setup-application.png", "setup-video.png", "setup-audio.png"};
    bool ok = true;
    for (int tab = 0; tab < tabs->count() && tab < 4; ++tab) {
        tabs->setCurrentIndex(tab);
        ok &= save(&setup, dir, QLatin1String(names[tab]));
    }
    setup.reject();
    return ok;
}

// A short chat with a buddy, in the main window and in the buddy's own window. The user's lines go
// out through the window's send button; the buddy answers through its confabo-cli session, so
// each answer arrives as a real datagram. Every client of a machine sends to the same data port,
// so the window first takes a receiving port of its own, the one the buddy answers to: otherwise
// the user's own lines, sent to the buddy's address on this machine, would come back to the
// window as messages from a stranger.
// Answers the picture dialog with one file; every other question goes to the Qt dialogs.
class PictureFileAnswer : public UserDialogs {
public:
    explicit PictureFileAnswer(QString path)
        : path_(std::move(path))
    {
    }
    int messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title) override
    {
        return qtUserDialogs().messageBox(parent, text, buttons, icon, title);
    }
    int messageBoxWithHelp(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title,
        int helpContext) override
    {
        return qtUserDialogs().messageBoxWithHelp(parent, text, buttons, icon, title, helpContext);
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return path_; }
    QString saveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suggested) override
    {
        return qtUserDialogs().saveFileName(parent, title, filter, suggested);
    }
    void beep() override { }
    bool openUrl(const QUrl& url) override { return qtUserDialogs().openUrl(url); }

private:
    QString path_;
};

// A picture sent from the main window: it takes the user's box and stays in the conversation as
// a line with its thumbnail.
bool savePictureLine(frmMain& window, const QString& dir, const QString& buddy)
{
    QTemporaryDir files;
    QImage picture(640, 480, QImage::Format_RGB32);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, 300);
        sky.setColorAt(0, QColor(0x2b, 0x4a, 0x8c));
        sky.setColorAt(1, QColor(0xf4, 0xa2, 0x5a));
        p.fillRect(0, 0, 640, 300, sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xd2, 0x6a));
        p.drawEllipse(QPointF(420, 290), 60, 60);
        p.fillRect(0, 300, 640, 180, QColor(0x1f, 0x5a, 0x7a));
        p.setBrush(QColor(0x2e, 0x3b, 0x2a));
        p.drawPolygon(QPolygonF({QPointF(0, 300), QPointF(140, 200), QPointF(300, 300)}));
    }
    const QString path = files.filePath(QStringLiteral("sunset.jpg"));
    if (!picture.save(path, "JPG", 85))
        return false;
    PictureFileAnswer answer(path);
    UserDialogs::install(&answer);
    window.cmdPic_Click();
    cBuddyInfo* record = window.buddyInfo(buddy);
    const bool ok = record && save(&window, dir, QStringLiteral("picture-line.png"), [record] {
        return !record->transcript().lines().isEmpty() && record->transcript().lines().last().isPicture();
    });
    UserDialogs::install(nullptr);
    return ok;
}

bool saveChat(frmMain& window, const QString& dir, const QString& buddy, const QString& buddyInput, int receivePort)
{
    auto* receiver = new ivUDP;
    receiver->setLocalPort(QString::number(receivePort));
    receiver->wsBind();
    if (receiver->State() != sckUDPListening) {
        std::fprintf(stderr, "chat skipped: cannot receive on port %d\n", receivePort);
        delete receiver;
        return false;
    }
    window.library()->setWsReceive(receiver);
    QFile input(buddyInput);
    if (!input.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "chat skipped: cannot write to %s\n", qUtf8Printable(buddyInput));
        return false;
    }
    const QString own = Settings::Handle.read();
    const auto send = [](QWidget* form, const QString& text) {
        form->findChild<QLineEdit*>(QStringLiteral("txtMessage"))->setText(text);
        form->findChild<QPushButton*>(QStringLiteral("cmdSend"))->click();
    };
    const auto transcript = [&window, buddy] {
        const cBuddyInfo* record = window.buddyInfo(buddy);
        return record ? record->Chat() : QString();
    };
    // The buddy answers, and the answer is shown (and spoken) before the scene goes on.
    const auto answer = [&](const QString& text) {
        input.write(QStringLiteral("send --port %1 %2 %3\n").arg(receivePort).arg(own, text).toUtf8());
        if (settleUntil([&] { return transcript().endsWith(buddy + QStringLiteral(": ") + text); }))
            return true;
        std::fprintf(stderr, "chat: %s's answer did not arrive\n", qUtf8Printable(buddy));
        return false;
    };
    // The mouth is drawn open, mid-word.
    const auto mouthOpen = [](MouthWidget* mouth) {
        return [mouth] {
            return mouth && mouth->isVisible()
                && (mouth->shape() == MouthShape::Open || mouth->shape() == MouthShape::Wide);
        };
    };

    if (!window.SelBuddy() || window.SelBuddy()->handle() != buddy) {
        std::fprintf(stderr, "chat skipped: %s is not the selected buddy\n", qUtf8Printable(buddy));
        return false;
    }
    send(&window, QStringLiteral("Hi %1! Are you free for dinner tonight?").arg(buddy));
    bool ok = answer(QStringLiteral("Yes! Shall we meet at eight?"));
    send(&window, QStringLiteral("Eight is perfect. Shall I bring anything?"));
    ok = ok && answer(QStringLiteral("Just yourself, and maybe some good stories"));
    ok = ok && save(&window, dir, QStringLiteral("chat.png"), mouthOpen(window.mouth()));
    if (auto* speech = qobject_cast<EspeakSpeechEngine*>(window.speech()))
        speech->stop();

    window.cmdNewWindow_Click();
    cBuddyInfo* record = window.buddyInfo(buddy);
    frmBuddy* form = record ? record->BuddyForm() : nullptr;
    if (!ok || !form)
        return false;
    send(form, QStringLiteral("I'll bring dessert then."));
    ok = answer(QStringLiteral("Lovely, something with chocolate please!"));
    ok = ok && save(form, dir, QStringLiteral("buddy-window.png"), [form] {
        return form->findChild<QTextEdit*>(QStringLiteral("txtChat"))
            ->toPlainText()
            .contains(QStringLiteral("chocolate"));
    });
    if (auto* speech = qobject_cast<EspeakSpeechEngine*>(window.speech()))
        speech->stop();
    form->close();
    return ok && savePictureLine(window, dir, buddy);
}

int drawAvatar(const QString& file, const QColor& colour)
{
    QImage avatar(90, 120, QImage::Format_RGB32);
    avatar.fill(colour.lighter(170));
    QPainter p(&avatar);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(5, 80, 80, 70)); // shoulders
    p.setBrush(QColor(0xf2, 0xc9, 0xa0));
    p.drawEllipse(QRectF(22, 22, 46, 56)); // face
    p.setBrush(colour.darker(160));
    QPainterPath hair;
    hair.moveTo(20, 46);
    hair.cubicTo(18, 10, 72, 10, 70, 46);
    hair.cubicTo(60, 30, 30, 30, 20, 46);
    p.drawPath(hair);
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawEllipse(QRectF(34, 46, 5, 6));
    p.drawEllipse(QRectF(51, 46, 5, 6));
    p.setPen(QPen(QColor(0xa0, 0x40, 0x40), 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(36, 56, 18, 12), 200 * 16, 140 * 16);
    p.end();
    return avatar.save(file) ? 0 : 1;
}

// A call from a buddy: the question as it rings, then the main window during the call with the
// status bar's timer. The caller, edmund, is a library object of this process on a data port of
// its own (callerPort) with a key of his own, made a buddy for this, so that the confabo-cli
// sessions and the pictures before stay as they were.
bool saveCall(frmMain& window, const QString& dir, int callerPort)
{
    Confabo* own = window.library();
    const QString ownHandle = Settings::Handle.read();
    const int16_t ownPort = int16_t(own->wsReceive()->LocalPort().toInt());
    const QString keptPort = Settings::DataPort.read();
    Settings::DataPort.write(QString::number(callerPort));
    Confabo edmund;
    Settings::DataPort.write(keptPort);
    Key32 secret;
    secret.fill(0xed);
    edmund.setIdentity(Identity::fromSecret(secret));
    const QString password = cfb::SkipJack::EncipherPassword(QStringLiteral("pw-edmund"));
    // His welcome is nobody's to read here.
    const UserNotice::Handler notices = UserNotice::setHandler([](const QString&, const QString&) {});
    const bool signedIn = edmund.Register(QStringLiteral("edmund"), password, QStringLiteral("edmund@example.org"))
        && edmund.Login(QStringLiteral("edmund"), password, QStringLiteral("127.0.0.1"));
    UserNotice::setHandler(notices);
    if (!signedIn || edmund.AddBuddy(ownHandle).isEmpty() || own->AddBuddy(QStringLiteral("edmund")).isEmpty()) {
        std::fprintf(stderr, "call skipped: edmund could not be made a buddy\n");
        return false;
    }
    auto* tabs = window.findChild<QTabBar*>(QStringLiteral("tabBuddies"));
    const auto edmundTab = [tabs] {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == QLatin1String("edmund"))
                return i;
        return -1;
    };
    // His tab and his place in the window's buddy list (calls ring only from buddies): the list
    // is loaded again until it holds him.
    settleUntil([&] {
        window.LoadBuddyList();
        return edmundTab() >= 0 && own->Buddies()->Item(QStringLiteral("edmund"));
    });
    tabs->setCurrentIndex(edmundTab());
    // A line each way: each side knows the other's key, and the encrypted session is up.
    edmund.SendMessage(ownHandle, QStringLiteral("Got a minute? I'll give you a call."), ownPort, ownPort);
    const auto transcriptHas = [&window](const QString& text) {
        const cBuddyInfo* record = window.buddyInfo(QStringLiteral("edmund"));
        return record && record->Chat().contains(text);
    };
    bool ok = settleUntil([&] { return transcriptHas(QStringLiteral("give you a call")); });
    if (!ok)
        std::fprintf(stderr, "call: edmund's line did not arrive (tab %d)\n", edmundTab());
    window.findChild<QLineEdit*>(QStringLiteral("txtMessage"))->setText(QStringLiteral("Sure, ring me."));
    window.cmdSend_Click();
    // The question waits in an event loop of its own: it is drawn and answered from a timer that
    // runs there.
    bool ringingSaved = false;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* popup = qobject_cast<frmPopup*>(w); popup && !ringingSaved && popup->slidIn()
                && popup->MsgBoxResult() == 0 && popup->prompt() == CallControl::question(QStringLiteral("edmund"))) {
                ringingSaved = true;
                look.stop();
                ok &= save(popup, dir, QStringLiteral("call-ringing.png"));
                popup->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
            }
    });
    look.start();
    QString error;
    ok = ok && edmund.Call(ownHandle, ownPort, error);
    if (!ok || !settleUntil([&] { return ringingSaved; }, 15000)) {
        std::fprintf(stderr, "call skipped: edmund's call did not ring here (%s)\n", qUtf8Printable(error));
        edmund.Hangup();
        return false;
    }
    ok &= save(&window, dir, QStringLiteral("call.png"),
        [&window] { return window.callPanelText().startsWith(QStringLiteral("Call with edmund 0:03")); });
    edmund.Hangup();
    settleUntil([&window] { return window.callPanelText().isEmpty(); });
    edmund.Logout();
    return ok;
}

int render(const QStringList& args)
{
    const QString dir = option(args, "--out");
    QDir().mkpath(dir);
    cfb::SkipJack::SkipjackInit();
    Settings::ServiceHost.write(option(args, "--server"));
    Settings::DataPort.write(option(args, "--data-port"));
    Settings::Handle.write(option(args, "--handle"));
    Settings::Password.write(cfb::SkipJack::EncipherPassword(option(args, "--password")));
    Settings::HostName.write(QStringLiteral("127.0.0.1"));
    Settings::IsRegistered.write(QStringLiteral("1"));
    Settings::AutoLogin.write(QStringLiteral("1"));
    Settings::AutoRun.write(QStringLiteral("1"));
    // Speech on, so the buddy's mouth moves while a message is read out (silently here).
    Settings::EnableSpeech.write(QStringLiteral("1"));
    QApplication::setWindowIcon(applicationIcon());
    bool ok = true;

    EspeakSpeechEngine::Options speechOptions;
    speechOptions.useAudioDevice = false;
    speechOptions.eventLog = [](const QString&) {};
    EspeakSpeechEngine speech(speechOptions);
    frmMain window(&speech);
    {
        // The sign-in window, its Register opening the main window's setup dialog.
        frmLogin login(window.dialogs());
        ok &= save(&login, dir, QStringLiteral("signin.png"));
        login.hide();
    }
    // The live preview in the video box: the moving test pattern stands in for a camera.
    window.setVideoSourceOption(QStringLiteral("pattern"));
    QElapsedTimer loadTime;
    loadTime.start();
    ok &= load(window);
    const qint64 loadMs = loadTime.elapsed();
    ok &= save(&window, dir, QStringLiteral("main.png"));
    window.toggleExpandedView(window.findChild<QWidget*>(QStringLiteral("picVideo")));
    ok &= save(&window, dir, QStringLiteral("main-expanded.png"));
    window.toggleExpandedView(nullptr);
    if (const QString buddy = option(args, "--buddy"); !buddy.isEmpty())
        ok &= saveChat(window, dir, buddy, option(args, "--buddy-input"), option(args, "--receive-port").toInt());

    auto* popup = new frmPopup;
    popup->setPrompt(QStringLiteral("'amelia' would like to chat with you. Do you accept the invitation?"));
    popup->setWindowTitle(QStringLiteral("Confabo - Invitation"));
    ok &= save(popup, dir, QStringLiteral("popup.png"));
    popup->closeByProgram();

    HelpWindow* help = HelpWindow::showTopic(0, nullptr);
    if (help && !help->browser()->toPlainText().isEmpty())
        ok &= save(help, dir, QStringLiteral("help.png"));
    else
        std::fprintf(stderr, "skipped help.png: this build has no help pages\n");

    ok &= saveListDialogs(window, dir);
    if (const QString buddy = option(args, "--buddy"); !buddy.isEmpty())
        ok &= saveVerifyDialog(window, dir, buddy);
    ok &= saveSetupDialog(window, dir);
    if (const QString callerPort = option(args, "--caller-port"); !callerPort.isEmpty())
        ok &= saveCall(window, dir, callerPort.toInt());

    window.Unload();

    // For comparison, the bare sign-in that the window's load contains.
    QElapsedTimer loginTime;
    loginTime.start();
    {
        Confabo bare;
        ok &= bare.Login(Settings::Handle.read(), Settings::Password.read(), Settings::HostName.read());
        bare.Logout();
    }
    std::printf("main window load %lld ms, bare Login %lld ms\n", loadMs, loginTime.elapsed());
    return ok ? 0 : 1;
}

// Saves a window that is up now (inside a modal loop, from a timer).
bool saveShown(QWidget* window, const QString& dir, const QString& name)
{
    const QString path = QDir(dir).filePath(name);
    const bool ok = window->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qUtf8Printable(path));
    return ok;
}

// A new user's first start: the splash, the registration form as it opens, the one box after
// registering and signing in, and the main window with nobody online yet. The modal windows are
// drawn and answered from a timer while the main window's load waits in them.
int firstRun(const QStringList& args)
{
    const QString dir = option(args, "--out");
    const QString handle = option(args, "--handle");
    QDir().mkpath(dir);
    cfb::SkipJack::SkipjackInit();
    Settings::ServiceHost.write(option(args, "--server"));
    Settings::DataPort.write(option(args, "--data-port"));
    Settings::HostName.write(QStringLiteral("127.0.0.1"));
    Settings::EnableSpeech.write(QStringLiteral("0"));
    QApplication::setWindowIcon(applicationIcon());
    bool ok = true;

    {
        frmSplash splash;
        ok &= save(&splash, dir, QStringLiteral("splash.png"));
    }

    // Each modal window is drawn once it has been up for a moment, then answered.
    QElapsedTimer up;
    QWidget* seen = nullptr;
    bool registered = false, boxDrawn = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != seen) {
            seen = modal;
            up.start();
            return;
        }
        if (!modal || up.elapsed() < 400)
            return;
        if (auto* setup = qobject_cast<frmSetup*>(modal); setup && registered)
            return; // the form goes once the service has answered the registration
        if (auto* setup = qobject_cast<frmSetup*>(modal); setup && !registered) {
            registered = true;
            ok &= saveShown(setup, dir, QStringLiteral("registration.png"));
            setup->findChild<QLineEdit*>(QStringLiteral("txtHandle"))->setText(handle);
            for (const char* field : {"txtPassword", "txtConfirmPassword"})
                setup->findChild<QLineEdit*>(QLatin1String(field))->setText(QStringLiteral("pw-") + handle);
            setup->findChild<QLineEdit*>(QStringLiteral("txtEmail"))->setText(handle + QStringLiteral("@example.org"));
            setup->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && !boxDrawn) {
            boxDrawn = box->windowTitle() == QLatin1String("Confabo Registration");
            ok &= saveShown(
                box, dir, boxDrawn ? QStringLiteral("first-run-box.png") : QStringLiteral("unexpected.png"));
            if (QAbstractButton* button = box->button(QMessageBox::Ok))
                button->click();
            else
                box->close();
        } else {
            std::fprintf(stderr, "first run: unexpected window %s\n", modal->metaObject()->className());
            ok = false;
            modal->close();
        }
    });
    driver.start(20);

    frmMain window(nullptr);
    window.setVideoSourceOption(QStringLiteral("pattern"));
    ok &= load(window);
    driver.stop();
    if (!registered || !boxDrawn) {
        std::fprintf(stderr, "first run: the registration form or the box after it did not come\n");
        ok = false;
    }
    ok &= save(&window, dir, QStringLiteral("first-run-main.png"));
    window.Unload();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(modMain::AppTitle));
    const QStringList args = QApplication::arguments().mid(1);
    if (args.value(0) == QLatin1String("avatar") && !option(args, "--file").isEmpty())
        return drawAvatar(option(args, "--file"), QColor(option(args, "--color")));
    if (args.value(0) == QLatin1String("render") && !option(args, "--out").isEmpty())
        return render(args);
    if (args.value(0) == QLatin1String("first-run") && !option(args, "--out").isEmpty())
        return firstRun(args);
    return usage();
}
