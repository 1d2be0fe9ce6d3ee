#pragma once

#include <QString>

#include <optional>

namespace cfb::client {

// The account fields of the setup dialog as the user typed them, and the rules they must pass
// before anything goes to the service. Registering a new account and changing the signed-in
// user's profile share the rules; the two differ only where the mode says so: a new account's
// confirmation is compared once both fields are trimmed, a profile's as typed, and the two word
// a password of the wrong length differently.
struct AccountForm {
    enum class Mode { Registration, Profile };

    // Why a field is refused: the box's title and text.
    struct Refusal {
        QString title;
        QString text;
        bool operator==(const Refusal&) const = default;
    };
    using Check = std::optional<Refusal>;

    Mode mode = Mode::Registration;
    QString typedHandle;
    QString typedPassword;
    QString typedConfirmation;
    QString typedEmail;
    // The picture file to send; empty for none.
    QString avatarPath;

    // The fields as they are sent: leading and trailing spaces removed.
    QString handle() const { return typedHandle.trimmed(); }
    QString password() const { return typedPassword.trimmed(); }
    QString email() const { return typedEmail.trimmed(); }

    // A new account's handle has 6 to 30 characters.
    Check checkHandle() const;
    // The password has 6 to 30 characters and the confirmation matches it.
    Check checkPassword() const;
    Check checkEmail() const;
    // A named avatar file exists and is no larger than an avatar may be.
    Check checkAvatar() const;
    // The refusal of a picture file larger than an avatar may be.
    static Refusal avatarTooLarge();
    // A new account's checks, in the order the user is told: handle, password, avatar, e-mail.
    Check checkNewAccount() const;

    // Valid: 8 to 120 characters once trimmed, holding "@" and ".", and neither a space nor ",".
    static bool isValidEmail(const QString& text);
};

} // namespace cfb::client
