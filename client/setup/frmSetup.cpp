#include "setup/frmSetup.h"

#include "ui_frmSetup.h"

#include "common/BusyCursor.h"
#include "common/LocalErrorHandler.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"
#include "session/frmLogin.h"
#include "setup/ApplicationTab.h"
#include "setup/AudioTab.h"
#include "setup/ProfileTab.h"
#include "setup/SetupHelpers.h"
#include "setup/VideoTab.h"
#include "video/MainVideo.h"

#include <QTimer>

namespace cfb::client {

frmSetup::frmSetup(ClientSession& session, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::frmSetup>())
    , session_(session)
    , owner_(owner)
    , library_(session.library())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    profile_ = new ProfileTab({.txtHandle = ui->txtHandle,
                                  .txtPassword = ui->txtPassword,
                                  .txtConfirmPassword = ui->txtConfirmPassword,
                                  .txtEmail = ui->txtEmail,
                                  .avatar = {.fraAvatar = ui->fraAvatar,
                                      .imgAvatar = ui->imgAvatar,
                                      .picAvatar = ui->picAvatar,
                                      .txtAvatarFile = ui->txtAvatarFile,
                                      .cmdBrowse = ui->cmdBrowse,
                                      .chkCamera = ui->chkCamera,
                                      .cmdCamera = ui->cmdCamera}},
        session_, this);
    application_ = new ApplicationTab({.chkTaskbar = ui->chkTaskbar,
                                          .chkAutoRun = ui->chkAutoRun,
                                          .chkErrors = ui->chkErrors,
                                          .chkAutoLogin = ui->chkAutoLogin,
                                          .cmbPoll = ui->cmbPoll,
                                          .chkSpeech = ui->chkSpeech,
                                          .cmbVoice = ui->cmbVoice,
                                          .cmdEditVoices = ui->cmdEditVoices,
                                          .chkHostname = ui->chkHostname,
                                          .txtHostname = ui->txtHostname,
                                          .txtDataPort = ui->txtDataPort},
        session_, this);
    video_ = new VideoTab({.picVideo = ui->picVideo,
                              .cmbFrameRate = ui->cmbFrameRate,
                              .txtJPEGQuality = ui->txtJPEGQuality,
                              .scrlJPEGImageQuality = ui->scrlJPEGImageQuality,
                              .cmdFormat = ui->cmdFormat,
                              .cmdSource = ui->cmdSource,
                              .cmdCompression = ui->cmdCompression},
        session_, this);

    audio_ = new AudioTab(
        {.cmbAudioInput = ui->cmbAudioInput, .cmbAudioOutput = ui->cmbAudioOutput, .lblAudioNote = ui->lblAudioNote}, this);

    connect(profile_, &ProfileTab::registered, this, &frmSetup::accountRegistered);
    connect(ui->tabSetup, &QTabWidget::currentChanged, this, &frmSetup::showPreviewOfTab);
    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { SaveSettings(true); });
    connect(ui->cmdApply, &QPushButton::clicked, this, [this] { SaveSettings(false); });
    connect(ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    session_.setCurrentWindow(this);
    withErrorReport("Setup", [this] { load(); });
}

frmSetup::~frmSetup()
{
    returnPreview();
}

void frmSetup::setConfirmsRegistration(bool on)
{
    profile_->setConfirmsRegistration(on);
}

int frmSetup::mouthLeft() const
{
    return profile_->mouthLeft();
}

int frmSetup::mouthTop() const
{
    return profile_->mouthTop();
}

void frmSetup::load()
{
    registration_ = library_->Status() == CFB_OFFLINE;
    const AccountForm::Mode mode = registration_ ? AccountForm::Mode::Registration : AccountForm::Mode::Profile;
    // The welcome of a new user heads the registration form.
    ui->lblWelcome->setVisible(registration_);

    application_->load(mode);
    video_->load();
    audio_->load();
    if (MainVideo* camera = SetupHelpers::camera(session_))
        camera->setKeepLastFrame(true); // for Save Pic
    else
        ui->tabSetup->removeTab(ui->tabSetup->indexOf(ui->tabVideo));
    profile_->load(mode);

    if (registration_) {
        setWindowTitle(QStringLiteral("Confabo Registration"));
        ui->cmdApply->setEnabled(false);
    }
}

void frmSetup::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Once the window is up, as it becomes the active one.
    if (!activated_) {
        activated_ = true;
        QTimer::singleShot(0, this, [this] { withErrorReport("Setup", [this] { activate(); }); });
    }
}

// Runs once per showing: dialogs this one opens (file choosers, the video dialogs) hand the
// activation back when they close, and must not reset what the user chose meanwhile.
void frmSetup::activate()
{
    application_->activate();
    video_->activate();
    showPreviewOfTab();
}

// The live camera goes with the tab that shows it.
void frmSetup::showPreviewOfTab()
{
    QWidget* page = ui->tabSetup->currentWidget();
    if (page == ui->tabProfile)
        profile_->showPreview();
    else if (page == ui->tabVideo)
        video_->showPreview();
}

void frmSetup::accountRegistered(const QString& handle, const QString& password)
{
    registered_ = true;
    if (auto* login = qobject_cast<frmLogin*>(owner_))
        login->setCredentials(handle, password);
}

void frmSetup::SaveSettings(bool closeAfter)
{
    // The busy pointer stays until the profile's requests have been answered.
    auto busy = std::make_shared<BusyCursor>();
    withErrorReport("SaveSettings", [&] {
        profile_->save([this, busy, closeAfter] {
            withErrorReport("SaveSettings", [&] {
                application_->save();
                video_->save();
                audio_->save();
                busy->release();
                emit saved();
                if (closeAfter)
                    accept();
            });
        });
    });
}

void frmSetup::returnPreview()
{
    if (previewReturned_)
        return;
    previewReturned_ = true;
    if (session_.video()) {
        session_.video()->showPreviewIn(nullptr);
        session_.video()->setKeepLastFrame(false);
    }
}

void frmSetup::done(int result)
{
    if (result == QDialog::Rejected)
        video_->restoreFormat();
    returnPreview();
    session_.setCurrentWindow(nullptr);
    QDialog::done(result);
}

} // namespace cfb::client
