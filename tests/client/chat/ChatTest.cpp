// Chat from the main window and the detached window, signed in to the real service. The buddies
// sign in with library objects of their own and listen with plain sockets on the data port the
// window sends to (amelia at 127.0.0.1, bertram at 127.0.0.2); the window itself receives on a port of its
// own, where the buddies' messages and frames arrive.
#include "../support/PopupAnswerer.h"
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "Heartbeat.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "channel/Identity.h"
#include "chat/LineTimes.h"
#include "chat/StrangerQueue.h"
#include "chat/TranscriptView.h"
#include "chat/VoiceMenu.h"
#include "chat/cBuddyInfo.h"
#include "chat/frmBuddy.h"
#include "common/frmPopup.h"
#include "history/HistoryStore.h"
#include "imaging/modPic.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "speech/MouthWidget.h"
#include "speech/SpeechEngine.h"
#include "transport/ivUDP.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QScrollBar>
#include <QTextEdit>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>

using namespace cfb;
using namespace cfb::client;
using startup_test::PopupAnswerer;

namespace {

// Speech that remembers what it was asked to say, with which voice and which mouth.
class RecordingSpeech : public SpeechEngine {
public:
    struct Said {
        QString text;
        int voice;
        MouthWidget* mouth;
    };

    explicit RecordingSpeech(int voices)
        : voices_(voices)
    {
    }
    void speak(const QString& text, MouthWidget* mouth) override { said.append({text, voice_, mouth}); }
    QString voiceName(int index) const override
    {
        return index >= 1 && index <= voices_ ? QStringLiteral("Voice %1").arg(index) : QString();
    }
    // The first twenty speak English, the rest a language nobody named.
    QString voiceLanguage(int index) const override { return index <= 20 ? QStringLiteral("English") : QString(); }
    int currentVoice() const override { return voice_; }
    void setCurrentVoice(int index) override
    {
        // A switch is announced by the flag.
        if (index != voice_)
            switchedWithFlag &= switching_;
        if (index >= 1 && index <= voices_)
            voice_ = index;
    }
    void setSwitchFlag(bool on) override { switching_ = on; }
    void setHeld(bool on) override { held = on; }
    void showVoicesDialog(QWidget* owner, const QString& title) override { dialogs.append({owner, title}); }
    bool audioAvailable() const override { return true; }

    QList<Said> said;
    QList<std::pair<QWidget*, QString>> dialogs;
    bool switchedWithFlag = true;
    bool held = false;

private:
    int voices_;
    int voice_ = 1;
    bool switching_ = false;
};

void type(QWidget* box, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
}

void pressEnter(QWidget* box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(box, &press);
}

QImage noise(QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, random->generate());
    return picture;
}

// A buddy on the other side: signed in through a library object of its own, listening on the
// window's data port at an address of its own.
struct Peer {
    std::unique_ptr<Confabo> user;
    QUdpSocket socket;

    // The next datagram, parsed; nothing when none came within five seconds.
    std::optional<PeerDatagram::Arrival> receive()
    {
        if (!waitUntil([this] { return socket.hasPendingDatagrams(); }))
            return std::nullopt;
        QByteArray bytes(int(socket.pendingDatagramSize()), Qt::Uninitialized);
        socket.readDatagram(bytes.data(), bytes.size());
        XmlDocument document;
        return PeerDatagram::parse(document, bytes);
    }
};

class ChatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"), true);
        for (const char* who : {"amelia", "bertram", "cordelia", "eleanor", "florence"})
            addUser(QLatin1String(who));
        Confabo carol;
        ASSERT_TRUE(carol.Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        ASSERT_EQ(carol.AddBuddy("amelia@example.org"), "amelia");
        ASSERT_EQ(carol.AddBuddy("bertram@example.org"), "bertram");
        carol.Logout();
        Settings::BlockAllData.erase();
        Settings::DataPort.write(freeDataPort());
        dialogs.boxes.clear(); // the service's welcome on each first sign-in
    }

    void TearDown() override { window.reset(); }

    void addUser(const QString& handle)
    {
        QImage avatar(90, 120, QImage::Format_RGB32);
        avatar.fill(0xff806040);
        const QString path = files.filePath(handle + ".png");
        ASSERT_TRUE(avatar.save(path));
        Confabo user;
        // The mouth 30 x 80 pixels into the avatar.
        ASSERT_TRUE(user.Register(handle, ClientProfile::password(handle), handle + "@example.org", path, 450, 1200));
    }

    // Signs a buddy in at an address of its own; it listens once the window is loaded.
    Peer& signIn(const char* handle, const char* address)
    {
        Peer& peer = peers[handle];
        Settings::BlockAllData.write(QStringLiteral("True"));
        peer.user = std::make_unique<Confabo>();
        Settings::BlockAllData.erase();
        // A plain socket stands in for the buddy's client: its object publishes no key, so the
        // window reaches it in the plain format.
        peer.user->setIdentity(std::nullopt);
        EXPECT_TRUE(peer.user->Login(handle, ClientProfile::password(handle), address));
        addresses[handle] = QString::fromLatin1(address);
        dialogs.boxes.clear(); // the service's welcome
        return peer;
    }

    // Loads the window and moves its receiving socket to a port of its own, leaving the data port,
    // where the window sends, to the buddies signed in so far.
    void load(int voices = 3)
    {
        speech = std::make_unique<RecordingSpeech>(voices);
        window = std::make_unique<frmMain>(speech.get());
        EXPECT_TRUE(loadMainWindow(*window));
        speech->said.clear(); // "Logging in."
        auto* receiver = new ivUDP;
        receiver->setLocalPort(freeDataPort());
        receiver->wsBind();
        ASSERT_EQ(receiver->State(), sckUDPListening);
        window->library()->setWsReceive(receiver);
        windowPort = int16_t(receiver->LocalPort().toInt());
        for (auto& [handle, peer] : peers) {
            ASSERT_TRUE(peer.socket.bind(QHostAddress(addresses[handle]), quint16(window->dataPort())))
                << peer.socket.errorString().toStdString();
            peer.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        }
        tabs = window->findChild<QTabBar*>("tabBuddies");
        txtMessage = window->findChild<QLineEdit*>("txtMessage");
        txtChat = window->findChild<QTextBrowser*>("txtChat");
    }

    void poll(const QStringList& expected)
    {
        EXPECT_TRUE(waitUntil([&] {
            window->tmr_Timer();
            return tabHandles() == expected;
        })) << tabHandles().join(' ').toStdString();
    }

    QStringList tabHandles() const
    {
        QStringList handles;
        for (int i = 0; i < tabs->count(); ++i)
            handles << tabs->tabText(i);
        return handles;
    }

    // A buddy writes to the window.
    void say(const char* from, const QString& text)
    {
        ASSERT_TRUE(peers[from].user->SendMessage("cordelia", text, 0, windowPort));
    }

    QString chatOf(const QString& handle) const
    {
        cBuddyInfo* record = window->buddyInfo(handle);
        return record ? record->Chat() : QStringLiteral("<no record>");
    }

    // Each line of the chat box with its colour, "R " or "B " before the text.
    QStringList colouredLines() const
    {
        QStringList lines;
        for (QTextBlock block = txtChat->document()->begin(); block.isValid(); block = block.next()) {
            // The colour of the line's last character (the cursor's format is that of the
            // character before it), so the whole line is coloured, not only its start.
            QTextCursor end(block);
            end.movePosition(QTextCursor::EndOfBlock);
            const QColor colour = end.charFormat().foreground().color();
            lines << (colour == QColor(255, 0, 0) ? "R " : colour == QColor(0, 0, 255) ? "B " : "? ") + block.text();
        }
        return lines;
    }

    QStringList spoken() const
    {
        QStringList texts;
        for (const auto& said : speech->said)
            texts << said.text;
        return texts;
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::unique_ptr<RecordingSpeech> speech;
    std::unique_ptr<frmMain> window;
    std::map<QString, Peer> peers;
    std::map<QString, QString> addresses;
    int16_t windowPort = 0;
    QTabBar* tabs = nullptr;
    QLineEdit* txtMessage = nullptr;
    QTextBrowser* txtChat = nullptr;
};

TEST_F(ChatTest, MessagesTravelAndTheTranscriptColoursEachLine)
{
    Peer& amy = signIn("amelia", "127.0.0.1");
    Peer& bob = signIn("bertram", "127.0.0.2");
    load();
    poll({"amelia", "bertram"});
    ASSERT_EQ(window->SelBuddy()->handle(), "amelia");

    // A message of blanks goes nowhere and stays in the box.
    type(txtMessage, "   ");
    pressEnter(txtMessage);
    EXPECT_EQ(txtMessage->text(), "   ");
    EXPECT_EQ(dialogs.beeps, 0);

    txtMessage->clear();
    type(txtMessage, "Hi amelia, dinner at 8?");
    pressEnter(txtMessage);
    auto got = amy.receive();
    ASSERT_TRUE(got) << "the blank message came first, or nothing came";
    EXPECT_EQ(got->message, "Hi amelia, dinner at 8?");
    EXPECT_EQ(got->fromHandle, "cordelia");
    EXPECT_EQ(got->videoPort, window->dataPort());
    EXPECT_TRUE(txtMessage->text().isEmpty());
    EXPECT_EQ(dialogs.beeps, 1);

    say("amelia", "Sure! <b>7:30</b> & bring cake");
    ASSERT_TRUE(waitUntil([&] { return txtChat->document()->blockCount() == 2; }));
    type(txtMessage, "OK");
    window->findChild<QPushButton*>("cmdSend")->click();
    ASSERT_TRUE(amy.receive());
    EXPECT_EQ(chatOf("amelia"),
        "cordelia: Hi amelia, dinner at 8?\r\namelia: Sure! <b>7:30</b> & bring cake\r\ncordelia: OK");
    EXPECT_EQ(colouredLines(),
        (QStringList{
            "R cordelia: Hi amelia, dinner at 8?", "B amelia: Sure! <b>7:30</b> & bring cake", "R cordelia: OK"}));

    // Only the buddy's words are spoken, over the buddy's avatar, and nothing while muted.
    ASSERT_EQ(spoken(), QStringList{"Sure! <b>7:30</b> & bring cake"});
    EXPECT_EQ(speech->said[0].mouth, window->mouth());
    EXPECT_TRUE(window->mouth()->isVisible());
    window->findChild<QAction*>("toolMute")->trigger();
    say("amelia", "hello?");
    ASSERT_TRUE(waitUntil([&] { return chatOf("amelia").endsWith("amelia: hello?"); }));
    EXPECT_EQ(spoken().size(), 1);

    // A shout goes to every tab and into every transcript.
    type(txtMessage, "Party at mine!");
    window->findChild<QPushButton*>("cmdShout")->click();
    for (Peer* peer : {&amy, &bob}) {
        got = peer->receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->message, "Party at mine!");
    }
    EXPECT_EQ(chatOf("bertram"), "cordelia: Party at mine!");
    EXPECT_TRUE(chatOf("amelia").endsWith("amelia: hello?\r\ncordelia: Party at mine!"));
    EXPECT_EQ(colouredLines().last(), "R cordelia: Party at mine!");
    EXPECT_TRUE(txtMessage->text().isEmpty());
}

TEST_F(ChatTest, StrangersAreAskedFirstAndABuddyWithoutATabGetsOne)
{
    signIn("amelia", "127.0.0.1");
    signIn("bertram", "127.0.0.2");
    signIn("eleanor", "127.0.0.3");
    signIn("florence", "127.0.0.4");
    load();
    poll({"amelia", "bertram"});
    // Signed out and back before the next poll: bertram has no tab when his line arrives.
    peers["bertram"].user->Logout(); // answers false whatever the service did
    poll({"amelia"});
    ASSERT_TRUE(peers["bertram"].user->Login("bertram", ClientProfile::password("bertram"), "127.0.0.2"));

    QStringList asked;
    int answer = UserDialogs::AnswerNo;
    PopupAnswerer answerer([&](frmPopup* popup) {
        asked << popup->windowTitle() + " | " + popup->prompt() + " | " + QString::number(popup->helpContext());
        PopupAnswerer::click(popup, answer == UserDialogs::AnswerYes ? "cmdOK" : "cmdNo");
    });

    // The user's own message come back to this client (two clients of one machine share the data
    // port) is no stranger's: whatever its letter case, it is dropped without a question.
    QUdpSocket loopback;
    ASSERT_GT(loopback.writeDatagram(PeerDatagram::message("Cordelia", "cordelia@example.org", 0, "my own words"),
                  QHostAddress::LocalHost, quint16(windowPort)),
        0);
    say("eleanor", "hi there");
    ASSERT_TRUE(waitUntil([&] { return !asked.isEmpty(); }));
    EXPECT_EQ(asked,
        QStringList{"Confabo - Invitation | You have received a chat invitation from 'eleanor' at the email "
                    "address 'eleanor@example.org'. Would you like to chat with this user? | 0"});
    EXPECT_EQ(spoken(), QStringList{"You have received a chat invitation from 'eleanor'"});
    // Answered No: no tab, no transcript, and bertram's message after it is shown as usual.
    say("bertram", "I'm back");
    ASSERT_TRUE(waitUntil([&] { return tabHandles().contains("bertram"); }));
    EXPECT_EQ(tabHandles(), (QStringList{"amelia", "bertram"}));
    EXPECT_EQ(window->buddyInfo("eleanor"), nullptr);
    EXPECT_EQ(window->SelBuddy()->handle(), "bertram");
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(chatOf("bertram"), "bertram: I'm back");
    EXPECT_EQ(txtChat->toPlainText(), "bertram: I'm back");

    // Answered "No", eleanor is not asked again; another stranger answered "Yes" gets a tab.
    answer = UserDialogs::AnswerYes;
    say("eleanor", "please?");
    say("florence", "hello?");
    ASSERT_TRUE(waitUntil([&] { return tabHandles().contains("florence"); }));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked.last().contains("'florence'"));
    EXPECT_EQ(window->buddyInfo("eleanor"), nullptr);
    EXPECT_EQ(window->SelBuddy()->handle(), "florence");
    EXPECT_EQ(chatOf("florence"), "florence: hello?");
    EXPECT_TRUE(window->findChild<QAction*>("toolAdd")->isVisible()) << "a stranger can be added";
    // Now on a tab, florence is no stranger.
    say("florence", "thanks");
    ASSERT_TRUE(waitUntil([&] { return chatOf("florence").endsWith("thanks"); }));
    EXPECT_EQ(asked.size(), 2);
    // Only what the user saw is kept: the stranger answered No left nothing in the history.
    const HistoryStore kept(HistoryStore::defaultPath());
    EXPECT_TRUE(kept.last("eleanor", 10).isEmpty());
    EXPECT_EQ(kept.last("florence", 10).size(), 2);
}

// A line that arrives takes no keyboard: not from another window the user types in, and not from
// the line the user is typing to another buddy in this one. The sender's tab is marked instead,
// and a window put away in the tray comes forward when its notification is clicked.
TEST_F(ChatTest, ALineArrivingLeavesTheKeyboardWhereTheUserTypes)
{
    Peer& amy = signIn("amelia", "127.0.0.1");
    signIn("bertram", "127.0.0.2");
    load();
    poll({"amelia", "bertram"});
    window->setSystemTrayAvailable(true);

    QLineEdit elsewhere;
    elsewhere.setWindowTitle("another window");
    elsewhere.show();
    elsewhere.activateWindow();
    elsewhere.setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &elsewhere; }));
    type(&elsewhere, "first half ");
    say("amelia", "are you there?");
    ASSERT_TRUE(waitUntil([&] { return chatOf("amelia").endsWith("amelia: are you there?"); }));
    type(&elsewhere, "second half");
    EXPECT_EQ(QApplication::activeWindow(), &elsewhere);
    EXPECT_EQ(QApplication::focusWidget(), &elsewhere);
    EXPECT_EQ(elsewhere.text(), "first half second half");
    EXPECT_TRUE(txtMessage->text().isEmpty());

    // In the window: a line from bertram while a line to amelia is being typed.
    window->activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
    txtMessage->setFocus();
    type(txtMessage, "see you at 8");
    say("bertram", "quick question");
    ASSERT_TRUE(waitUntil([&] { return chatOf("bertram") == "bertram: quick question"; }));
    EXPECT_EQ(window->SelBuddy()->handle(), "amelia");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(tabs->tabTextColor(1), QColor(0x00, 0x40, 0xc0)) << "bertram's tab is marked";
    pressEnter(txtMessage);
    auto got = amy.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->message, "see you at 8") << "the line went to the buddy it was typed to";
    tabs->setCurrentIndex(1);
    EXPECT_EQ(tabs->tabTextColor(1), QColor()) << "seen";
    EXPECT_EQ(txtChat->toPlainText(), "bertram: quick question");

    // Put away in the tray, the window stays there when a line arrives; the notification brings
    // it forward.
    window->close();
    ASSERT_FALSE(window->isVisible());
    elsewhere.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &elsewhere; }));
    say("amelia", "hello again");
    ASSERT_TRUE(waitUntil([&] { return chatOf("amelia").endsWith("amelia: hello again"); }));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), &elsewhere);
    ASSERT_TRUE(window->trayIcon());
    emit window->trayIcon()->messageClicked();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
}

// A flood of strangers never stacks question windows: one is open at a time, the others wait in a
// short queue (one entry per handle, the newest message kept), the rest are dropped.
TEST_F(ChatTest, AStrangerFloodAsksOneQuestionAtATimeFromAShortQueue)
{
    signIn("amelia", "127.0.0.1"); // a buddy online: no offer to invite someone at start
    load();
    poll({"amelia"});
    int asked = 0, mostOpen = 0;
    QStringList askedAbout;
    QElapsedTimer firstOpen;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        QList<frmPopup*> open;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* popup = qobject_cast<frmPopup*>(w); popup && popup->isVisible() && popup->MsgBoxResult() == 0)
                open << popup;
        mostOpen = std::max(mostOpen, int(open.size()));
        if (open.isEmpty())
            return;
        if (!firstOpen.isValid())
            firstOpen.start();
        if (firstOpen.elapsed() < 500)
            return; // the whole flood arrives while the first question waits
        for (frmPopup* popup : open) {
            ++asked;
            askedAbout << popup->prompt().section('\'', 1, 1);
            popup->findChild<QPushButton*>("cmdNo")->click();
        }
    });
    answerer.start(5);
    QUdpSocket flood;
    const auto stranger = [&](int n, const QString& text) {
        const QString handle = QStringLiteral("stranger%1").arg(n, 3, 10, QLatin1Char('0'));
        flood.writeDatagram(PeerDatagram::message(handle, handle + "@example.org", 0, text), QHostAddress::LocalHost,
            quint16(windowPort));
    };
    for (int n = 0; n < 60; ++n)
        stranger(n, "buy now");
    stranger(5, "the newest from five");
    EXPECT_TRUE(waitUntil([&] { return asked == 1 + StrangerQueue::Capacity; }, 15000)) << asked;
    runFor(300);
    EXPECT_EQ(asked, 1 + StrangerQueue::Capacity) << "the rest were dropped";
    EXPECT_EQ(mostOpen, 1);
    EXPECT_EQ(askedAbout.count("stranger005"), 1) << "one entry per handle";
    stranger(0, "again");
    runFor(300);
    EXPECT_EQ(asked, 1 + StrangerQueue::Capacity) << "a stranger answered No is not asked again";
    EXPECT_EQ(tabHandles(), QStringList{"amelia"}) << "no stranger got a tab";
}

// A buddy flooding the chat with the longest lines a datagram carries does not freeze the window:
// every line reaches the transcript, the chat boxes (the tab's and the detached window's) show
// only the newest of them, and the event loop never stalls long enough for typing to lag.
TEST_F(ChatTest, AFloodOfLongLinesKeepsTheWindowResponsiveAndTheChatBoxesBounded)
{
    signIn("amelia", "127.0.0.1");
    load();
    poll({"amelia"});
    window->findChild<QPushButton*>("cmdNewWindow")->click();
    frmBuddy* form = window->buddyInfo("amelia")->BuddyForm();
    ASSERT_TRUE(form && form->isVisible());
    auto* formChat = form->findChild<QTextEdit*>("txtChat");

    QString words;
    while (words.size() < 64000)
        words += QStringLiteral("lorem ipsum dolor sit amet ");
    words.chop(1); // what arrives is trimmed
    const int lines = 40;
    QUdpSocket flood;
    int sent = 0;
    QTimer sender;
    QObject::connect(&sender, &QTimer::timeout, [&] {
        if (sent < lines)
            flood.writeDatagram(
                PeerDatagram::message("amelia", "amelia@example.org", 0, QStringLiteral("%1 ").arg(++sent) + words),
                QHostAddress::LocalHost, quint16(windowPort));
    });
    Heartbeat heartbeat;
    heartbeat.start();
    sender.start(100);
    const auto received = [&] { return window->buddyInfo("amelia")->transcript().lines().size(); };
    EXPECT_TRUE(waitUntil([&] { return received() == lines; }, 20000)) << received() << " of " << lines;
    // The window's own work between two events stays short. On a machine busy with other tests
    // the wall-clock gap also holds the time the thread waited for a core, so that one is held
    // only to what a blocking call would show.
    EXPECT_LT(heartbeat.longestBusyMs(), 200) << "ms the window worked without looking at its events";
    EXPECT_LT(heartbeat.longestGapMs(), 1000) << "ms the event loop stood still";
    EXPECT_TRUE(chatOf("amelia").endsWith(QStringLiteral("amelia: %1 ").arg(lines) + words));

    for (QTextDocument* shown : {txtChat->document(), formChat->document()}) {
        EXPECT_LE(shown->characterCount(), TranscriptView::MaxCharacters);
        EXPECT_TRUE(shown->lastBlock().text().startsWith(QStringLiteral("amelia: %1 ").arg(lines)));
        EXPECT_FALSE(shown->toPlainText().contains(QStringLiteral("amelia: 1 lorem"))) << "the oldest left";
    }
    // The box scrolled all the way: the line times and delivery marks are still drawn over it.
    for (QTextEdit* box : {static_cast<QTextEdit*>(txtChat), formChat}) {
        ASSERT_GT(box->verticalScrollBar()->value(), 0);
        for (const QWidget* overlay : box->viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_EQ(overlay->geometry(), box->viewport()->rect());
    }

    // A line typed after the flood shows at the end of both boxes, in the user's colour.
    type(txtMessage, "still here");
    pressEnter(txtMessage);
    EXPECT_EQ(colouredLines().last(), "R cordelia: still here");
    EXPECT_TRUE(formChat->toPlainText().endsWith("\ncordelia: still here"));
}

TEST_F(ChatTest, PicturesArriveAsFramesThatFitOneDatagram)
{
    Peer& amy = signIn("amelia", "127.0.0.1");
    load();
    poll({"amelia"});

    QImage small(64, 48, QImage::Format_RGB32);
    small.fill(0xff2080c0);
    const QString smallFile = files.filePath("small.bmp"), bigFile = files.filePath("big.bmp"),
                  brokenFile = files.filePath("broken.jpg");
    ASSERT_TRUE(small.save(smallFile));
    ASSERT_TRUE(noise({800, 600}).save(bigFile));
    QFile broken(brokenFile);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\xff\xd8 not really a picture");
    broken.close();

    // A file that is no picture is reported once and nothing goes out.
    dialogs.filesToOpen = {brokenFile, smallFile, bigFile};
    auto* cmdPic = window->findChild<QPushButton*>("cmdPic");
    cmdPic->click();
    ASSERT_TRUE(waitUntil([&] { return dialogs.boxes.size() == 1; }));
    EXPECT_TRUE(dialogs.boxes[0].text.contains("broken.jpg")) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.fileFilters, QStringList{"Pictures (*.png *.jpg *.jpeg *.bmp *.gif)"});

    cmdPic->click();
    auto got = amy.receive();
    ASSERT_TRUE(got && got->videoData);
    QImage arrived = PictureFromBytes(*got->videoData);
    EXPECT_EQ(arrived.size(), QSize(64, 48));
    EXPECT_NEAR(qBlue(arrived.pixel(32, 24)), 0xc0, 8);
    EXPECT_FALSE(window->findChild<QLabel*>("imgPic")->pixmap().isNull());

    // Noise does not fit at any quality at its own size: it is made smaller until it does.
    Settings::ImageQuality.write(QStringLiteral("90"));
    cmdPic->click();
    got = amy.receive();
    ASSERT_TRUE(got && got->videoData);
    EXPECT_LE(PeerDatagram::frameChunkSize(PeerDatagram::escapedText("cordelia"), got->videoData->size()),
        PeerDatagram::MaxDatagramSize);
    arrived = PictureFromBytes(*got->videoData);
    ASSERT_FALSE(arrived.isNull());
    EXPECT_LT(arrived.width(), 800);
    EXPECT_NEAR(double(arrived.width()) / arrived.height(), 4.0 / 3.0, 0.03) << arrived.width() << " wide";
    EXPECT_EQ(dialogs.boxes.size(), 1);
}

TEST_F(ChatTest, TheDetachedWindowSendsAndShowsFrames)
{
    Peer& amy = signIn("amelia", "127.0.0.1");
    load();
    poll({"amelia"});
    window->findChild<QPushButton*>("cmdNewWindow")->click();
    frmBuddy* form = window->buddyInfo("amelia")->BuddyForm();
    ASSERT_TRUE(form);
    ASSERT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "amelia");
    EXPECT_EQ(form->findChild<QLineEdit*>("txtMessage")->toolTip(), "Type your reply here");
    EXPECT_EQ(form->findChild<QPushButton*>("cmdSend")->toolTip(), "Send the message to this buddy");
    EXPECT_EQ(form->findChild<QPushButton*>("cmdPic")->toolTip(), "Send an image or photo");
    EXPECT_FALSE(form->VideoCtl()->pixmap().isNull()) << "the avatar shows";

    auto* reply = form->findChild<QLineEdit*>("txtMessage");
    type(reply, "from the small window");
    pressEnter(reply);
    auto got = amy.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->message, "from the small window");
    auto* chat = form->findChild<QTextEdit*>("txtChat");
    EXPECT_EQ(chat->toPlainText(), "\ncordelia: from the small window");
    // One transcript per buddy: the line typed here shows in the main window's tab too.
    EXPECT_EQ(chatOf("amelia"), "cordelia: from the small window");
    EXPECT_EQ(txtChat->toPlainText(), "cordelia: from the small window");

    // Frames from amelia show in both pictures, without the avatar's mouth; her words show here too.
    ASSERT_TRUE(window->mouth()->isVisible());
    QImage frame(160, 120, QImage::Format_RGB32);
    frame.fill(0xff10e010);
    Buddy carol;
    ASSERT_TRUE(carol.LoadByHandle("cordelia"));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(frame.save(&buffer, "JPG"));
    ASSERT_TRUE(carol.SendFrame(jpeg, "amelia", windowPort));
    ASSERT_TRUE(waitUntil([&] { return form->VideoCtl()->pixmap().toImage().pixelColor(80, 60).green() > 200; }));
    const QImage shown = window->findChild<QLabel*>("imgBuddy")->pixmap().toImage();
    EXPECT_GT(shown.pixelColor(shown.width() / 2, shown.height() / 2).green(), 200);
    EXPECT_FALSE(window->mouth()->isVisible());
    say("amelia", "got your picture");
    ASSERT_TRUE(waitUntil([&] { return chat->toPlainText().endsWith("amelia: got your picture"); }));
    EXPECT_EQ(chatOf("amelia"), "cordelia: from the small window\r\namelia: got your picture");

    // A picture from this window goes to amelia as a frame.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(0xffe01010);
    const QString file = files.filePath("p.bmp");
    ASSERT_TRUE(picture.save(file));
    dialogs.filesToOpen = {file};
    form->findChild<QPushButton*>("cmdPic")->click();
    got = amy.receive();
    ASSERT_TRUE(got && got->videoData);
    EXPECT_EQ(PictureFromBytes(*got->videoData).size(), QSize(40, 30));

    // The picture stays in the conversation, in both windows, after amelia's line.
    ASSERT_TRUE(waitUntil([&] { return window->buddyInfo("amelia")->transcript().lines().last().isPicture(); }));
    EXPECT_EQ(window->buddyInfo("amelia")->transcript().lines().last().handle, "cordelia");
    EXPECT_EQ(chatOf("amelia"), "cordelia: from the small window\r\namelia: got your picture")
        << "a picture has no text of its own";

    // Selected text is spoken through this window's mouth.
    QTextCursor selection = chat->document()->find("amelia: got your picture");
    ASSERT_FALSE(selection.isNull());
    selection.movePosition(QTextCursor::StartOfBlock);
    selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    chat->setTextCursor(selection);
    form->findChild<QAction*>("mnuSayIt")->trigger();
    ASSERT_FALSE(speech->said.isEmpty());
    EXPECT_EQ(speech->said.last().text, "amelia: got your picture");
    EXPECT_EQ(speech->said.last().mouth, form->mouth());

    // Closed, it talks to nobody until it is opened again.
    form->close();
    EXPECT_EQ(form->Buddy(), nullptr);
}

TEST_F(ChatTest, EachBuddySpeaksWithTheVoiceChosenForThem)
{
    Settings::Speaker.write("amelia", "3");
    Settings::Speaker.write("bertram", "31"); // beyond the menu, but the engine has it
    signIn("amelia", "127.0.0.1");
    signIn("bertram", "127.0.0.2");
    load(35);
    poll({"amelia", "bertram"});

    // The menu offers the first 30 voices and marks the current one.
    int offered = 0;
    for (int i = 1; i <= frmMain::VoiceItems; ++i) {
        QAction* item = window->mnuVoice(i);
        offered += item->isVisible();
        EXPECT_EQ(item->text(), QStringLiteral("Voice %1").arg(i));
    }
    EXPECT_EQ(offered, 30);
    // Under a title, by language in submenus small enough for any screen: a language with many
    // voices in parts, voices of no known language last.
    auto* voiceMenu = window->findChild<QMenu*>("mnuSelectVoice");
    ASSERT_FALSE(voiceMenu->actions().isEmpty());
    EXPECT_EQ(voiceMenu->actions().first()->text(), "Voice for amelia");
    QStringList groups;
    int grouped = 0;
    for (QAction* entry : voiceMenu->actions())
        if (QMenu* group = entry->menu()) {
            groups << group->title();
            grouped += group->actions().size();
            EXPECT_LE(group->actions().size(), VoiceMenu::ItemsPerGroup);
        }
    EXPECT_EQ(groups, (QStringList{"English (1)", "English (2)", "Other voices"}));
    EXPECT_EQ(grouped, 30);
    EXPECT_TRUE(window->mnuVoice(3)->isChecked()) << "amelia's tab is selected";

    // Back to back, all waiting before the first is shown: spoken and written in arrival order.
    QUdpSocket sender;
    for (const auto& [from, text] : {std::pair{"amelia", "one"}, {"bertram", "two"}, {"amelia", "three"}})
        ASSERT_GT(sender.writeDatagram(PeerDatagram::message(from, QString(from) + "@example.org", 0, text),
                      QHostAddress::LocalHost, quint16(windowPort)),
            0);
    ASSERT_TRUE(waitUntil([&] { return speech->said.size() == 3; }));
    EXPECT_EQ(chatOf("amelia"), "amelia: one\r\namelia: three");
    QStringList voices;
    for (const auto& said : speech->said)
        voices << QStringLiteral("%1=%2").arg(said.text).arg(said.voice);
    EXPECT_EQ(voices, (QStringList{"one=3", "two=31", "three=3"}));
    EXPECT_TRUE(speech->switchedWithFlag);

    // Choosing a voice keeps it for the selected buddy.
    window->mnuVoice(5)->trigger();
    EXPECT_EQ(Settings::Speaker.read("amelia"), "5");
    EXPECT_EQ(speech->currentVoice(), 5);
    for (int i = 1; i <= frmMain::VoiceItems; ++i)
        EXPECT_EQ(window->mnuVoice(i)->isChecked(), i == 5) << i;
    window->findChild<QAction*>("mnuEditVoices")->trigger();
    ASSERT_EQ(speech->dialogs.size(), 1);
    EXPECT_EQ(speech->dialogs[0].first, window.get());
    EXPECT_EQ(speech->dialogs[0].second, "Confabo Voices");

    // The mouth sits on the avatar's mouth (30 x 80 pixels into a 90 x 120 avatar, shown scaled),
    // and goes while video is on for the buddy.
    MouthWidget* mouth = window->mouth();
    auto* imgBuddy = window->findChild<QLabel*>("imgBuddy");
    ASSERT_TRUE(mouth->isVisible());
    const QSize shown = imgBuddy->pixmap().deviceIndependentSize().toSize();
    const QPoint avatarAt((imgBuddy->width() - shown.width()) / 2, (imgBuddy->height() - shown.height()) / 2);
    const double scale = shown.height() / 120.0;
    EXPECT_NEAR(mouth->x(), avatarAt.x() + 30 * scale, 2);
    EXPECT_NEAR(mouth->y(), avatarAt.y() + 80 * scale, 2);
    window->buddyInfo("amelia")->setVideo(true);
    window->ShowBuddy("amelia", "amelia", "video now", 0, false);
    EXPECT_FALSE(mouth->isVisible());
}

} // namespace

// The conversation stays across a restart: the buddy's tab, and the detached window, begin with
// the kept lines, their delivery marks and their times, each day under its own band; "Clear
// History..." deletes them from the disk once the user said Yes.
TEST_F(ChatTest, ATabBeginsWithTheKeptConversationAndClearHistoryDeletesIt)
{
    const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
    {
        HistoryStore earlier(HistoryStore::defaultPath());
        ASSERT_TRUE(earlier.isOpen()) << earlier.problem().toStdString();
        HistoryLine line;
        line.buddy = "amelia";
        line.sender = "cordelia";
        line.outgoing = true;
        line.text = "are you coming tomorrow?";
        line.timeMs = yesterday.toMSecsSinceEpoch();
        line.secure = true;
        line.delivery = HistoryDelivery::Delivered;
        ASSERT_GT(earlier.append(line), 0);
    }
    Peer& amy = signIn("amelia", "127.0.0.1");
    load();
    poll({"amelia"});
    EXPECT_EQ(chatOf("amelia"), "cordelia: are you coming tomorrow?");
    type(txtMessage, "see you at 8");
    pressEnter(txtMessage);
    ASSERT_TRUE(amy.receive());
    say("amelia", "yes, at 8!");
    ASSERT_TRUE(waitUntil([&] { return chatOf("amelia").endsWith("amelia: yes, at 8!"); }));

    window.reset();
    amy.socket.close();
    load();
    poll({"amelia"});
    const QString kept = "cordelia: are you coming tomorrow?\r\ncordelia: see you at 8\r\namelia: yes, at 8!";
    EXPECT_EQ(chatOf("amelia"), kept);
    EXPECT_EQ(txtChat->toPlainText(), QString(kept).replace("\r\n", "\n")) << "the box reads as the transcript";
    const QList<ChatTranscript::Line>& lines = window->buddyInfo("amelia")->transcript().lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].when.toMSecsSinceEpoch(), yesterday.toMSecsSinceEpoch());
    EXPECT_EQ(lines[0].delivery, ChatTranscript::Delivery::Delivered);
    EXPECT_LE(std::abs(lines[2].when.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(lines[1].delivery, ChatTranscript::Delivery::Unmarked) << "amelia's client has no key";
    // Yesterday's line and today's first each sit under their day's band; every line has room for its time.
    QTextBlock block = txtChat->document()->firstBlock();
    QList<int> bands;
    for (; block.isValid(); block = block.next()) {
        bands << int(block.blockFormat().topMargin());
        EXPECT_EQ(int(block.blockFormat().leftMargin()), LineTimes::timeColumn(txtChat->font()));
    }
    const int band = LineTimes::dayBand(txtChat->font());
    EXPECT_EQ(bands, (QList<int>{band, band, 0}));
    EXPECT_EQ(LineTimes::dayName(lines[0].when.date()), "Yesterday");
    window->findChild<QPushButton*>("cmdNewWindow")->click();
    auto* detached = window->buddyInfo("amelia")->BuddyForm()->findChild<QTextEdit*>("txtChat");
    EXPECT_EQ(detached->toPlainText(), "\n" + QString(kept).replace("\r\n", "\n"));

    // Search History finds the line in every conversation, with its day and time.
    window->findChild<QAction*>("mnuSearchHistory")->trigger();
    auto* search = window->findChild<QDialog*>("dlgSearchHistory");
    ASSERT_TRUE(search && search->isVisible());
    auto* words = search->findChild<QLineEdit*>("txtSearch");
    words->setText("COMING tomor");
    emit words->returnPressed();
    auto* results = search->findChild<QListWidget*>("lstResults");
    ASSERT_EQ(results->count(), 1);
    EXPECT_EQ(results->item(0)->text(),
        "Yesterday " + LineTimes::timeText(lines[0].when) + "  cordelia: are you coming tomorrow? (to amelia)");
    search->close();

    // No keeps it; Yes deletes it from the file, and the tab is empty.
    auto* clearHistory = window->findChild<QAction*>("mnuClearHistory");
    ASSERT_TRUE(clearHistory->isEnabled());
    dialogs.answers = {UserDialogs::AnswerNo};
    clearHistory->trigger();
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].title, "Confabo - Clear History");
    EXPECT_TRUE(dialogs.boxes[0].text.contains("amelia"));
    EXPECT_EQ(chatOf("amelia"), kept);
    dialogs.answers = {UserDialogs::AnswerYes};
    clearHistory->trigger();
    EXPECT_EQ(chatOf("amelia"), "");
    EXPECT_TRUE(txtChat->toPlainText().isEmpty());
    EXPECT_TRUE(detached->toPlainText().isEmpty());
    EXPECT_TRUE(HistoryStore(HistoryStore::defaultPath()).last("amelia", 10).isEmpty());

    window.reset();
    amy.socket.close();
    load();
    poll({"amelia"});
    EXPECT_EQ(chatOf("amelia"), "");
}
