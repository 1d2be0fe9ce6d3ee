#pragma once

#include "session/SecurityMark.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class ClientSession;

// "Verify <handle>": the safety number of the user's key and the buddy's, in three rows of four
// groups and as a QR code, to compare with the buddy in person or on a call, and "Verified" to
// say they matched. A buddy whose key changed gets the number of the new key and "Accept New
// Key"; one whose key went missing gets "Forget Key"; one without a key is told that messages to
// them are not encrypted, with nothing to verify. Everything is asked of the window's library
// object, which makes no service request. While it is open it is the session's current window.
class VerifyDialog : public QDialog {
    Q_OBJECT
public:
    VerifyDialog(ClientSession& session, std::shared_ptr<cfb::Buddy> buddy, QWidget* owner);
    ~VerifyDialog() override;

    void done(int result) override;

    // The number shown, "12345 67890 ..." as the library gives it; empty while there is none.
    QString shownNumber() const { return number_; }

private:
    // Shows the buddy as the library sees them now.
    void refresh();
    void showNumber(const QString& number);

    ClientSession& session_;
    std::shared_ptr<cfb::Buddy> buddy_;
    QString handle_;
    QString number_;
    QPointer<QWidget> previousWindow_; // the session's current window before this one
    QLabel* explanation_ = nullptr;
    QLabel* digits_ = nullptr;
    QLabel* code_ = nullptr;
    QCheckBox* verified_ = nullptr;
    QPushButton* accept_ = nullptr;
    QPushButton* forget_ = nullptr;
};

} // namespace cfb::client
