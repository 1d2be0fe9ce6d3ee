#include "setup/AccountForm.h"

#include "protocol/AccountRules.h"

#include <QFileInfo>

namespace cfb::client {
namespace {

const QString PasswordRefused = QStringLiteral("Password Not Accepted");

} // namespace

AccountForm::Check AccountForm::checkHandle() const
{
    if (AccountRules::hasNewHandleLength(handle()))
        return std::nullopt;
    return Refusal{QStringLiteral("Handle Not Accepted"),
        QStringLiteral("The handle must be between %1 and %2 characters long.")
            .arg(AccountRules::MinHandleLength)
            .arg(AccountRules::MaxHandleLength)};
}

AccountForm::Check AccountForm::checkPassword() const
{
    if (!AccountRules::hasPasswordLength(password()))
        return Refusal{PasswordRefused,
            mode == Mode::Registration ? QStringLiteral("The password must be between 6 and 30 characters long.")
                                       : QStringLiteral("The password must be at least 6 characters.")};
    const bool matches = mode == Mode::Registration ? typedConfirmation.trimmed() == password()
                                                    : typedConfirmation == typedPassword;
    if (!matches)
        return Refusal{PasswordRefused, QStringLiteral("The password and confirm password fields do not match.")};
    return std::nullopt;
}

AccountForm::Check AccountForm::checkEmail() const
{
    if (isValidEmail(email()))
        return std::nullopt;
    return Refusal{QStringLiteral("Invalid Email Address"), QStringLiteral("The email address is invalid.")};
}

AccountForm::Check AccountForm::checkAvatar() const
{
    if (avatarPath.isEmpty())
        return std::nullopt;
    const QFileInfo file(avatarPath);
    if (!file.isFile())
        return Refusal{QStringLiteral("File Not Found"), QStringLiteral("The avatar file was not found.")};
    if (file.size() > AccountRules::MaxAvatarSize)
        return avatarTooLarge();
    return std::nullopt;
}

AccountForm::Refusal AccountForm::avatarTooLarge()
{
    return {QStringLiteral("Invalid Avatar File"),
        QStringLiteral("The avatar image must be less than %1 bytes.").arg(AccountRules::MaxAvatarSize)};
}

AccountForm::Check AccountForm::checkNewAccount() const
{
    for (const Check& check : {checkHandle(), checkPassword(), checkAvatar(), checkEmail()}) {
        if (check)
            return check;
    }
    return std::nullopt;
}

bool AccountForm::isValidEmail(const QString& text)
{
    const QString email = text.trimmed();
    return email.size() >= 8 && email.size() <= 120 && email.contains(u'@') && email.contains(u'.')
        && !email.contains(u' ') && !email.contains(u',');
}

} // namespace cfb::client
