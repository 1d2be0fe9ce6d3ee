#include "setup/ProfileTab.h"

#include "chat/MouthPlacement.h"
#include "common/ServiceFailure.h"
#include "common/modMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "session/ClientSession.h"
#include "session/StoredPassword.h"
#include "setup/SetupHelpers.h"

#include <QEvent>
#include <QLineEdit>
#include <QTimer>

namespace cfb::client {

using SetupHelpers::tellWhileBusy;

ProfileTab::ProfileTab(const Widgets& widgets, ClientSession& session, QWidget* dialog)
    : QObject(dialog)
    , ui_(widgets)
    , session_(session)
    , library_(session.library())
    , dialog_(dialog)
    , avatar_(widgets.avatar, session, dialog)
{
    for (QLineEdit* field :
        {ui_.txtHandle, ui_.txtPassword, ui_.txtConfirmPassword, ui_.txtEmail, ui_.avatar.txtAvatarFile})
        field->installEventFilter(this);
}

void ProfileTab::load(AccountForm::Mode mode)
{
    mode_ = mode;
    if (mode == AccountForm::Mode::Profile) {
        ui_.txtHandle->setText(library_->handle());
        ui_.txtHandle->setReadOnly(true);
        QPalette palette = ui_.txtHandle->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        ui_.txtHandle->setPalette(palette);
        const QString password = SkipJack::DecipherPassword(library_->Password());
        ui_.txtPassword->setText(password);
        ui_.txtConfirmPassword->setText(password);
        ui_.txtEmail->setText(library_->Email());
        const QPoint mouth(library_->MouthLeft(), library_->MouthTop());
        // A position never set (an account starts at 0, 0) is offered where the default mouth is.
        avatar_.load(library_->Avatar().isNull() ? Buddy::DefaultAvatar() : library_->Avatar(),
            mouth.isNull() ? MouthPlacement::DefaultAvatarMouth : mouth);
    } else {
        // A handle the profile names already (scripts/run --second-user NAME writes it) is offered.
        ui_.txtHandle->setText(Settings::Handle.read().trimmed());
        // The picture buddies see of an account without one, the marker on its lips.
        avatar_.load(Buddy::DefaultAvatar(), MouthPlacement::DefaultAvatarMouth);
    }
}

bool ProfileTab::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // After the event: a mouse press that gave the focus would place the caret over it.
        auto* field = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, field, [field] { modMain::SelectAllText(field); });
    }
    return QObject::eventFilter(watched, event);
}

AccountForm ProfileTab::typed() const
{
    return {.mode = mode_,
        .typedHandle = ui_.txtHandle->text(),
        .typedPassword = ui_.txtPassword->text(),
        .typedConfirmation = ui_.txtConfirmPassword->text(),
        .typedEmail = ui_.txtEmail->text(),
        .avatarPath = avatar_.fileToSend()};
}

void ProfileTab::save(Saved saved)
{
    const AccountForm form = typed();
    if (mode_ == AccountForm::Mode::Registration)
        registerAccount(form, std::move(saved));
    else
        changePassword(form, std::move(saved));
}

bool ProfileTab::refused(const AccountForm::Check& check)
{
    if (check)
        tellWhileBusy(dialog_, check->text, UserDialogs::Icon::Critical, check->title);
    return check.has_value();
}

// The profile's changes go one after the other, password, e-mail address, avatar; the first the
// service did not take is said, and the dialog stays.
void ProfileTab::changePassword(const AccountForm& form, Saved saved)
{
    const QString enciphered = SkipJack::EncipherPassword(form.password());
    if (enciphered == library_->Password()) {
        changeEmail(form, std::move(saved));
        return;
    }
    if (refused(form.checkPassword()))
        return;
    session_.askFrom<bool>(
        "Change Password", dialog_, [enciphered](Confabo& service) { return service.ChangePassword(enciphered); },
        [this, form, enciphered, saved](bool changed) {
            if (!changed) {
                tellWhileBusy(dialog_,
                    QStringLiteral("Unable to change the password at this time. Please try again later."),
                    UserDialogs::Icon::Critical, QStringLiteral("Confabo Change Password Error"));
                return;
            }
            StoredPassword::write(enciphered);
            changeEmail(form, saved);
        });
}

void ProfileTab::changeEmail(const AccountForm& form, Saved saved)
{
    const QString email = form.email();
    if (email == library_->Email()) {
        sendAvatar(form, std::move(saved));
        return;
    }
    if (refused(form.checkEmail()))
        return;
    session_.askFrom<bool>(
        "Change Email", dialog_, [email](Confabo& service) { return service.ChangeEmail(email); },
        [this, form, saved](bool changed) {
            if (!changed) {
                tellWhileBusy(dialog_,
                    QStringLiteral("Unable to change the email address at this time. Please try again later."),
                    UserDialogs::Icon::Critical, QStringLiteral("Confabo Change Email Error"));
                return;
            }
            sendAvatar(form, saved);
        });
}

// With an empty path only the mouth position changes, and the answer is not looked at.
void ProfileTab::sendAvatar(const AccountForm& form, Saved saved)
{
    if (refused(form.checkAvatar()))
        return;
    const QString path = form.avatarPath;
    const int16_t left = int16_t(mouthLeft());
    const int16_t top = int16_t(mouthTop());
    session_.askFrom<bool>(
        "Avatar", dialog_, [path, left, top](Confabo& service) { return service.SetAvatar(path, left, top); },
        [this, path, saved](bool sent) {
            if (!sent && !path.isEmpty())
                tellWhileBusy(dialog_, QStringLiteral("The avatar image failed to update. Please try again later"),
                    UserDialogs::Icon::Critical, QStringLiteral("Avatar Upload Failed"));
            saved();
        });
}

void ProfileTab::registerAccount(const AccountForm& form, Saved saved)
{
    if (refused(form.checkNewAccount()))
        return;

    const QString handle = form.handle();
    const QString enciphered = SkipJack::EncipherPassword(form.password());
    const QString email = form.email();
    const QString avatar = form.avatarPath;
    const int16_t left = int16_t(mouthLeft());
    const int16_t top = int16_t(mouthTop());
    // Only the service's own answer means the handle is taken: the text says why none came.
    session_.askFrom<std::optional<QString>>(
        "Register", dialog_,
        [handle, enciphered, email, avatar, left, top](Confabo& service) -> std::optional<QString> {
            ServiceFailure::clear();
            if (service.Register(handle, enciphered, email, avatar, left, top))
                return std::nullopt;
            return ServiceFailure::unreachableText();
        },
        [this, handle, enciphered, password = form.password(), saved](const std::optional<QString>& unanswered) {
            if (unanswered) {
                const QString unreachable = *unanswered;
                tellWhileBusy(dialog_,
                    unreachable.isEmpty()
                        ? QStringLiteral("That handle has already been taken. Please try another.")
                        : unreachable + QStringLiteral(" Nothing was registered; please try again later."),
                    UserDialogs::Icon::Exclamation, QStringLiteral("Confabo Registration Error"));
                if (unreachable.isEmpty())
                    ui_.txtHandle->setFocus();
                return;
            }
            Settings::IsRegistered.write(QStringLiteral("1"));
            Settings::Handle.write(handle);
            StoredPassword::write(enciphered);
            emit registered(handle, password);
            if (confirmsRegistration_)
                tellWhileBusy(dialog_, QStringLiteral("Your Confabo account is registered."),
                    UserDialogs::Icon::Information, QStringLiteral("Confabo Registration"));
            saved();
        });
}

} // namespace cfb::client
