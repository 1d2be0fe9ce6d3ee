#include "startup/SignInSequence.h"

#include "main/SpeechEngine.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "platform/UserDialogs.h"
#include "platform/UserNotice.h"
#include "startup/ServiceFailure.h"
#include "startup/frmLogin.h"
#include "startup/modMain.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace cfb::client {
namespace {

// The busy pointer while it lives; released early where the sequence waits for the user.
class BusyCursor {
public:
    ~BusyCursor() { release(); }
    void show()
    {
        if (!shown_)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        shown_ = true;
    }
    void release()
    {
        if (shown_)
            QGuiApplication::restoreOverrideCursor();
        shown_ = false;
    }

private:
    bool shown_ = false;
};

bool isOne(const QString& value)
{
    bool ok = false;
    return value.trimmed().toDouble(&ok) == 1.0 && ok;
}

// The sign-in window, modally; false when the user cancelled it.
bool showSignInWindow(QWidget* owner)
{
    frmLogin window(owner);
    return window.exec() == QDialog::Accepted;
}

// The library's notices (the service's sign-in message) as a modal box before Login returns.
void showLibraryNoticesInBoxes()
{
    UserNotice::setHandler([](const QString& text, const QString& caption) {
        UserDialogs::current().messageBox(
            modMain::mainWindow(), text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, caption);
    });
}

} // namespace

SignInFields RunSignInSequence(Confabo& confabo, SpeechEngine* speech, QWidget* owner)
{
    showLibraryNoticesInBoxes();
    UserDialogs& dialogs = UserDialogs::current();

    if (Settings::IsRegistered.read() != QLatin1String("1")) {
        if (speech)
            speech->speak(QStringLiteral("Welcome to Confabo!"));
        QCoreApplication::processEvents();
        dialogs.messageBox(owner,
            QStringLiteral("Welcome to Confabo! \r\n\r\nPlease begin by registering Confabo. "
                           "This will allow you to communicate with your Confabo buddies!"),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, QStringLiteral("Welcome to Confabo!"));
        modMain::ShowSetupDialog(owner);
    }

    if (Settings::AutoLogin.read() != QLatin1String("1") && !showSignInWindow(owner))
        modMain::ExitApplication();

    SignInFields fields;
    fields.handle = Settings::Handle.read();
    fields.password = Settings::Password.read();
    fields.hostname = Settings::HostName.read();

    fields.speakIt = isOne(Settings::EnableSpeech.read());
    BusyCursor busy;
    busy.show();
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

    while (!confabo.Login(fields.handle, fields.password, fields.hostname)) {
        busy.release();
        const QString unreachable = ServiceFailure::unreachableText();
        if (speakIt)
            speech->speak(unreachable.isEmpty() ? QStringLiteral("Invalid login!")
                                                : QStringLiteral("Cannot reach the service!"));
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
            fields.password = Settings::Password.read();
        }
        busy.show();
    }

    Settings::IsRegistered.write(QStringLiteral("1"));
    return fields;
}

} // namespace cfb::client
