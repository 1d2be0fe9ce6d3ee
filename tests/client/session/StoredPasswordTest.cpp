// Where the remembered password lives: in the desktop's keyring (a real Secret Service,
// gnome-keyring-daemon on a D-Bus session of the test's own) with none in the settings file, a
// password the file held from before moved there; without a keyring, in the settings file, which
// only its owner may read. Each test runs in a process of its own, so each meets the bus afresh.
#include "TempConfig.h"

#include "desktop/SecretServiceKeyring.h"
#include "platform/Settings.h"
#include "platform/SettingsStore.h"
#include "protocol/SkipJack.h"
#include "session/StoredPassword.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

QByteArray settingsFile()
{
    QFile file(SettingsStore::filePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class StoredPasswordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SkipJack::SkipjackInit();
        PasswordKeyring::install(&keyring);
        Settings::ServiceHost.write(QStringLiteral("127.0.0.1:8080"));
        Settings::Handle.write(QStringLiteral("harriet"));
    }

    void TearDown() override
    {
        PasswordKeyring::install(nullptr);
        for (QProcess* daemon : {&keyringDaemon, &bus})
            if (daemon->state() != QProcess::NotRunning) {
                daemon->kill();
                daemon->waitForFinished(5000);
            }
    }

    // A session bus and an unlocked keyring on it, for this process only; false (and why) when
    // the programs are not installed or do not start.
    bool startKeyring(std::string* why)
    {
        const QString dbus = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
        if (dbus.isEmpty() || daemon.isEmpty()) {
            *why = "dbus-daemon and gnome-keyring-daemon are needed for a keyring (scripts/install-deps)";
            return false;
        }
        bus.start(dbus, {"--session", "--nofork", "--print-address=1"});
        if (!bus.waitForStarted(5000) || !bus.waitForReadyRead(5000)) {
            *why = "the D-Bus session did not start";
            return false;
        }
        const QByteArray address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_DATA_HOME", home.filePath("share"));
        environment.insert("XDG_RUNTIME_DIR", home.path());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(address));
        keyringDaemon.setProcessEnvironment(environment);
        keyringDaemon.start(daemon, {"--foreground", "--unlock", "--components=secrets"});
        if (!keyringDaemon.waitForStarted(5000)) {
            *why = "gnome-keyring-daemon did not start";
            return false;
        }
        keyringDaemon.write("keyring-test-password");
        keyringDaemon.waitForBytesWritten(5000); // QProcess writes only while it is waited on
        keyringDaemon.closeWriteChannel();
        // Asked before it has made the login keyring from the password, the daemon never makes
        // it: first the keyring's file, then one password kept and forgotten.
        for (int i = 0; i < 100 && !QFile::exists(home.filePath("share/keyrings/login.keyring")); ++i)
            QThread::msleep(50);
        const auto ready = [&] {
            return keyring.available() && keyring.store("probe", "probe", "x") && keyring.clear("probe", "probe");
        };
        bool up = false;
        for (int i = 0; i < 100 && !(up = ready()); ++i)
            QThread::msleep(50);
        if (!up) {
            *why = "the keyring did not come up on the test's D-Bus session: "
                + keyringDaemon.readAllStandardError().toStdString();
            return false;
        }
        return true;
    }

    TempConfig config;
    QTemporaryDir home;
    SecretServiceKeyring keyring;
    QProcess bus;
    QProcess keyringDaemon;
};

TEST_F(StoredPasswordTest, WithoutAKeyringThePasswordStaysInTheOwnersSettingsFile)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName("unix:path=" + home.filePath("no-bus")));
    ASSERT_FALSE(keyring.available());
    const QString enciphered = SkipJack::EncipherPassword(u"pw-harriet");
    StoredPassword::write(enciphered);
    EXPECT_EQ(Settings::Password.read(), enciphered) << "the key and its enciphered text as ever";
    EXPECT_EQ(StoredPassword::read(), enciphered);
    EXPECT_EQ(QFile::permissions(SettingsStore::filePath()) & QFileDevice::Permissions(0x7077),
        QFile::ReadOwner | QFile::WriteOwner)
        << "nobody else may read it";
}

TEST_F(StoredPasswordTest, AKeyringKeepsThePasswordAndTheSettingsFileNone)
{
    std::string why;
    if (!startKeyring(&why))
        GTEST_SKIP() << "no keyring to test with: " << why;

    // A password the settings file holds from before moves into the keyring at the next read.
    const QString before = SkipJack::EncipherPassword(u"pw-harriet");
    Settings::Password.write(before);
    EXPECT_EQ(StoredPassword::read(), before);
    EXPECT_TRUE(Settings::Password.read().isEmpty());
    EXPECT_FALSE(settingsFile().contains(before.toLatin1())) << settingsFile().toStdString();
    EXPECT_EQ(keyring.lookup("127.0.0.1:8080", "harriet").value_or(QString()), before);
    EXPECT_EQ(StoredPassword::read(), before) << "read back from the keyring";

    // A new password replaces it there; the file still holds none.
    const QString changed = SkipJack::EncipherPassword(u"newpass1");
    StoredPassword::write(changed);
    EXPECT_EQ(StoredPassword::read(), changed);
    EXPECT_FALSE(settingsFile().contains(changed.toLatin1()));
    EXPECT_FALSE(settingsFile().contains("password"));

    // Kept by service and handle: another user of the profile, or another service, has none.
    Settings::Handle.write(QStringLiteral("bertram"));
    EXPECT_TRUE(StoredPassword::read().isEmpty());
    Settings::Handle.write(QStringLiteral("harriet"));
    Settings::ServiceHost.write(QStringLiteral("https://confabo.example.org"));
    EXPECT_TRUE(StoredPassword::read().isEmpty());
    Settings::ServiceHost.write(QStringLiteral("127.0.0.1:8080"));
    EXPECT_EQ(StoredPassword::read(), changed);

    // Forgotten: gone from the keyring too.
    StoredPassword::write(QString());
    EXPECT_TRUE(StoredPassword::read().isEmpty());
    EXPECT_EQ(keyring.lookup("127.0.0.1:8080", "harriet").value_or("lookup failed"), QString());
}

} // namespace
