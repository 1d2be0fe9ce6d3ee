#include "setup/frmSetup.h"

#include "ui_frmSetup.h"

#include "chat/MouthPlacement.h"
#include "common/BusyCursor.h"
#include "common/LocalErrorHandler.h"
#include "common/ServiceFailure.h"
#include "common/Twips.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "desktop/AutoStart.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/AccountRules.h"
#include "protocol/SkipJack.h"
#include "session/ClientSession.h"
#include "session/StoredPassword.h"
#include "session/frmLogin.h"
#include "setup/AvatarFit.h"
#include "setup/MouthMarker.h"
#include "speech/SpeechEngine.h"
#include "video/CaptureSource.h"
#include "video/MainVideo.h"
#include "video/VideoCompressionDialog.h"
#include "video/VideoFormatDialog.h"
#include "video/VideoSourceDialog.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace cfb::client {
namespace {

const QStringList PollingIntervals = {QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("90"),
    QStringLiteral("120"), QStringLiteral("180"), QStringLiteral("240")};
const QStringList FrameRates = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10"),
    QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("45")};

const QString AvatarDialogTitle = QStringLiteral("Select Avatar");
// The largest the avatar is shown; a bigger picture is shown smaller and the marker's offsets
// are scaled back to the picture's own size.
constexpr int AvatarAreaWidth = 200;
constexpr int AvatarAreaHeight = 170;

QString oneOrZero(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// A box is checked by a stored "1"; anything else, a missing key included, leaves it unchecked.
bool isOn(const Setting& setting)
{
    return setting.read(QString()).trimmed() == QLatin1String("1");
}

QString trimmed(const QLineEdit* field)
{
    return field->text().trimmed();
}

} // namespace

frmSetup::frmSetup(ClientSession& session, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::frmSetup>())
    , session_(session)
    , owner_(owner)
    , library_(session.library())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    picMouth = new MouthMarker(ui->imgAvatar, ui->fraAvatar);

    for (QLineEdit* field : {ui->txtHandle, ui->txtPassword, ui->txtConfirmPassword, ui->txtEmail, ui->txtAvatarFile,
             ui->txtDataPort, ui->txtJPEGQuality})
        field->installEventFilter(this);
    ui->scrlJPEGImageQuality->setRange(1, 99);
    // Up is better quality.
    ui->scrlJPEGImageQuality->setInvertedAppearance(true);
    ui->scrlJPEGImageQuality->setInvertedControls(true);

    connect(ui->tabSetup, &QTabWidget::currentChanged, this, [this](int) { tabSetup_Click(); });
    connect(ui->chkAutoLogin, &QCheckBox::toggled, this, [this] { chkAutoLogin_Click(); });
    connect(ui->chkSpeech, &QCheckBox::toggled, this, [this] { chkSpeech_Click(); });
    connect(ui->chkHostname, &QCheckBox::toggled, this, [this] { chkHostname_Click(); });
    connect(ui->chkCamera, &QCheckBox::toggled, this, [this] { chkCamera_Click(); });
    connect(ui->scrlJPEGImageQuality, &QScrollBar::valueChanged, this, [this] { scrlJPEGImageQuality_Change(); });
    connect(ui->cmdBrowse, &QPushButton::clicked, this, &frmSetup::cmdBrowse_Click);
    connect(ui->cmdCamera, &QPushButton::clicked, this, &frmSetup::cmdCamera_Click);
    connect(ui->cmbFrameRate, &QComboBox::activated, this, [this](int) { cmbFrameRate_Click(); });
    connect(ui->cmdFormat, &QPushButton::clicked, this, &frmSetup::cmdFormat_Click);
    connect(ui->cmdSource, &QPushButton::clicked, this, &frmSetup::cmdSource_Click);
    connect(ui->cmdCompression, &QPushButton::clicked, this, &frmSetup::cmdCompression_Click);
    connect(ui->cmdEditVoices, &QPushButton::clicked, this, &frmSetup::cmdEditVoices_Click);
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

void frmSetup::load()
{
    registration_ = library_->Status() == CFB_OFFLINE;
    // The welcome of a new user heads the registration form.
    ui->lblWelcome->setVisible(registration_);

    ui->cmbPoll->addItems(PollingIntervals);
    ui->cmbFrameRate->addItems(FrameRates);
    if (SpeechEngine* speech = session_.speech()) {
        for (int voice = 1;; ++voice) {
            const QString name = speech->voiceName(voice);
            if (name.isEmpty())
                break;
            ui->cmbVoice->addItem(name);
        }
        ui->cmbVoice->setCurrentIndex(speech->currentVoice() - 1);
    }

    installedProgram_ = AutoStart::installedProgram();
    ui->chkAutoLogin->setChecked(isOn(Settings::AutoLogin));
    ui->chkAutoRun->setChecked(isOn(Settings::AutoRun) && !installedProgram_.isEmpty());
    ui->chkTaskbar->setChecked(isOn(Settings::Taskbar));
    ui->chkSpeech->setChecked(isOn(Settings::EnableSpeech));
    ui->chkErrors->setChecked(isOn(Settings::DisplayErrors));
    const QString quality = Settings::ImageQuality.read(QStringLiteral("75"));
    ui->txtJPEGQuality->setText(quality);
    ui->scrlJPEGImageQuality->setValue(quality.toInt());
    ui->txtJPEGQuality->setText(quality); // the scroll bar wrote its clamped value
    // The library's default, so that every installation left at its defaults uses one port.
    ui->txtDataPort->setText(Settings::DataPort.read());
    ui->txtHostname->setText(Settings::HostName.read(QString()));
    ui->chkHostname->setChecked(!ui->txtHostname->text().isEmpty());
    chkHostname_Click();
    chkSpeech_Click();
    chkAutoLogin_Click();

    loadCamera();

    if (!registration_) {
        ui->txtHandle->setText(library_->handle());
        ui->txtHandle->setReadOnly(true);
        QPalette palette = ui->txtHandle->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
        ui->txtHandle->setPalette(palette);
        const QString password = SkipJack::DecipherPassword(library_->Password());
        ui->txtPassword->setText(password);
        ui->txtConfirmPassword->setText(password);
        ui->txtEmail->setText(library_->Email());
        showAvatar(library_->Avatar().isNull() ? Buddy::DefaultAvatar() : library_->Avatar());
        const QPoint mouth(library_->MouthLeft(), library_->MouthTop());
        // A position never set (an account starts at 0, 0) is offered where the default mouth is.
        const QPoint marker = mouth.isNull() ? MouthPlacement::DefaultAvatarMouth : mouth;
        placeMarker(marker.x(), marker.y());
    } else {
        setWindowTitle(QStringLiteral("Confabo Registration"));
        // A handle the profile names already (scripts/run --second-user NAME writes it) is offered.
        ui->txtHandle->setText(Settings::Handle.read().trimmed());
        // Starting at log-in is the user's choice to make.
        ui->chkAutoLogin->setChecked(true);
        ui->cmdApply->setEnabled(false);
        // The picture buddies see of an account without one, the marker on its lips.
        showAvatar(Buddy::DefaultAvatar());
        placeMarker(MouthPlacement::DefaultAvatarMouth.x(), MouthPlacement::DefaultAvatarMouth.y());
    }
}

bool frmSetup::hasCamera() const
{
    return session_.video() && session_.video()->hasSource();
}

void frmSetup::loadCamera()
{
    if (hasCamera()) {
        MainVideo* video = session_.video();
        video->setKeepLastFrame(true);
        video->showPreviewIn(ui->picAvatar);
        savedFrameSize_ = video->source()->frameSize();
        savedFrameRate_ = video->source()->frameRate();
        ui->chkCamera->show();
    } else {
        ui->tabSetup->removeTab(ui->tabSetup->indexOf(ui->tabVideo));
        ui->chkCamera->hide();
    }
    chkCamera_Click();
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
    setListText(ui->cmbPoll, Settings::PollingInterval.read(QStringLiteral("30")));
    setListText(ui->cmbFrameRate, Settings::FrameRate.read(QStringLiteral("10")));
    chkAutoLogin_Click();
    tabSetup_Click();
}

void frmSetup::setListText(QComboBox* list, const QString& text)
{
    int index = list->findText(text);
    if (index < 0) {
        list->addItem(text);
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

void frmSetup::tabSetup_Click()
{
    if (!hasCamera())
        return;
    QWidget* page = ui->tabSetup->currentWidget();
    if (page == ui->tabProfile)
        session_.video()->showPreviewIn(ui->picAvatar);
    else if (page == ui->tabVideo)
        session_.video()->showPreviewIn(ui->picVideo);
}

void frmSetup::chkAutoLogin_Click()
{
    ui->chkAutoRun->setEnabled(ui->chkAutoLogin->isChecked() && !installedProgram_.isEmpty());
    if (!ui->chkAutoLogin->isChecked())
        ui->chkAutoRun->setChecked(false);
    // A greyed box says why it is greyed.
    ui->chkAutoRun->setToolTip(installedProgram_.isEmpty()
            ? QStringLiteral("Confabo is not installed, so there is no program to start when you log in. Install "
                             "it (cmake --install) to use this.")
            : !ui->chkAutoLogin->isChecked()
            ? QStringLiteral("Check \"Automatically log in when Confabo starts\" first: started at log-in, Confabo "
                             "signs in without asking.")
            : QStringLiteral("Start Confabo when you log in to your desktop."));
}

void frmSetup::chkSpeech_Click()
{
    ui->cmbVoice->setEnabled(ui->chkSpeech->isChecked());
}

void frmSetup::chkHostname_Click()
{
    const bool on = ui->chkHostname->isChecked();
    ui->txtHostname->setEnabled(on);
    QPalette palette = ui->txtHostname->palette();
    const QColor background = on ? QColor(Qt::white) : palette.color(QPalette::Inactive, QPalette::Window);
    palette.setColor(QPalette::Active, QPalette::Base, background);
    palette.setColor(QPalette::Inactive, QPalette::Base, background);
    palette.setColor(QPalette::Disabled, QPalette::Base, background);
    ui->txtHostname->setPalette(palette);
    if (on && isVisible())
        ui->txtHostname->setFocus();
}

void frmSetup::chkCamera_Click()
{
    const bool camera = ui->chkCamera->isChecked();
    ui->picAvatar->setVisible(camera);
    ui->cmdCamera->setVisible(camera);
    ui->imgAvatar->setVisible(!camera);
    picMouth->setVisible(!camera);
    if (camera)
        ui->picAvatar->raise();
}

void frmSetup::scrlJPEGImageQuality_Change()
{
    ui->txtJPEGQuality->setText(QString::number(ui->scrlJPEGImageQuality->value()));
}

bool frmSetup::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == ui->txtDataPort || watched == ui->txtJPEGQuality)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        const bool passes = text.isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab
            || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape;
        if (!passes && (text.size() != 1 || !(text.at(0).isDigit() || text.at(0) == u'.' || text.at(0) == u'\b'))) {
            UserDialogs::current().beep();
            return true;
        }
    } else if (event->type() == QEvent::FocusIn && watched != ui->txtDataPort && watched != ui->txtJPEGQuality) {
        // After the event: a mouse press that gave the focus would place the caret over it.
        auto* field = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, field, [field] { modMain::SelectAllText(field); });
    }
    return QDialog::eventFilter(watched, event);
}

void frmSetup::showAvatar(const QImage& picture)
{
    const QSize size = picture.size();
    avatarScale_ = std::min({1.0, double(AvatarAreaWidth) / std::max(1, size.width()),
        double(AvatarAreaHeight) / std::max(1, size.height())});
    const QSize shown(std::max(1, int(std::lround(size.width() * avatarScale_))),
        std::max(1, int(std::lround(size.height() * avatarScale_))));
    const int left = mouthLeft();
    const int top = mouthTop();
    // The frame has room for the largest picture shown, whatever is shown: the form keeps its width.
    ui->fraAvatar->setFixedSize(std::max(AvatarAreaWidth, ui->picAvatar->width()) + 8,
        std::max(AvatarAreaHeight, ui->picAvatar->height()) + 8);
    ui->imgAvatar->setGeometry(QRect(QPoint(4, 4), shown));
    ui->imgAvatar->setPixmap(
        QPixmap::fromImage(picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    placeMarker(left, top);
}

void frmSetup::placeMarker(int leftTwips, int topTwips)
{
    const QRect avatar = ui->imgAvatar->geometry();
    // Strictly inside the picture, as a drag keeps it.
    const auto inside = [](int wanted, int from, int span, int marker) {
        const int highest = from + span - marker - 1;
        return highest <= from + 1 ? from + 1 : std::clamp(wanted, from + 1, highest);
    };
    const int x = avatar.left() + int(std::lround(leftTwips / double(TwipsPerPixel) * avatarScale_));
    const int y = avatar.top() + int(std::lround(topTwips / double(TwipsPerPixel) * avatarScale_));
    picMouth->move(inside(x, avatar.left(), avatar.width(), picMouth->width()),
        inside(y, avatar.top(), avatar.height(), picMouth->height()));
    picMouth->raise();
}

int frmSetup::mouthLeft() const
{
    if (!picMouth)
        return 0;
    const int pixels = picMouth->x() - ui->imgAvatar->x();
    return int(std::lround(pixels / avatarScale_)) * TwipsPerPixel;
}

int frmSetup::mouthTop() const
{
    if (!picMouth)
        return 0;
    const int pixels = picMouth->y() - ui->imgAvatar->y();
    return int(std::lround(pixels / avatarScale_)) * TwipsPerPixel;
}

void frmSetup::cmdBrowse_Click()
{
    withErrorReport("Browse", [this] {
        const QString path = UserDialogs::current().openFileName(this, AvatarDialogTitle,
            QStringLiteral("All Images (*.gif *.jpg *.bmp *.png);;GIF Images (*.gif);;JPEG Images (*.jpg);;"
                           "All Files (*)"));
        if (path.isEmpty())
            return;
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QImage picture = reader.read();
        if (picture.isNull()) {
            modMain::ReportError(QStringLiteral("Browse: %1 cannot be shown (%2)").arg(path, reader.errorString()),
                modMain::EventError, true);
            return;
        }
        chosenAvatar_ = path;
        fittedAvatar_.clear();
        QImage shown = picture;
        if (QFileInfo(path).size() > Confabo::MaxAvatarSize) {
            // Made smaller now, so that the preview and the mouth marker show the avatar as sent.
            const QByteArray fitted = AvatarFit::fit(picture, Confabo::MaxAvatarSize);
            if (fitted.isEmpty()) {
                stop(QStringLiteral("The avatar image must be less than %1 bytes.").arg(Confabo::MaxAvatarSize),
                    QStringLiteral("Invalid Avatar File"));
            } else {
                if (!fittedFolder_)
                    fittedFolder_ = std::make_unique<QTemporaryDir>();
                QFile copy(fittedFolder_->filePath(QStringLiteral("avatar.jpg")));
                if (!fittedFolder_->isValid() || !copy.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    || copy.write(fitted) != fitted.size() || !copy.flush()) {
                    modMain::ReportError(QStringLiteral("Browse: the smaller copy of %1 cannot be written (%2)")
                                             .arg(path, copy.errorString()),
                        modMain::EventError, true);
                } else {
                    fittedAvatar_ = copy.fileName();
                    shown = QImage::fromData(fitted);
                }
            }
        }
        showAvatar(shown);
        ui->txtAvatarFile->setText(path);
    });
}

QString frmSetup::avatarToSend() const
{
    const QString named = trimmed(ui->txtAvatarFile);
    return !fittedAvatar_.isEmpty() && named == chosenAvatar_ ? fittedAvatar_ : named;
}

// The current camera picture saved under the chosen name, in the format its extension names
// (JPEG for .jpg and for names without a picture extension), and taken as the avatar.
void frmSetup::cmdCamera_Click()
{
    withErrorReport("Save Pic", [this] {
        const QString path = UserDialogs::current().saveFileName(
            this, AvatarDialogTitle, QStringLiteral("JPEG Images (*.jpg);;All Files (*)"));
        if (!path.isEmpty()) {
            const QImage picture = hasCamera() ? session_.video()->snapshot() : QImage();
            const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
            const QByteArray format
                = QImageWriter::supportedImageFormats().contains(suffix) ? suffix : QByteArrayLiteral("jpg");
            QImageWriter writer(path, format);
            if (picture.isNull()) {
                modMain::ReportError(
                    QStringLiteral("Save Pic: the camera has no picture yet"), modMain::EventError, true);
            } else if (!writer.write(picture)) {
                modMain::ReportError(
                    QStringLiteral("Save Pic: %1 cannot be written (%2)").arg(path, writer.errorString()),
                    modMain::EventError, true);
            } else {
                showAvatar(picture);
                ui->txtAvatarFile->setText(path);
            }
        }
        ui->chkCamera->setChecked(false);
    });
}

void frmSetup::cmbFrameRate_Click()
{
    withErrorReport("Frame Rate", [this] {
        const int rate = ui->cmbFrameRate->currentText().toInt();
        if (hasCamera() && rate > 0)
            session_.video()->source()->setFrameRate(rate);
    });
}

void frmSetup::noCaptureSource(const QString&)
{
    UserDialogs::current().messageBox(this, QStringLiteral("Confabo cannot locate your video camera or software."),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, QStringLiteral("Confabo - Video Settings"));
}

void frmSetup::cmdFormat_Click()
{
    withErrorReport("Video Format", [this] {
        CaptureSource* source = hasCamera() ? session_.video()->source() : nullptr;
        if (!VideoFormatDialog::showFor(source, this))
            return noCaptureSource(QStringLiteral("Video Format"));
        emit session_.videoFormatShown(session_.video()->formatText());
        fitPreview();
    });
}

void frmSetup::cmdSource_Click()
{
    withErrorReport("Video Source", [this] {
        CaptureSource* source = hasCamera() ? session_.video()->source() : nullptr;
        QString chosen;
        if (!VideoSourceDialog::showFor(source, this, &chosen))
            return noCaptureSource(QStringLiteral("Video Source"));
        if (!chosen.isEmpty() && chosen != session_.video()->source()->name()) {
            emit session_.videoSourceChanged();
            if (hasCamera()) {
                savedFrameSize_ = session_.video()->source()->frameSize();
                savedFrameRate_ = session_.video()->source()->frameRate();
            }
        }
        fitPreview();
    });
}

void frmSetup::cmdCompression_Click()
{
    withErrorReport("Video Compression", [this] {
        CaptureSource* source = hasCamera() ? session_.video()->source() : nullptr;
        if (!VideoCompressionDialog::showFor(source, this, source ? &session_.video()->sender() : nullptr))
            return noCaptureSource(QStringLiteral("Video Compression"));
        const QString quality = Settings::ImageQuality.read(QStringLiteral("75"));
        ui->scrlJPEGImageQuality->setValue(quality.toInt());
        ui->txtJPEGQuality->setText(quality);
        fitPreview();
    });
}

void frmSetup::fitPreview()
{
    if (hasCamera())
        session_.video()->showPreviewIn(ui->picVideo);
}

void frmSetup::cmdEditVoices_Click()
{
    withErrorReport("Edit Voices", [this] {
        if (SpeechEngine* speech = session_.speech())
            speech->showVoicesDialog(this, QStringLiteral("Confabo Voices"));
    });
}

void frmSetup::stop(const QString& text, const QString& title)
{
    QGuiApplication::restoreOverrideCursor();
    UserDialogs::current().messageBox(this, text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, title);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

bool frmSetup::SaveSettings(bool closeAfter)
{
    bool saved = false;
    withErrorReport("SaveSettings", [&] {
        BusyCursor busy;
        const QString password = trimmed(ui->txtPassword);
        const QFileInfo avatarFile(avatarToSend());
        const qint64 avatarSize = !avatarFile.filePath().isEmpty() && avatarFile.isFile() ? avatarFile.size() : 0;

        if (!registration_ ? !saveProfile(password, avatarSize) : !registerAccount(password, avatarSize))
            return;
        saveApplicationSettings();
        saved = true;
        busy.release();
        if (closeAfter)
            accept();
    });
    return saved;
}

bool frmSetup::checkAvatarFile(const QString& path, qint64 size)
{
    if (!QFileInfo(path).isFile()) {
        stop(QStringLiteral("The avatar file was not found."), QStringLiteral("File Not Found"));
        return false;
    }
    if (size > Confabo::MaxAvatarSize) {
        stop(QStringLiteral("The avatar image must be less than %1 bytes.").arg(Confabo::MaxAvatarSize),
            QStringLiteral("Invalid Avatar File"));
        return false;
    }
    return true;
}

bool frmSetup::saveProfile(const QString& password, qint64 avatarSize)
{
    const QString illegal = QStringLiteral("Password Not Accepted");
    const QString enciphered = SkipJack::EncipherPassword(password);
    if (enciphered != library_->Password()) {
        if (!AccountRules::hasPasswordLength(password)) {
            stop(QStringLiteral("The password must be at least 6 characters."), illegal);
            return false;
        }
        if (ui->txtPassword->text() != ui->txtConfirmPassword->text()) {
            stop(QStringLiteral("The password and confirm password fields do not match."), illegal);
            return false;
        }
        if (!session_
                 .call<bool>("Change Password", this,
                     [enciphered](Confabo& service) { return service.ChangePassword(enciphered); })
                 .value_or(false)) {
            stop(QStringLiteral("Unable to change the password at this time. Please try again later."),
                QStringLiteral("Confabo Change Password Error"));
            return false;
        }
        StoredPassword::write(enciphered);
    }

    const QString email = trimmed(ui->txtEmail);
    if (email != library_->Email()) {
        if (!isValidEmail(email)) {
            stop(QStringLiteral("The email address is invalid."), QStringLiteral("Invalid Email Address"));
            return false;
        }
        // A change the service did not take is said, as for the password, and the dialog stays.
        if (!session_.call<bool>("Change Email", this, [email](Confabo& service) { return service.ChangeEmail(email); })
                 .value_or(false)) {
            stop(QStringLiteral("Unable to change the email address at this time. Please try again later."),
                QStringLiteral("Confabo Change Email Error"));
            return false;
        }
    }

    const QString avatar = avatarToSend();
    if (!avatar.isEmpty()) {
        if (!checkAvatarFile(avatar, avatarSize))
            return false;
        const int16_t left = int16_t(mouthLeft());
        const int16_t top = int16_t(mouthTop());
        if (!session_
                 .call<bool>("Avatar", this,
                     [avatar, left, top](Confabo& service) { return service.SetAvatar(avatar, left, top); })
                 .value_or(false))
            stop(QStringLiteral("The avatar image failed to update. Please try again later"),
                QStringLiteral("Avatar Upload Failed"));
    } else {
        const int16_t left = int16_t(mouthLeft());
        const int16_t top = int16_t(mouthTop());
        session_.call<bool>(
            "Avatar", this, [left, top](Confabo& service) { return service.SetAvatar(QString(), left, top); });
    }
    return true;
}

bool frmSetup::registerAccount(const QString& password, qint64 avatarSize)
{
    const QString handle = trimmed(ui->txtHandle);
    if (!AccountRules::hasNewHandleLength(handle)) {
        stop(QStringLiteral("The handle must be between %1 and %2 characters long.")
                 .arg(AccountRules::MinHandleLength)
                 .arg(AccountRules::MaxHandleLength),
            QStringLiteral("Handle Not Accepted"));
        return false;
    }
    const QString illegal = QStringLiteral("Password Not Accepted");
    if (!AccountRules::hasPasswordLength(password)) {
        stop(QStringLiteral("The password must be between 6 and 30 characters long."), illegal);
        return false;
    }
    if (trimmed(ui->txtConfirmPassword) != password) {
        stop(QStringLiteral("The password and confirm password fields do not match."), illegal);
        return false;
    }
    const QString avatar = avatarToSend();
    if (!avatar.isEmpty() && !checkAvatarFile(avatar, avatarSize))
        return false;
    const QString email = trimmed(ui->txtEmail);
    if (!isValidEmail(email)) {
        stop(QStringLiteral("The email address is invalid."), QStringLiteral("Invalid Email Address"));
        return false;
    }

    const QString enciphered = SkipJack::EncipherPassword(password);
    const int16_t left = int16_t(mouthLeft());
    const int16_t top = int16_t(mouthTop());
    // Only the service's own answer means the handle is taken: the text says why none came.
    const auto unanswered = session_.call<std::optional<QString>>(
        "Register", this, [handle, enciphered, email, avatar, left, top](Confabo& service) -> std::optional<QString> {
            ServiceFailure::clear();
            if (service.Register(handle, enciphered, email, avatar, left, top))
                return std::nullopt;
            return ServiceFailure::unreachableText();
        });
    if (!unanswered)
        return false;
    if (*unanswered) {
        const QString unreachable = **unanswered;
        QGuiApplication::restoreOverrideCursor();
        UserDialogs::current().messageBox(this,
            unreachable.isEmpty() ? QStringLiteral("That handle has already been taken. Please try another.")
                                  : unreachable + QStringLiteral(" Nothing was registered; please try again later."),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo Registration Error"));
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        if (unreachable.isEmpty())
            ui->txtHandle->setFocus();
        return false;
    }
    registered_ = true;
    Settings::IsRegistered.write(QStringLiteral("1"));
    Settings::Handle.write(handle);
    StoredPassword::write(enciphered);
    if (auto* login = qobject_cast<frmLogin*>(owner_))
        login->setCredentials(handle, password);
    if (confirmsRegistration_) {
        QGuiApplication::restoreOverrideCursor();
        UserDialogs::current().messageBox(this,
            QStringLiteral("Your Confabo account is registered."), UserDialogs::Buttons::Ok,
            UserDialogs::Icon::Information, QStringLiteral("Confabo Registration"));
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    return true;
}

void frmSetup::saveApplicationSettings()
{
    Settings::PollingInterval.write(ui->cmbPoll->currentText());
    Settings::EnableSpeech.write(oneOrZero(ui->chkSpeech->isChecked()));
    session_.setSpeakIt(ui->chkSpeech->isChecked());
    Settings::DefaultVoiceMode.write(QString::number(ui->cmbVoice->currentIndex() + 1));
    Settings::AutoLogin.write(oneOrZero(ui->chkAutoLogin->isChecked()));
    Settings::AutoRun.write(oneOrZero(ui->chkAutoRun->isChecked()));
    Settings::Taskbar.write(oneOrZero(ui->chkTaskbar->isChecked()));
    Settings::DisplayErrors.write(oneOrZero(ui->chkErrors->isChecked()));

    saveDataPort();

    Settings::FrameRate.write(ui->cmbFrameRate->currentText());
    const QString quality = ui->txtJPEGQuality->text();
    Settings::ImageQuality.write(quality);
    if (session_.video())
        session_.video()->sender().setQuality(int(quality.toDouble()));

    saveHostName();
    saveAutoRun();

    if (hasCamera()) {
        // The stored rate is the one the status bar names, so the source runs at it too.
        if (const int rate = ui->cmbFrameRate->currentText().toInt(); rate > 0)
            session_.video()->source()->setFrameRate(rate);
        const QSize size = session_.video()->source()->frameSize();
        Settings::VideoHeight.write(QString::number(size.height()));
        Settings::VideoWidth.write(QString::number(size.width()));
        emit session_.videoFormatShown(
            QStringLiteral("%1x%2 %3fps")
                .arg(size.width())
                .arg(size.height())
                .arg(Settings::FrameRate.read())); // Cancel undoes what is changed after this.
        savedFrameSize_ = size;
        savedFrameRate_ = session_.video()->source()->frameRate();
    }
}

// The receiving socket moves to the port in the field. A port that cannot be opened is not
// stored: the client keeps listening where it was, and the user is told.
void frmSetup::saveDataPort()
{
    const QString port = ui->txtDataPort->text();
    QString reason;
    if (session_.rebindDataPort(port, &reason)) {
        Settings::DataPort.write(port);
        return;
    }
    const int current = session_.dataPort();
    const QString keeps = current > 0
        ? QStringLiteral("Confabo keeps receiving on data port %1.").arg(current)
        : QStringLiteral("Confabo receives nothing until a data port that can be opened is chosen.");
    stop(QStringLiteral("Confabo cannot use data port %1 (%2). %3 Every buddy must use the same data port; "
                        "an installed Confabo may use one below 1024, otherwise choose one of 1024 or above.")
             .arg(port, reason, keeps),
        QStringLiteral("Confabo - Data Port"));
}

void frmSetup::saveHostName()
{
    const QString title = QLatin1String(modMain::AppTitle);
    if (ui->chkHostname->isChecked()) {
        if (ui->txtHostname->text() != Settings::HostName.read(QString())) {
            Settings::HostName.write(ui->txtHostname->text());
            QGuiApplication::restoreOverrideCursor();
            UserDialogs::current().messageBox(this,
                QStringLiteral("Hostname settings will take effect the next time you start ") + title,
                UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, title);
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        }
    } else {
        Settings::HostName.write(QString());
        Settings::HostName.erase();
    }
}

void frmSetup::saveAutoRun()
{
    const bool written = ui->chkAutoRun->isChecked() ? AutoStart::enable() : AutoStart::disable();
    if (!written)
        modMain::ReportError(QStringLiteral("The autostart entry %1 could not be changed").arg(AutoStart::entryPath()),
            modMain::EventError, true);
}

bool frmSetup::isValidEmail(const QString& text)
{
    const QString email = text.trimmed();
    return email.size() >= 8 && email.size() <= 120 && email.contains(u'@') && email.contains(u'.')
        && !email.contains(u' ') && !email.contains(u',');
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
    if (result == QDialog::Rejected && hasCamera() && savedFrameSize_.isValid()) {
        CaptureSource* source = session_.video()->source();
        source->setFrameSize(savedFrameSize_);
        source->setFrameRate(savedFrameRate_);
        emit session_.videoFormatShown(session_.video()->formatText());
    }
    returnPreview();
    session_.setCurrentWindow(nullptr);
    QDialog::done(result);
}

} // namespace cfb::client
