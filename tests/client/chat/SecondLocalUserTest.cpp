// Two users of one machine: the desktop client at every address and a headless client at
// 127.0.0.2, both on the same data port as every installation, signed in to the real service.
// What each sends reaches the other and nothing comes back to its sender.
#include "ClientProfile.h"
#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include "../support/MainWindowLoad.h"
#include "mainwindow/frmMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

// The next JSON line of the headless client whose "event" or "result" is `kind`; empty after 10 s.
QJsonObject next(QProcess& cli, const QString& kind)
{
    QJsonObject found;
    waitUntil(
        [&] {
            while (cli.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(cli.readLine()).object();
                if (o.value("event").toString() == kind || o.value("result").toString() == kind) {
                    found = o;
                    return true;
                }
            }
            return false;
        },
        10000);
    return found;
}

} // namespace

TEST(SecondLocalUser, ChatsBothWaysWithTheFirstOnTheSharedPort)
{
    TempConfig config;
    ServiceProcess service;
    ASSERT_TRUE(service.isRunning()) << service.errorText().toStdString();
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    ClientProfile::write(service, QStringLiteral("cordelia"));
    auto cordelia = ClientProfile::registerUser(files.path(), QStringLiteral("cordelia"), 0xff806040);
    ASSERT_TRUE(ClientProfile::registerUser(files.path(), QStringLiteral("bertram"), 0xff204080));
    ASSERT_TRUE(cordelia && cordelia->Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1"));
    ASSERT_EQ(cordelia->AddBuddy("bertram"), "bertram");
    cordelia->Logout();
    cordelia.reset();
    const QString port = freeDataPort();
    Settings::DataPort.write(port);
    Settings::HostName.erase(); // the first user as installed: every address, found by the service
    Settings::BlockAllData.erase();

    QProcess bertram;
    bertram.start(CONFABO_CLI_BINARY,
        {"session", "--handle", "bertram", "--password", "pw-bertram", "--config-dir", files.filePath("bertram"),
            "--server", service.serverSetting(), "--data-port", port, "--data-address", "127.0.0.2"});
    ASSERT_FALSE(next(bertram, "signed_in").isEmpty()) << bertram.readAllStandardError().toStdString();
    bertram.write("add cordelia\n");
    ASSERT_TRUE(next(bertram, "add").value("ok").toBool());

    frmMain window;
    EXPECT_TRUE(loadMainWindow(window));
    dialogs.boxes.clear();
    EXPECT_EQ(window.panelToolTip(frmMain::PanelHandle),
        "Signed in to the Confabo service at " + service.serverSetting() + " over an unencrypted connection (HTTP)");
    auto* tabs = window.findChild<QTabBar*>("tabBuddies");
    ASSERT_TRUE(waitUntil([&] {
        window.tmr_Timer();
        return tabs->count() == 1;
    }));
    EXPECT_EQ(tabs->tabText(0), "bertram");

    window.findChild<QLineEdit*>("txtMessage")->setText("hello from the first user");
    window.findChild<QPushButton*>("cmdSend")->click();
    const QJsonObject heard = next(bertram, "message");
    EXPECT_EQ(heard.value("from").toString(), "cordelia");
    EXPECT_EQ(heard.value("text").toString(), "hello from the first user");

    bertram.write("send cordelia and back from the second\n");
    ASSERT_TRUE(next(bertram, "send").value("ok").toBool());
    auto* chat = window.findChild<QTextBrowser*>("txtChat");
    EXPECT_TRUE(waitUntil([&] { return chat->toPlainText().contains("bertram: and back from the second"); }))
        << chat->toPlainText().toStdString();
    EXPECT_EQ(chat->toPlainText().count("hello from the first user"), 1) << "no echo of her own line";
    EXPECT_TRUE(dialogs.boxes.isEmpty()) << "no invitation, no error";

    bertram.write("quit\n");
    bertram.closeWriteChannel();
    EXPECT_TRUE(bertram.waitForFinished(10000));
}
