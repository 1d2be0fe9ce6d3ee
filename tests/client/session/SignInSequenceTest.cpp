// The sign-in sequence against the real confabo-service: first run, automatic sign-in, a refused
// stored password with Retry, a service that cannot be reached, and Cancel ending the sequence signed out.
#include "StartupTestSupport.h"

#include "common/modMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "session/ClientSession.h"
#include "session/SignInSequence.h"
#include "session/SessionDialogs.h"
#include "session/frmLogin.h"

#include "FreeDataPort.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <optional>

#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;
using namespace startup_test;

namespace {

// No main window: no dialog opens on the session, the first run's registration form among them.
struct NoDialogs : SessionDialogs {
    bool showSetup(QWidget*) override { return false; }
    bool showFirstRegistration(QWidget*) override { return false; }
    bool showBuddyListEditor(QWidget*) override { return false; }
    bool showInvite(QWidget*) override { return false; }
};

class SignInSequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.isRunning()) << qPrintable(service_.errorText());
        Settings::ServiceHost.write(service_.serverSetting());
        Settings::DataPort.write(freeDataPort());
    }

    // The sequence's outcome once it has come; nothing when the user cancelled.
    std::optional<SignInFields> signIn(ClientSession& session)
    {
        bool ended = false;
        std::optional<SignInFields> outcome;
        RunSignInSequence(session, &speech_, nullptr, noDialogs_, [&](std::optional<SignInFields> fields) {
            outcome = std::move(fields);
            ended = true;
        });
        EXPECT_TRUE(waitFor([&] { return ended; }, 20000)) << "the sequence never ended";
        return outcome;
    }

    static void registerAccount(const QString& handle, const QString& password)
    {
        Confabo confabo;
        ASSERT_TRUE(confabo.Register(handle, SkipJack::EncipherPassword(password), handle + "@example.org"));
    }
    static void storeSignIn(const QString& handle, const QString& password)
    {
        Settings::IsRegistered.write("1");
        Settings::AutoLogin.write("1");
        Settings::Handle.write(handle);
        Settings::Password.write(SkipJack::EncipherPassword(password));
    }
    bool boxTitled(const QString& title) const
    {
        return std::any_of(
            dialogs_.boxes.begin(), dialogs_.boxes.end(), [&](const auto& box) { return box.title == title; });
    }

    TempConfig config_;
    ServiceProcess service_;
    ScriptedDialogs dialogs_;
    RecordingSpeech speech_;
    NoDialogs noDialogs_;
    QObject scope_;
};

TEST_F(SignInSequenceTest, FreshInstallWelcomesThenSignsInThroughTheWindow)
{
    registerAccount("amelia", "s3cret pass");
    Settings::EnableSpeech.write("0");
    bool windowShown = false;
    QString registeredAtWindow = "?";
    whenModal<frmLogin>(
        &scope_,
        [&](frmLogin* window) {
            registeredAtWindow = Settings::IsRegistered.read();
            EXPECT_EQ(window->windowTitle(), "Confabo Login");
            EXPECT_FALSE(child<QCheckBox>(window, "chkAutoLogin")->isChecked());
            child<QLineEdit>(window, "txtHandle")->setText("amelia");
            child<QLineEdit>(window, "txtPassword")->setText("s3cret pass");
            child<QCheckBox>(window, "chkAutoLogin")->setChecked(true);
            child<QPushButton>(window, "cmdOK")->click();
        },
        &windowShown);

    ClientSession session(nullptr);
    Confabo& confabo = *session.open();
    const std::optional<SignInFields> outcome = signIn(session);
    ASSERT_TRUE(outcome);
    const SignInFields& fields = *outcome;

    // No welcome box (the registration form welcomes a new user); the one box is the service's
    // welcome on the account's first sign-in, after it.
    ASSERT_EQ(dialogs_.boxes.size(), 1);
    EXPECT_EQ(dialogs_.boxes[0].title, "Confabo");
    EXPECT_TRUE(dialogs_.boxes[0].text.startsWith("Welcome to Confabo, amelia!")) << qPrintable(dialogs_.boxes[0].text);
    EXPECT_TRUE(windowShown);
    EXPECT_FALSE(fields.newAccount) << "the account was made elsewhere";
    EXPECT_EQ(registeredAtWindow, "");
    // The welcome is spoken even with speech off; nothing else is.
    EXPECT_EQ(speech_.spoken, QStringList{"Welcome to Confabo!"});
    EXPECT_FALSE(fields.speakIt);

    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
    EXPECT_EQ(confabo.handle(), "amelia");
    EXPECT_EQ(fields.handle, "amelia");
    // Only the enciphered text is stored and sent.
    EXPECT_EQ(fields.password, SkipJack::EncipherPassword(u"s3cret pass"));
    EXPECT_EQ(Settings::Password.read(), fields.password);
    EXPECT_EQ(Settings::AutoLogin.read(), "1");
    EXPECT_EQ(Settings::IsRegistered.read(), "1");
    EXPECT_FALSE(boxTitled("Login Error"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SignInSequenceTest, AutoLoginSignsInWithoutAnyWindow)
{
    registerAccount("bertram", "pw");
    storeSignIn("bertram", "pw");
    Settings::DefaultVoiceMode.write("3");
    bool windowShown = false;
    whenModal<QWidget>(
        &scope_, [](QWidget* window) { window->close(); }, &windowShown, 2000);

    ClientSession session(nullptr);
    Confabo& confabo = *session.open();
    const std::optional<SignInFields> outcome = signIn(session);
    ASSERT_TRUE(outcome);
    const SignInFields& fields = *outcome;

    EXPECT_FALSE(windowShown);
    EXPECT_FALSE(boxTitled("Welcome to Confabo!"));
    EXPECT_FALSE(boxTitled("Login Error"));
    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
    EXPECT_EQ(fields.handle, "bertram");
    EXPECT_TRUE(fields.speakIt);
    EXPECT_EQ(speech_.spoken, QStringList{"Logging in."});
    EXPECT_EQ(speech_.voice, 3);
    EXPECT_TRUE(speech_.voiceSetWhileSwitching);
    EXPECT_FALSE(speech_.switching);
}

TEST_F(SignInSequenceTest, RefusedStoredPasswordOffersRetryWithThePrefilledWindow)
{
    registerAccount("cordelia", "right one");
    storeSignIn("cordelia", "  wrong one");
    Settings::HostName.write("");
    dialogs_.answers = {UserDialogs::AnswerRetry};
    QString shownHandle, shownPassword;
    bool registeredBeforeSuccess = true;
    whenModal<frmLogin>(&scope_, [&](frmLogin* window) {
        shownHandle = child<QLineEdit>(window, "txtHandle")->text();
        shownPassword = child<QLineEdit>(window, "txtPassword")->text();
        registeredBeforeSuccess = Settings::IsRegistered.read() == "1";
        // Read once per start: a host name changed now is not used until the next start.
        Settings::HostName.write("192.0.2.1");
        child<QLineEdit>(window, "txtPassword")->setText("right one");
        child<QPushButton>(window, "cmdOK")->click();
    });

    ClientSession session(nullptr);
    Confabo& confabo = *session.open();
    const std::optional<SignInFields> outcome = signIn(session);
    ASSERT_TRUE(outcome);
    const SignInFields& fields = *outcome;

    ASSERT_TRUE(boxTitled("Login Error"));
    const auto error = *std::find_if(
        dialogs_.boxes.begin(), dialogs_.boxes.end(), [](const auto& box) { return box.title == "Login Error"; });
    EXPECT_EQ(error.text, "The login information you have provided is invalid.");
    EXPECT_EQ(error.buttons, UserDialogs::Buttons::RetryCancel);
    EXPECT_EQ(error.icon, UserDialogs::Icon::Exclamation);
    EXPECT_EQ(speech_.spoken, (QStringList{"Logging in.", "Invalid login!"}));
    EXPECT_EQ(shownHandle, "cordelia");
    EXPECT_EQ(shownPassword, "wrong one") << "leading spaces are trimmed";
    EXPECT_TRUE(registeredBeforeSuccess) << "a stored IsRegistered stays as it is";
    EXPECT_EQ(fields.password, SkipJack::EncipherPassword(u"right one"));
    EXPECT_EQ(fields.hostname, "");
    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SignInSequenceTest, AnUnreachableServiceIsNamedAndRetrySignsInOnceItAnswers)
{
    registerAccount("dorothea", "her pass");
    storeSignIn("dorothea", "her pass");
    const QString address = service_.serverSetting();
    ASSERT_TRUE(service_.stop());
    // While the box is up, the service comes back on its address.
    std::unique_ptr<ServiceProcess> back;
    dialogs_.answers = {UserDialogs::AnswerRetry};
    dialogs_.onBox = [&](const ScriptedDialogs::Box& box) {
        if (box.title == "Login Error" && !back)
            back = std::make_unique<ServiceProcess>(QStringList{"--listen", address}, service_.databasePath());
    };
    bool windowShown = false;
    whenModal<frmLogin>(
        &scope_, [](frmLogin* window) { window->reject(); }, &windowShown, 2000);

    ClientSession session(nullptr);
    Confabo& confabo = *session.open();
    const std::optional<SignInFields> outcome = signIn(session);
    ASSERT_TRUE(outcome);
    const SignInFields& fields = *outcome;

    ASSERT_TRUE(back && back->isRunning());
    ASSERT_TRUE(boxTitled("Login Error"));
    const auto error = dialogs_.boxes.first();
    EXPECT_TRUE(error.text.startsWith("Cannot reach the Confabo service at " + address + ": "))
        << qPrintable(error.text);
    EXPECT_FALSE(error.text.contains("invalid"));
    EXPECT_EQ(error.buttons, UserDialogs::Buttons::RetryCancel);
    EXPECT_EQ(speech_.spoken, (QStringList{"Logging in.", "Cannot reach the service!"}));
    EXPECT_FALSE(windowShown) << "the handle and password were not at fault";
    EXPECT_EQ(confabo.Status(), CFB_AVAILABLE);
    EXPECT_EQ(fields.handle, "dorothea");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SignInSequenceTest, CancelEndsTheSequenceSignedOut)
{
    // Cancel in the sign-in window of a first run: nothing is stored.
    whenModal<frmLogin>(&scope_, [](frmLogin* window) { child<QPushButton>(window, "cmdCancel")->click(); });
    {
        ClientSession session(nullptr);
        Confabo& confabo = *session.open();
        EXPECT_FALSE(signIn(session));
        EXPECT_EQ(confabo.Status(), CFB_OFFLINE);
    }
    EXPECT_EQ(Settings::IsRegistered.read(), "");
    EXPECT_EQ(Settings::Handle.read(), "");

    // Cancel in the "Login Error" box of an automatic sign-in the service refuses.
    storeSignIn("nobody-here", "pw");
    Settings::IsRegistered.write("0");
    dialogs_.answers = {UserDialogs::AnswerCancel}; // "Login Error"
    ClientSession session(nullptr);
    session.open();
    EXPECT_FALSE(signIn(session));
    EXPECT_TRUE(boxTitled("Login Error"));
    EXPECT_EQ(Settings::IsRegistered.read(), "0");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A session closed while the sign-in is under way ends it too.
    storeSignIn("nobody-here", "pw");
    bool ended = false;
    std::optional<SignInFields> outcome = SignInFields{};
    ClientSession closing(nullptr);
    closing.open();
    RunSignInSequence(closing, &speech_, nullptr, noDialogs_, [&](std::optional<SignInFields> fields) {
        outcome = std::move(fields);
        ended = true;
    });
    closing.close();
    EXPECT_TRUE(waitFor([&] { return ended; }));
    EXPECT_FALSE(outcome);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
