#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmSetup;
}

namespace cfb {
class Confabo;
}

namespace cfb::client {

class ApplicationTab;
class AudioTab;
class ClientSession;
class ProfileTab;
class VideoTab;

// The setup dialog, modal: the user's profile, the application settings, the video settings and
// the devices of calls, one tab each (ProfileTab, ApplicationTab, VideoTab, AudioTab). With nobody
// signed in it registers a new account (registration mode); signed in, it changes the password,
// e-mail address, avatar and mouth position (profile mode). Apply and OK store every setting and
// apply what can be applied at once (speech, data port, image quality, frame rate, the devices of
// the next call); Cancel and the title bar store nothing and put the capture format back. The live preview is borrowed from the main window while the
// dialog is open.
class frmSetup : public QDialog {
    Q_OBJECT
public:
    // session holds the library object and the video; owner is the window the dialog is modal over.
    frmSetup(ClientSession& session, QWidget* owner);
    ~frmSetup() override;

    bool isRegistration() const { return registration_; }
    // Whether a successful registration says so in a box of its own (the default); the first run
    // tells it after signing in instead.
    void setConfirmsRegistration(bool on);
    // An account was registered through this dialog.
    bool hasRegistered() const { return registered_; }
    // The mouth position as stored: the marker's offset from the avatar's corner, in twips of the
    // avatar at its own size.
    int mouthLeft() const;
    int mouthTop() const;

    void done(int result) override;

signals:
    // Apply or OK stored everything (the service took the profile's changes); OK closes after it.
    void saved();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void activate();
    void showPreviewOfTab();
    void accountRegistered(const QString& handle, const QString& password);
    // Apply and OK; a check or the service may stop it (a box says why), and saved() follows
    // otherwise.
    void SaveSettings(bool closeAfter);
    void returnPreview();

    std::unique_ptr<Ui::frmSetup> ui;
    ClientSession& session_;
    QWidget* owner_;
    cfb::Confabo* library_;
    ProfileTab* profile_;
    ApplicationTab* application_;
    VideoTab* video_;
    AudioTab* audio_;
    bool registration_ = false;
    bool registered_ = false;
    bool activated_ = false;
    bool previewReturned_ = false;
};

} // namespace cfb::client
