#pragma once

#include <QDialog>
#include <QImage>
#include <QSize>

#include <QTemporaryDir>

#include <memory>

class QComboBox;
class QLineEdit;

namespace Ui {
class frmSetup;
}

namespace cfb {
class Confabo;
}

namespace cfb::client {

class MouthMarker;
class ClientSession;

// The setup dialog, modal: the user's profile, the application settings and the video settings.
// With nobody signed in it registers a new account (registration mode); signed in, it changes the
// password, e-mail address, avatar and mouth position (profile mode). Apply and OK store every
// setting and apply what can be applied at once (speech, data port, image quality, frame rate);
// Cancel and the title bar store nothing and put the capture format back. The live preview is
// borrowed from the main window while the dialog is open.
class frmSetup : public QDialog {
    Q_OBJECT
public:
    // main holds the library object and the video; owner is the window the dialog is modal over.
    frmSetup(ClientSession& session, QWidget* owner);
    ~frmSetup() override;

    bool isRegistration() const { return registration_; }
    // Whether a successful registration says so in a box of its own (the default); the first run
    // tells it after signing in instead.
    void setConfirmsRegistration(bool on) { confirmsRegistration_ = on; }
    // An account was registered through this dialog.
    bool hasRegistered() const { return registered_; }
    // The mouth position as stored: the marker's offset from the avatar's corner, in twips of the
    // avatar at its own size.
    int mouthLeft() const;
    int mouthTop() const;

    // Valid: 8 to 120 characters once trimmed, holding "@" and ".", and neither a space nor ",".
    static bool isValidEmail(const QString& text);

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void load();
    void loadCamera();
    void activate();
    void tabSetup_Click();
    void chkAutoLogin_Click();
    void chkSpeech_Click();
    void chkHostname_Click();
    void chkCamera_Click();
    void scrlJPEGImageQuality_Change();
    void cmdBrowse_Click();
    void cmdCamera_Click();
    void cmbFrameRate_Click();
    void cmdFormat_Click();
    void cmdSource_Click();
    void cmdCompression_Click();
    void cmdEditVoices_Click();

    // Apply and OK: false when a check stopped it (a box said why).
    bool SaveSettings(bool closeAfter);
    bool saveProfile(const QString& password, qint64 avatarSize);
    bool registerAccount(const QString& password, qint64 avatarSize);
    void saveApplicationSettings();
    void saveDataPort();
    void saveHostName();
    void saveAutoRun();
    bool checkAvatarFile(const QString& path, qint64 size);
    // The file the account's avatar is sent from: the copy made to fit when the path field still
    // names the picture chosen, else the file the field names.
    QString avatarToSend() const;
    void stop(const QString& text, const QString& title);

    void showAvatar(const QImage& picture);
    void placeMarker(int leftTwips, int topTwips);
    void noCaptureSource(const QString& dialog);
    bool hasCamera() const;
    void fitPreview();
    void returnPreview();
    static void setListText(QComboBox* list, const QString& text);

    std::unique_ptr<Ui::frmSetup> ui;
    ClientSession& session_;
    QWidget* owner_;
    cfb::Confabo* library_;
    bool registration_ = false;
    bool confirmsRegistration_ = true;
    bool registered_ = false;
    // The installed program the autostart entry would start; empty when Confabo is not installed.
    QString installedProgram_;
    bool activated_ = false;
    bool previewReturned_ = false;
    MouthMarker* picMouth = nullptr;
    double avatarScale_ = 1.0;
    // A chosen picture larger than an avatar may be is sent as a smaller copy, kept in a folder
    // of the dialog's own until it closes.
    QString chosenAvatar_;
    QString fittedAvatar_;
    std::unique_ptr<QTemporaryDir> fittedFolder_;
    QSize savedFrameSize_;
    int savedFrameRate_ = 0;
};

} // namespace cfb::client
