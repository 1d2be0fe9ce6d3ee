#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmLogin;
}

namespace cfb::client {

class SessionDialogs;

// The sign-in window, shown modally by the sign-in sequence. Login stores the handle, the
// enciphered password and the automatic sign-in choice and closes with Accepted; Cancel and any
// close by the user close with Rejected, after which the caller ends the program. Nothing is
// checked or sent here: the sign-in itself uses the stored values. Register opens the setup
// dialog through dialogs.
class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(SessionDialogs& dialogs, QWidget* parent = nullptr);
    ~frmLogin() override;

    // The password as the window shows it: the stored one deciphered, spaces at either end of the
    // deciphered text trimmed, zero characters removed.
    static QString rememberedPassword(const QString& enciphered);

    // A registration made from this window fills in the new handle and password.
    void setCredentials(const QString& handle, const QString& password);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void cmdOK_Click();
    void cmdRegister_Click();
    void cmdCancel_Click();

    std::unique_ptr<Ui::frmLogin> ui;
    SessionDialogs& dialogs_;
};

} // namespace cfb::client
