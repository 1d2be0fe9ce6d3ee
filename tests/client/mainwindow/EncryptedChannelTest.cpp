// The main window signed in to the real service with two headless clients as buddies: amelia
// with a security key of her own, bertram on a profile whose key file others may read, so that
// he signs in without one. The window marks amelia encrypted and bertram not, shows amelia's safety
// number as her client prints it, and asks before it takes a new key for her once she was
// verified. A window whose own key file is open to others says so once and marks every buddy.
#include "../../tools/CliClient.h"
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "buddies/VerifyDialog.h"
#include "buddies/frmBuddyList.h"
#include "channel/Identity.h"
#include "channel/SecureChannel.h"
#include "chat/ChatTranscript.h"
#include "chat/DeliveryMarks.h"
#include "chat/cBuddyInfo.h"
#include "chat/frmBuddy.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace cfb;
using namespace cfb::client;

namespace {

constexpr QRgb AmeliaColour = 0xffd03020;
constexpr QRgb BertramColour = 0xff20a040;

// Runs act on the Verify dialog from inside its modal loop, once open() has opened it, and then
// closes it. False when no dialog came.
bool inVerifyDialog(const std::function<void()>& open, const std::function<void(VerifyDialog&)>& act)
{
    bool seen = false;
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<VerifyDialog*>(window); dialog && dialog->isVisible() && !seen) {
                seen = true;
                act(*dialog);
                dialog->findChild<QPushButton*>("cmdClose")->click();
            }
    });
    look.start();
    open();
    return seen;
}

// The first line of that event the buddy's session wrote, waiting in the window's event loop,
// which the encrypted channel's handshake needs; empty after 10 s.
QJsonObject heardBy(CliClient& client, const QString& event)
{
    QJsonObject found;
    waitUntil(
        [&] {
            for (const QJsonObject& line : client.drain(0))
                if (line.value("event") == event) {
                    found = line;
                    return true;
                }
            return false;
        },
        10000);
    return found;
}

// How many pixels of the widget as drawn have the colour of a delivery mark: green for a check
// mark, red for "not delivered" (the user's own red lines are pure red).
int markPixels(QWidget& widget, bool delivered)
{
    const QImage shown = widget.grab().toImage();
    int count = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor c = shown.pixelColor(x, y);
            count += delivered ? c.green() > 110 && c.red() < 90 && c.blue() < 110
                               : c.red() > 140 && c.red() < 220 && c.green() < 70 && c.blue() < 70;
        }
    return count;
}

QString labelText(VerifyDialog& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(name);
    return label && !label->isHidden() ? label->text() : QString();
}

class EncryptedChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
        ClientProfile::write(service, QStringLiteral("cordelia"));
        Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
        port = freeDataPort().toInt();
        amelia = cli("amelia", "127.0.0.2");
        bertram = cli("bertram", "127.0.0.3");
        registerBuddy(*amelia, "amelia", AmeliaColour);
        registerBuddy(*bertram, "bertram", BertramColour);
        // His key file is readable by its group: his client refuses it and signs in without a key.
        ASSERT_TRUE(QFile::setPermissions(keyFile("bertram"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

        auto cordelia = ClientProfile::registerUser(files.path(), QStringLiteral("cordelia"), 0xff808080);
        ASSERT_TRUE(cordelia && cordelia->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
        ASSERT_EQ(cordelia->AddBuddy("amelia"), "amelia");
        ASSERT_EQ(cordelia->AddBuddy("bertram"), "bertram");
        cordelia->Logout();
        Settings::BlockAllData.erase();
        Settings::DataPort.write(QString::number(port));
        dialogs.boxes.clear();
    }

    void TearDown() override { window.reset(); }

    std::unique_ptr<CliClient> cli(const char* handle, const char* address)
    {
        return std::make_unique<CliClient>(
            QLatin1String(handle), files.filePath(handle), service.serverSetting(), port, QLatin1String(address));
    }

    QString keyFile(const char* handle) { return files.filePath(QLatin1String(handle) + "/Confabo/identity.key"); }

    void registerBuddy(CliClient& client, const char* handle, QRgb colour)
    {
        QImage avatar(45, 60, QImage::Format_RGB32);
        avatar.fill(colour);
        const QString picture = files.filePath(QLatin1String(handle) + ".png");
        ASSERT_TRUE(avatar.save(picture));
        QByteArray err;
        ASSERT_EQ(client.run({"register", "--handle", handle, "--password", QStringLiteral("pw-") + handle, "--email",
                                 QLatin1String(handle) + "@example.org", "--avatar", picture},
                      nullptr, &err),
            0)
            << err.toStdString();
    }

    // The safety number the buddy's own client prints for cordelia, after a fresh lookup of her.
    static QString safetyAt(CliClient& client)
    {
        client.say("buddies");
        client.waitFor("buddies");
        client.say("safety cordelia");
        return client.waitFor("safety").value("number").toString();
    }

    int tab(const QString& handle) const
    {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == handle)
                return i;
        return -1;
    }

    // Polls until the predicate holds (bounded).
    bool pollUntil(const std::function<bool()>& done)
    {
        return waitUntil([&] {
            window->tmr_Timer();
            return done();
        });
    }

    // The colour at the middle of the icon's lower right corner, where the mark goes.
    QRgb iconCorner(int index) const
    {
        const QImage icon = tabs->tabIcon(index).pixmap(QSize(45, 60)).toImage();
        return icon.pixel(icon.width() - 9, icon.height() - 9);
    }

    QLabel* buddyWindowMark(const char* handle) const
    {
        const cBuddyInfo* record = window->buddyInfo(QLatin1String(handle));
        return record && record->BuddyForm() ? record->BuddyForm()->findChild<QLabel*>("lblSecurity") : nullptr;
    }

    void selectTab(const char* handle)
    {
        tabs->setCurrentIndex(tab(QLatin1String(handle)));
        ASSERT_EQ(window->SelBuddy()->handle(), handle);
    }

    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    int port = 0;
    std::unique_ptr<CliClient> amelia;
    std::unique_ptr<CliClient> bertram;
    std::unique_ptr<frmMain> window;
    QTabBar* tabs = nullptr;
};

TEST_F(EncryptedChannelTest, EachBuddyIsMarkedAsTheyAreReachedAndAVerifiedKeyThatChangesIsAskedAbout)
{
    ASSERT_TRUE(amelia->startSession());
    ASSERT_TRUE(bertram->startSession());
    ASSERT_TRUE(std::any_of(bertram->seen().begin(), bertram->seen().end(), [](const QJsonObject& line) {
        return line.value("command") == "identity";
    })) << "his client says it has no key";
    amelia->say("add cordelia");
    bertram->say("add cordelia");
    ASSERT_TRUE(amelia->waitFor("add").value("ok").toBool());
    ASSERT_TRUE(bertram->waitFor("add").value("ok").toBool());

    window = std::make_unique<frmMain>();
    EXPECT_TRUE(loadMainWindow(*window));
    tabs = window->findChild<QTabBar*>("tabBuddies");
    ASSERT_TRUE(pollUntil([&] { return tabs->count() == 2; }));
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << "the window's own key is fine: no warning";

    // amelia: the encrypted mark, the caption as ever.
    const QString encrypted = "Messages to amelia are encrypted end to end. Compare the safety number (Verify...) "
                              "to be sure nobody stands between you.";
    const int ameliaTab = tab("amelia");
    EXPECT_EQ(tabs->tabText(ameliaTab).toStdString(), "amelia");
    EXPECT_EQ(tabs->tabToolTip(ameliaTab).toStdString(), ("amelia@example.org\n" + encrypted).toStdString());
    EXPECT_NE(iconCorner(ameliaTab), AmeliaColour) << "a closed padlock sits in the icon's corner";
    ASSERT_TRUE(buddyWindowMark("amelia"));
    EXPECT_FALSE(buddyWindowMark("amelia")->isHidden());
    EXPECT_EQ(buddyWindowMark("amelia")->text().toStdString(), "Encrypted");

    // bertram: the mark on his tab and in his own window.
    const QString plain = "Messages to bertram are not encrypted: their Confabo has no security key.";
    const int bertramTab = tab("bertram");
    EXPECT_EQ(tabs->tabText(bertramTab).toStdString(), "bertram");
    EXPECT_EQ(tabs->tabToolTip(bertramTab), "bertram@example.org\n" + plain)
        << tabs->tabToolTip(bertramTab).toStdString();
    EXPECT_NE(iconCorner(bertramTab), BertramColour) << "the padlock sits in the icon's corner";
    QLabel* mark = buddyWindowMark("bertram");
    ASSERT_TRUE(mark);
    EXPECT_FALSE(mark->isHidden());
    EXPECT_EQ(mark->text().toStdString(), "Not encrypted");
    EXPECT_EQ(mark->toolTip().toStdString(), plain.toStdString());

    // amelia's client looks cordelia up and prints their safety number.
    const QString number = safetyAt(*amelia);
    ASSERT_EQ(number.size(), 71) << "60 digits in 12 groups";

    // A line to each (amelia's client knows cordelia's key now): amelia's travels encrypted,
    // bertram's in the plain format.
    for (const char* to : {"amelia", "bertram"}) {
        selectTab(to);
        window->findChild<QLineEdit*>("txtMessage")->setText(QStringLiteral("hello ") + to);
        window->findChild<QPushButton*>("cmdSend")->click();
    }
    const QJsonObject toAmelia = heardBy(*amelia, "message");
    EXPECT_EQ(toAmelia.value("text").toString().toStdString(), "hello amelia");
    EXPECT_TRUE(toAmelia.value("secure").toBool());
    const QJsonObject toBertram = heardBy(*bertram, "message");
    EXPECT_EQ(toBertram.value("text").toString().toStdString(), "hello bertram");
    EXPECT_FALSE(toBertram.value("secure").toBool());

    // The Verify dialog shows amelia's number as her client prints it; she is marked verified.
    selectTab("amelia");
    ASSERT_TRUE(window->findChild<QAction*>("mnuVerify")->isEnabled());
    EXPECT_TRUE(inVerifyDialog([&] { window->findChild<QAction*>("mnuVerify")->trigger(); },
        [&](VerifyDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle().toStdString(), "Verify amelia");
            EXPECT_EQ(dialog.shownNumber().toStdString(), number.toStdString());
            EXPECT_EQ(labelText(dialog, "lblSafetyNumber").split('\n').size(), 3);
            EXPECT_EQ(labelText(dialog, "lblSafetyNumber").simplified().toStdString(), number.toStdString());
            EXPECT_EQ(labelText(dialog, "lblExplanation").toStdString(),
                "Compare these numbers with amelia, in person or on a call. If they match, nobody stands between "
                "you, the service included.");
            EXPECT_FALSE(dialog.findChild<QLabel*>("imgSafetyCode")->pixmap().isNull());
            auto* verified = dialog.findChild<QCheckBox*>("chkVerified");
            EXPECT_FALSE(verified->isChecked());
            verified->click();
        }));
    EXPECT_TRUE(window->library()->isVerified("amelia"));

    // bertram, from the buddy-list editor: nothing to verify.
    {
        frmBuddyList editor(window->session(), window.get());
        auto* list = editor.findChild<QListWidget*>("lstBuddies");
        list->setCurrentItem(list->findItems("bertram", Qt::MatchExactly).value(0));
        EXPECT_TRUE(inVerifyDialog([&] { editor.findChild<QPushButton*>("cmdVerify")->click(); },
            [&](VerifyDialog& dialog) {
                EXPECT_EQ(labelText(dialog, "lblExplanation").toStdString(),
                    "bertram has no security key: messages to them are not encrypted.");
                EXPECT_TRUE(dialog.shownNumber().isEmpty());
                EXPECT_TRUE(dialog.findChild<QCheckBox*>("chkVerified")->isHidden());
            }));
        editor.reject();
    }

    // amelia's client starts with a new key. She was verified: the window asks, and No keeps her
    // refused, marked as such.
    EXPECT_EQ(amelia->quit(), 0);
    ASSERT_TRUE(QFile::remove(keyFile("amelia")));
    amelia = cli("amelia", "127.0.0.2");
    ASSERT_TRUE(amelia->startSession());
    const QString changedNumber = safetyAt(*amelia);
    ASSERT_EQ(changedNumber.size(), 71);
    ASSERT_NE(changedNumber, number);
    dialogs.answers = {UserDialogs::AnswerNo};
    ASSERT_TRUE(pollUntil([&] { return !dialogs.boxes.isEmpty(); })) << "no question came";
    ASSERT_EQ(dialogs.boxes.size(), 1);
    EXPECT_EQ(dialogs.boxes[0].title.toStdString(), "Security Key Changed");
    EXPECT_EQ(dialogs.boxes[0].buttons, UserDialogs::Buttons::YesNo);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith("amelia's security key changed since you verified it"))
        << dialogs.boxes[0].text.toStdString();
    ASSERT_TRUE(pollUntil([&] { return tab("amelia") >= 0; }));
    const cBuddyInfo* record = window->buddyInfo("amelia");
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->Chat().endsWith("amelia's security key changed")) << record->Chat().toStdString();
    EXPECT_EQ(window->library()->security("amelia"), PeerSecurity::Refused);
    EXPECT_TRUE(tabs->tabToolTip(tab("amelia")).contains("their security key changed"))
        << tabs->tabToolTip(tab("amelia")).toStdString();
    EXPECT_EQ(buddyWindowMark("amelia")->text().toStdString(), "Key changed");

    // The Verify dialog shows the new key's number, and accepting it lets her through again.
    selectTab("amelia");
    EXPECT_TRUE(inVerifyDialog([&] { window->findChild<QAction*>("mnuVerify")->trigger(); },
        [&](VerifyDialog& dialog) {
            EXPECT_EQ(dialog.shownNumber().toStdString(), changedNumber.toStdString());
            EXPECT_TRUE(dialog.findChild<QCheckBox*>("chkVerified")->isHidden());
            dialog.findChild<QPushButton*>("cmdAcceptKey")->click();
            EXPECT_EQ(dialog.shownNumber().toStdString(), changedNumber.toStdString());
            EXPECT_TRUE(dialog.findChild<QPushButton*>("cmdAcceptKey")->isHidden());
            EXPECT_FALSE(dialog.findChild<QCheckBox*>("chkVerified")->isChecked()) << "the new key is not verified";
        }));
    EXPECT_EQ(window->library()->security("amelia"), PeerSecurity::Encrypted);
    EXPECT_EQ(tabs->tabToolTip(tab("amelia")).toStdString(), ("amelia@example.org\n" + encrypted).toStdString());
    EXPECT_EQ(buddyWindowMark("amelia")->text().toStdString(), "Encrypted");
    EXPECT_EQ(dialogs.boxes.size(), 1) << "asked once";

    EXPECT_EQ(amelia->quit(), 0);
    EXPECT_EQ(bertram->quit(), 0);
}

TEST_F(EncryptedChannelTest, AnOwnKeyFileOthersMayReadIsToldOnceAndEveryBuddyIsMarked)
{
    ASSERT_TRUE(amelia->startSession());
    amelia->say("add cordelia");
    ASSERT_TRUE(amelia->waitFor("add").value("ok").toBool());
    ASSERT_TRUE(QFile::setPermissions(
        Identity::defaultPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));

    window = std::make_unique<frmMain>();
    EXPECT_TRUE(loadMainWindow(*window));
    tabs = window->findChild<QTabBar*>("tabBuddies");
    ASSERT_TRUE(pollUntil([&] { return tabs->count() == 1; }));
    ASSERT_FALSE(window->library()->hasIdentity());
    ASSERT_EQ(dialogs.boxes.size(), 1) << "told once, however many polls";
    EXPECT_EQ(dialogs.boxes[0].title.toStdString(), "Confabo Security Key");
    EXPECT_EQ(dialogs.boxes[0].icon, UserDialogs::Icon::Exclamation);
    EXPECT_TRUE(dialogs.boxes[0].text.startsWith(window->library()->identityProblem()));
    EXPECT_TRUE(window->library()->identityProblem().contains("readable by other users"))
        << window->library()->identityProblem().toStdString();

    // amelia has a key, this client none: her tab says whose key is missing.
    EXPECT_EQ(tabs->tabToolTip(0).toStdString(),
        "amelia@example.org\nMessages to amelia are not encrypted: your Confabo has no usable security key.");
    EXPECT_EQ(amelia->quit(), 0);
}

// cordelia's own lines carry what became of them: amelia's client acknowledges hers (a check mark,
// the time in its tooltip, in the tab and in amelia's own window), bertram's plain lines carry no
// mark, and a line to amelia once her client is gone without signing out goes to her mailbox when
// the library gives up on it, and says so. The transcript's text stays as it was.
TEST_F(EncryptedChannelTest, OwnLinesShowWhetherTheBuddyGotThem)
{
    ASSERT_TRUE(amelia->startSession());
    ASSERT_TRUE(bertram->startSession());
    amelia->say("add cordelia");
    bertram->say("add cordelia");
    ASSERT_TRUE(amelia->waitFor("add").value("ok").toBool());
    ASSERT_TRUE(bertram->waitFor("add").value("ok").toBool());
    window = std::make_unique<frmMain>();
    EXPECT_TRUE(loadMainWindow(*window));
    tabs = window->findChild<QTabBar*>("tabBuddies");
    ASSERT_TRUE(pollUntil([&] { return tabs->count() == 2; }));
    ASSERT_EQ(safetyAt(*amelia).size(), 71) << "amelia's client knows cordelia's key";

    const auto lastLine = [&](const char* handle) { return window->buddyInfo(handle)->transcript().lines().last(); };
    auto* chat = window->findChild<QTextEdit*>("txtChat");
    for (const char* to : {"bertram", "amelia"}) {
        selectTab(to);
        window->findChild<QLineEdit*>("txtMessage")->setText(QStringLiteral("hello ") + to);
        window->findChild<QPushButton*>("cmdSend")->click();
    }
    EXPECT_TRUE(heardBy(*amelia, "message").value("secure").toBool());
    EXPECT_FALSE(heardBy(*bertram, "message").value("secure").toBool());
    ASSERT_TRUE(waitUntil([&] { return lastLine("amelia").delivery == ChatTranscript::Delivery::Delivered; }, 10000));
    EXPECT_TRUE(DeliveryMarks::toolTip(lastLine("amelia")).startsWith("Delivered at "))
        << DeliveryMarks::toolTip(lastLine("amelia")).toStdString();
    EXPECT_GT(markPixels(*chat, true), 10) << "the check mark shows beside the line";
    EXPECT_EQ(window->buddyInfo("amelia")->Chat().toStdString(), "cordelia: hello amelia") << "no mark in the text";
    window->buddyInfo("amelia")->showWindow();
    frmBuddy* form = window->buddyInfo("amelia")->BuddyForm();
    ASSERT_TRUE(form && form->isVisible());
    EXPECT_GT(markPixels(*form->findChild<QTextEdit*>("txtChat"), true), 10) << "her window shows it too";
    form->close();

    EXPECT_EQ(lastLine("bertram").delivery, ChatTranscript::Delivery::Unmarked) << "plain lines are not acknowledged";
    selectTab("bertram");
    EXPECT_EQ(markPixels(*chat, true), 0);

    // amelia's client is gone, the service still says she is there: the line is sent again and
    // again, then left in her mailbox, still waiting for its mark.
    amelia->kill();
    selectTab("amelia");
    window->findChild<QLineEdit*>("txtMessage")->setText(QStringLiteral("are you gone?"));
    window->findChild<QPushButton*>("cmdSend")->click();
    EXPECT_EQ(lastLine("amelia").delivery, ChatTranscript::Delivery::Pending);
    ASSERT_TRUE(waitUntil([&] { return lastLine("amelia").notice; }, SecureChannel::GiveUpMs + 10000));
    EXPECT_EQ(window->buddyInfo("amelia")->Chat().toStdString(),
        "cordelia: hello amelia\r\ncordelia: are you gone?\r\n(will be delivered when amelia signs in)");
    const auto& lines = window->buddyInfo("amelia")->transcript().lines();
    EXPECT_EQ(lines.at(lines.size() - 2).delivery, ChatTranscript::Delivery::Pending);
    EXPECT_EQ(bertram->quit(), 0);
}

// Files both ways between the window and a buddy's client: the question first, the file saved
// where the user chose, the strip while one is on its way, and a word in the conversation at the
// end of each; the detached window's File... button sends too.
TEST_F(EncryptedChannelTest, FilesGoBothWaysAskedFirstAndTheConversationSaysHowTheyEnded)
{
    const QString downloads = files.filePath("amelia-downloads");
    ASSERT_TRUE(QDir().mkpath(downloads));
    amelia->addSessionOptions({"--downloads", downloads});
    ASSERT_TRUE(amelia->startSession());
    amelia->say("add cordelia");
    ASSERT_TRUE(amelia->waitFor("add").value("ok").toBool());
    window = std::make_unique<frmMain>();
    EXPECT_TRUE(loadMainWindow(*window));
    tabs = window->findChild<QTabBar*>("tabBuddies");
    ASSERT_TRUE(pollUntil([&] { return tab("amelia") >= 0; }));
    ASSERT_EQ(safetyAt(*amelia).size(), 71) << "amelia's client knows cordelia's key";

    const auto writeFile = [&](const char* name, int size) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
        QFile file(files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == size);
        return bytes;
    };
    const auto notices = [&] {
        QStringList found;
        for (const ChatTranscript::Line& line : window->buddyInfo("amelia")->transcript().lines())
            if (line.notice)
                found << line.message;
        return found.join('\n');
    };

    // amelia offers a file: cordelia is asked, says yes, and chooses where it goes.
    const QByteArray report = writeFile("report.bin", 3000000);
    const QString saved = files.filePath("saved-report.bin");
    dialogs.answers = {UserDialogs::AnswerYes};
    dialogs.filesToSave = {saved};
    amelia->say("file cordelia " + files.filePath("report.bin").toUtf8());
    ASSERT_TRUE(waitUntil([&] { return notices().contains("Saved report.bin from amelia"); }, 20000)) << notices().toStdString();
    ASSERT_FALSE(dialogs.boxes.isEmpty());
    EXPECT_EQ(dialogs.boxes.last().text.toStdString(), "amelia wants to send you report.bin (3.0 MB). Save it?");
    QFile got(saved);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_TRUE(got.readAll() == report) << "the file arrives whole";
    EXPECT_TRUE(heardBy(*amelia, "file_sent").contains("event"));

    // cordelia sends one from amelia's own window; the strip shows it until amelia has it.
    selectTab("amelia");
    const QByteArray photo = writeFile("photo.raw", 1 << 20);
    dialogs.filesToOpen = {files.filePath("photo.raw")};
    window->buddyInfo("amelia")->showWindow();
    frmBuddy* form = window->buddyInfo("amelia")->BuddyForm();
    ASSERT_TRUE(form && form->isVisible());
    form->findChild<QPushButton*>("cmdFile")->click();
    auto* strip = window->findChild<QWidget*>("transferStrip");
    ASSERT_TRUE(strip);
    const auto stripSays = [&](const QString& text) {
        for (const QLabel* label : strip->findChildren<QLabel*>())
            if (label->text().contains(text))
                return true;
        return false;
    };
    EXPECT_TRUE(stripSays("photo.raw")) << "the strip shows the file as soon as it is offered";
    ASSERT_TRUE(waitUntil([&] { return notices().contains("amelia received photo.raw whole"); }, 20000)) << notices().toStdString();
    const QJsonObject arrived = heardBy(*amelia, "file");
    EXPECT_EQ(arrived.value("name").toString().toStdString(), "photo.raw");
    EXPECT_EQ(arrived.value("sha256").toString().toLatin1(),
        QCryptographicHash::hash(photo, QCryptographicHash::Sha256).toHex());
    EXPECT_FALSE(stripSays("photo.raw")) << "a finished file leaves the strip";
    form->close();
    EXPECT_EQ(amelia->quit(), 0);
}

} // namespace
