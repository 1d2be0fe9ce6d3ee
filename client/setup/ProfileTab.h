#pragma once

#include "setup/AccountForm.h"
#include "setup/AvatarPicker.h"

#include <QObject>

#include <functional>

class QLineEdit;

namespace cfb {
class Confabo;
}

namespace cfb::client {

class ClientSession;

// The setup dialog's "My Profile" tab. In registration mode Apply and OK create the account from
// its fields; in profile mode they change the signed-in user's password and e-mail address when
// these differ from the account's, and always send the avatar and the mouth position.
class ProfileTab : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QLineEdit* txtHandle;
        QLineEdit* txtPassword;
        QLineEdit* txtConfirmPassword;
        QLineEdit* txtEmail;
        AvatarPicker::Widgets avatar;
    };

    // dialog owns the widgets and the boxes the tab shows.
    ProfileTab(const Widgets& widgets, ClientSession& session, QWidget* dialog);

    // The fields from the signed-in account, or for a new one the handle the profile names.
    void load(AccountForm::Mode mode);
    void showPreview() { avatar_.showPreview(); }
    // Apply and OK's part, asked of the service one step after the other: saved runs once all
    // went, never when a check or the service stopped it (a box said why).
    using Saved = std::function<void()>;
    void save(Saved saved);

    // Whether a successful registration says so in a box of its own (the default).
    void setConfirmsRegistration(bool on) { confirmsRegistration_ = on; }
    int mouthLeft() const { return avatar_.mouthLeft(); }
    int mouthTop() const { return avatar_.mouthTop(); }

signals:
    // The service took the new account; password as it was sent, before enciphering.
    void registered(const QString& handle, const QString& password);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AccountForm typed() const;
    void registerAccount(const AccountForm& form, Saved saved);
    void changePassword(const AccountForm& form, Saved saved);
    void changeEmail(const AccountForm& form, Saved saved);
    void sendAvatar(const AccountForm& form, Saved saved);
    // Says why, when the check refused: true then.
    bool refused(const AccountForm::Check& check);

    const Widgets ui_;
    ClientSession& session_;
    cfb::Confabo* library_;
    QWidget* dialog_;
    AvatarPicker avatar_;
    AccountForm::Mode mode_ = AccountForm::Mode::Registration;
    bool confirmsRegistration_ = true;
};

} // namespace cfb::client
