#include "session/SignInSequence.h"

#include "common/BusyCursor.h"

#include "common/ServiceFailure.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "session/ClientSession.h"
#include "session/StoredPassword.h"
#include "session/frmLogin.h"
#include "speech/SpeechEngine.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

namespace cfb::client {
namespace {

// The library's notices while it lives go into a list instead of a box each.
class NoticeCollector {
public:
    explicit NoticeCollector(QStringList& notices)
        : previous_(UserNotice::setHandler([&notices](const QString& text, const QString&) { notices << text; }))
    {
    }
    ~NoticeCollector() { UserNotice::setHandler(previous_); }
    NoticeCollector(const NoticeCollector&) = delete;
    NoticeCollector& operator=(const NoticeCollector&) = delete;

private:
    UserNotice::Handler previous_;
};

bool isOne(const QString& value)
{
    bool ok = false;
    return value.trimmed().toDouble(&ok) == 1.0 && ok;
}

// What the service thread's sign-in found.
struct SignInAnswer {
    bool signedIn = false;
    QString unreachable; // why no reply came, when none did
    QStringList notices;
};

// The sign-in window, modally; false when the user cancelled it.
bool showSignInWindow(QWidget* owner)
{
    frmLogin window(owner);
    return window.exec() == QDialog::Accepted;
}

// The library's notices (a bitmap it cannot load, the service's messages) as a modal box each.
void showLibraryNoticesInBoxes()
{
    UserNotice::setHandler([](const QString& text, const QString& caption) {
        UserDialogs::current().messageBox(
            modMain::mainWindow(), text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, caption);
    });
}

// One box for a first sign-in: the new account and the service's welcome together.
void tellTheNews(bool newAccount, const QStringList& notices, QWidget* owner)
{
    QStringList parts;
    if (newAccount)
        parts << QStringLiteral("Your Confabo account is registered.");
    parts << notices;
    if (parts.isEmpty())
        return;
    UserDialogs::current().messageBox(owner, parts.join(QStringLiteral("\r\n\r\n")), UserDialogs::Buttons::Ok,
        UserDialogs::Icon::Information,
        newAccount ? QStringLiteral("Confabo Registration") : QString::fromLatin1(modMain::AppTitle));
}

} // namespace

SignInFields RunSignInSequence(ClientSession& session, SpeechEngine* speech, QWidget* owner)
{
    showLibraryNoticesInBoxes();
    UserDialogs& dialogs = UserDialogs::current();

    SignInFields fields;
    if (Settings::IsRegistered.read() != QLatin1String("1")) {
        if (speech)
            speech->speak(QStringLiteral("Welcome to Confabo!"));
        QCoreApplication::processEvents();
        fields.newAccount = modMain::ShowFirstRegistration(owner);
    }

    if (Settings::AutoLogin.read() != QLatin1String("1") && !showSignInWindow(owner))
        modMain::ExitApplication();

    fields.handle = Settings::Handle.read();
    fields.password = StoredPassword::read();
    fields.hostname = Settings::HostName.read();

    fields.speakIt = isOne(Settings::EnableSpeech.read());
    BusyCursor busy;
    bool voiceOk = false;
    const int voice = Settings::DefaultVoiceMode.read().trimmed().toInt(&voiceOk);
    if (speech && voiceOk) {
        speech->setSwitchFlag(true);
        speech->setCurrentVoice(voice);
        speech->setSwitchFlag(false);
    }

    const bool speakIt = fields.speakIt && speech;
    if (speakIt)
        speech->speak(QStringLiteral("Logging in."));
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();

    QStringList notices;
    for (;;) {
        const QString handle = fields.handle;
        const QString password = fields.password;
        const QString address = session.library()->signInAddress(fields.hostname);
        const std::optional<SignInAnswer> answer
            = session.call<SignInAnswer>("Login", nullptr, [handle, password, address](Confabo& service) {
                  SignInAnswer found;
                  {
                      const NoticeCollector collect(found.notices);
                      found.signedIn = service.Login(handle, password, address);
                  }
                  if (!found.signedIn)
                      found.unreachable = ServiceFailure::unreachableText();
                  return found;
              });
        if (!answer)
            modMain::ExitApplication(); // the session ended while signing in
        notices = answer->notices;
        if (answer->signedIn)
            break;
        busy.release();
        const QString unreachable = answer->unreachable;
        if (speakIt)
            speech->speak(
                unreachable.isEmpty() ? QStringLiteral("Invalid login!") : QStringLiteral("Cannot reach the service!"));
        QCoreApplication::processEvents();
        if (!unreachable.isEmpty()) {
            // Nothing the user typed is at fault: Retry tries the same again.
            const int answer = dialogs.messageBox(owner,
                unreachable
                    + QStringLiteral(" Check that the service is running and that the service address "
                                     "(CFBSERVER) names it, then choose Retry."),
                UserDialogs::Buttons::RetryCancel, UserDialogs::Icon::Exclamation, QStringLiteral("Login Error"));
            if (answer != UserDialogs::AnswerRetry)
                modMain::ExitApplication();
        } else {
            const int answer
                = dialogs.messageBox(owner, QStringLiteral("The login information you have provided is invalid."),
                    UserDialogs::Buttons::RetryCancel, UserDialogs::Icon::Exclamation, QStringLiteral("Login Error"));
            if (answer != UserDialogs::AnswerRetry || !showSignInWindow(owner))
                modMain::ExitApplication();
            // The host name keeps the value read at the start of the sequence.
            fields.handle = Settings::Handle.read();
            fields.password = StoredPassword::read();
        }
        busy.show();
    }

    Settings::IsRegistered.write(QStringLiteral("1"));
    busy.release();
    tellTheNews(fields.newAccount, notices, owner);
    return fields;
}

} // namespace cfb::client
