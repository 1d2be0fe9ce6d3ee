#include "session/SignInSequence.h"

#include "common/BusyCursor.h"

#include "common/ServiceFailure.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "session/ClientSession.h"
#include "session/SessionDialogs.h"
#include "session/StoredPassword.h"
#include "session/frmLogin.h"
#include "speech/SpeechEngine.h"

#include <QGuiApplication>
#include <QPointer>
#include <QStringList>

#include <optional>
#include <utility>

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
bool showSignInWindow(SessionDialogs& dialogs, QWidget* owner)
{
    frmLogin window(dialogs, owner);
    return window.exec() == QDialog::Accepted;
}

// The library's notices (a bitmap it cannot load, the service's messages) as a modal box each.
void showLibraryNoticesInBoxes(QWidget* owner)
{
    UserNotice::setHandler([owner = QPointer<QWidget>(owner)](const QString& text, const QString& caption) {
        UserDialogs::current().messageBox(
            owner, text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, caption);
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

// The Login loop: one sign-in asked at a time on the service thread, the "Login Error" box after
// each that did not succeed. It ends itself (deleted later) once it has told done.
class SignInAttempts : public QObject {
public:
    SignInAttempts(ClientSession& session, SpeechEngine* speech, QWidget* owner, SessionDialogs& dialogs,
        SignInFields fields, std::function<void(std::optional<SignInFields>)> done)
        : QObject(&session)
        , session_(session)
        , speech_(fields.speakIt ? speech : nullptr)
        , owner_(owner)
        , dialogs_(dialogs)
        , fields_(std::move(fields))
        , done_(std::move(done))
    {
        // A session that ends while signing in ends the sequence: nobody is signed in.
        connect(&session, &ClientSession::closed, this, [this] { finish(std::nullopt); });
    }

    void attempt()
    {
        const QString handle = fields_.handle;
        const QString password = fields_.password;
        const QString address = session_.library()->signInAddress(fields_.hostname);
        session_.ask<SignInAnswer>(
            "Login", this,
            [handle, password, address](Confabo& service) {
                SignInAnswer found;
                {
                    const NoticeCollector collect(found.notices);
                    found.signedIn = service.Login(handle, password, address);
                }
                if (!found.signedIn)
                    found.unreachable = ServiceFailure::unreachableText();
                return found;
            },
            [this](const SignInAnswer& answer) { answered(answer); }, [this] { finish(std::nullopt); });
    }

private:
    void answered(const SignInAnswer& answer)
    {
        if (answer.signedIn) {
            Settings::IsRegistered.write(QStringLiteral("1"));
            busy_.release();
            tellTheNews(fields_.newAccount, answer.notices, owner_);
            finish(fields_);
            return;
        }
        busy_.release();
        UserDialogs& dialogs = UserDialogs::current();
        const QString unreachable = answer.unreachable;
        if (speech_)
            speech_->speak(
                unreachable.isEmpty() ? QStringLiteral("Invalid login!") : QStringLiteral("Cannot reach the service!"));
        if (!unreachable.isEmpty()) {
            // Nothing the user typed is at fault: Retry tries the same again.
            const int choice = dialogs.messageBox(owner_,
                unreachable
                    + QStringLiteral(" Check that the service is running and that the service address "
                                     "(CFBSERVER) names it, then choose Retry."),
                UserDialogs::Buttons::RetryCancel, UserDialogs::Icon::Exclamation, QStringLiteral("Login Error"));
            if (choice != UserDialogs::AnswerRetry) {
                finish(std::nullopt);
                return;
            }
        } else {
            const int choice
                = dialogs.messageBox(owner_, QStringLiteral("The login information you have provided is invalid."),
                    UserDialogs::Buttons::RetryCancel, UserDialogs::Icon::Exclamation, QStringLiteral("Login Error"));
            if (choice != UserDialogs::AnswerRetry || !showSignInWindow(dialogs_, owner_)) {
                finish(std::nullopt);
                return;
            }
            // The host name keeps the value read at the start of the sequence.
            fields_.handle = Settings::Handle.read();
            fields_.password = StoredPassword::read();
        }
        busy_.show();
        attempt();
    }

    void finish(std::optional<SignInFields> outcome)
    {
        if (!done_)
            return;
        busy_.release();
        deleteLater();
        std::exchange(done_, nullptr)(std::move(outcome));
    }

    ClientSession& session_;
    SpeechEngine* speech_;
    QWidget* owner_;
    SessionDialogs& dialogs_;
    SignInFields fields_;
    std::function<void(std::optional<SignInFields>)> done_;
    BusyCursor busy_;
};

} // namespace

void RunSignInSequence(ClientSession& session, SpeechEngine* speech, QWidget* owner, SessionDialogs& dialogs,
    std::function<void(std::optional<SignInFields>)> done)
{
    showLibraryNoticesInBoxes(owner);

    SignInFields fields;
    if (Settings::IsRegistered.read() != QLatin1String("1")) {
        if (speech)
            speech->speak(QStringLiteral("Welcome to Confabo!"));
        fields.newAccount = dialogs.showFirstRegistration(owner);
    }

    if (Settings::AutoLogin.read() != QLatin1String("1") && !showSignInWindow(dialogs, owner)) {
        done(std::nullopt);
        return;
    }

    fields.handle = Settings::Handle.read();
    fields.password = StoredPassword::read();
    fields.hostname = Settings::HostName.read();
    fields.speakIt = isOne(Settings::EnableSpeech.read());
    // The busy pointer from here until the sign-in has been answered.
    auto* attempts = new SignInAttempts(session, speech, owner, dialogs, fields, std::move(done));
    bool voiceOk = false;
    const int voice = Settings::DefaultVoiceMode.read().trimmed().toInt(&voiceOk);
    if (speech && voiceOk) {
        speech->setSwitchFlag(true);
        speech->setCurrentVoice(voice);
        speech->setSwitchFlag(false);
    }

    if (fields.speakIt && speech)
        speech->speak(QStringLiteral("Logging in."));
    // No events are run here: the attempt is answered from the event loop, which shows the busy
    // pointer and lets the speech begin meanwhile.
    attempts->attempt();
}

} // namespace cfb::client
