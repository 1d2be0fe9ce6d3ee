#include "setup/AvatarPicker.h"

#include "common/LocalErrorHandler.h"
#include "common/Twips.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "messaging/Confabo.h"
#include "setup/AccountForm.h"
#include "setup/AvatarFit.h"
#include "setup/MouthMarker.h"
#include "setup/SetupHelpers.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace cfb::client {
namespace {

const QString AvatarDialogTitle = QStringLiteral("Select Avatar");
// The largest the avatar is shown; a bigger picture is shown smaller and the marker's offsets
// are scaled back to the picture's own size.
constexpr int AvatarAreaWidth = 200;
constexpr int AvatarAreaHeight = 170;

} // namespace

AvatarPicker::AvatarPicker(const Widgets& widgets, ClientSession& session, QWidget* dialog)
    : QObject(dialog)
    , ui_(widgets)
    , session_(session)
    , dialog_(dialog)
    , picMouth_(new MouthMarker(widgets.imgAvatar, widgets.fraAvatar))
{
    connect(ui_.chkCamera, &QCheckBox::toggled, this, &AvatarPicker::showCamera);
    connect(ui_.cmdBrowse, &QPushButton::clicked, this, &AvatarPicker::browse);
    connect(ui_.cmdCamera, &QPushButton::clicked, this, &AvatarPicker::savePicture);
}

AvatarPicker::~AvatarPicker() = default;

void AvatarPicker::load(const QImage& picture, QPoint mouthTwips)
{
    ui_.chkCamera->setVisible(SetupHelpers::camera(session_) != nullptr);
    showPreview();
    showCamera();
    showAvatar(picture);
    placeMarker(mouthTwips.x(), mouthTwips.y());
}

void AvatarPicker::showPreview()
{
    if (MainVideo* camera = SetupHelpers::camera(session_))
        camera->showPreviewIn(ui_.picAvatar);
}

// Checked: the live camera and Save Pic instead of the picture.
void AvatarPicker::showCamera()
{
    const bool camera = ui_.chkCamera->isChecked();
    ui_.picAvatar->setVisible(camera);
    ui_.cmdCamera->setVisible(camera);
    ui_.imgAvatar->setVisible(!camera);
    picMouth_->setVisible(!camera);
    if (camera)
        ui_.picAvatar->raise();
}

void AvatarPicker::showAvatar(const QImage& picture)
{
    const QSize size = picture.size();
    avatarScale_ = std::min({1.0, double(AvatarAreaWidth) / std::max(1, size.width()),
        double(AvatarAreaHeight) / std::max(1, size.height())});
    const QSize shown(std::max(1, int(std::lround(size.width() * avatarScale_))),
        std::max(1, int(std::lround(size.height() * avatarScale_))));
    // The marker keeps its place on the screen.
    const int left = mouthLeft();
    const int top = mouthTop();
    // The frame has room for the largest picture shown, whatever is shown: the form keeps its width.
    ui_.fraAvatar->setFixedSize(std::max(AvatarAreaWidth, ui_.picAvatar->width()) + 8,
        std::max(AvatarAreaHeight, ui_.picAvatar->height()) + 8);
    ui_.imgAvatar->setGeometry(QRect(QPoint(4, 4), shown));
    ui_.imgAvatar->setPixmap(
        QPixmap::fromImage(picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    placeMarker(left, top);
}

void AvatarPicker::placeMarker(int leftTwips, int topTwips)
{
    const QRect avatar = ui_.imgAvatar->geometry();
    // Strictly inside the picture, as a drag keeps it.
    const auto inside = [](int wanted, int from, int span, int marker) {
        const int highest = from + span - marker - 1;
        return highest <= from + 1 ? from + 1 : std::clamp(wanted, from + 1, highest);
    };
    const int x = avatar.left() + int(std::lround(leftTwips / double(TwipsPerPixel) * avatarScale_));
    const int y = avatar.top() + int(std::lround(topTwips / double(TwipsPerPixel) * avatarScale_));
    picMouth_->move(inside(x, avatar.left(), avatar.width(), picMouth_->width()),
        inside(y, avatar.top(), avatar.height(), picMouth_->height()));
    picMouth_->raise();
}

int AvatarPicker::mouthLeft() const
{
    const int pixels = picMouth_->x() - ui_.imgAvatar->x();
    return int(std::lround(pixels / avatarScale_)) * TwipsPerPixel;
}

int AvatarPicker::mouthTop() const
{
    const int pixels = picMouth_->y() - ui_.imgAvatar->y();
    return int(std::lround(pixels / avatarScale_)) * TwipsPerPixel;
}

QString AvatarPicker::fileToSend() const
{
    const QString named = ui_.txtAvatarFile->text().trimmed();
    return !fittedAvatar_.isEmpty() && named == chosenAvatar_ ? fittedAvatar_ : named;
}

void AvatarPicker::browse()
{
    withErrorReport("Browse", [this] {
        const QString path = UserDialogs::current().openFileName(dialog_, AvatarDialogTitle,
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
        const QImage sent = QFileInfo(path).size() > Confabo::MaxAvatarSize ? fitted(path, picture) : picture;
        showAvatar(sent.isNull() ? picture : sent);
        ui_.txtAvatarFile->setText(path);
    });
}

// Made smaller now, so that the preview and the mouth marker show the avatar as sent.
QImage AvatarPicker::fitted(const QString& path, const QImage& picture)
{
    const QByteArray fitted = AvatarFit::fit(picture, Confabo::MaxAvatarSize);
    if (fitted.isEmpty()) {
        // No busy pointer is up here: the box alone.
        const AccountForm::Refusal tooLarge = AccountForm::avatarTooLarge();
        UserDialogs::current().messageBox(
            dialog_, tooLarge.text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, tooLarge.title);
        return {};
    }
    if (!fittedFolder_)
        fittedFolder_ = std::make_unique<QTemporaryDir>();
    QFile copy(fittedFolder_->filePath(QStringLiteral("avatar.jpg")));
    if (!fittedFolder_->isValid() || !copy.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || copy.write(fitted) != fitted.size() || !copy.flush()) {
        modMain::ReportError(
            QStringLiteral("Browse: the smaller copy of %1 cannot be written (%2)").arg(path, copy.errorString()),
            modMain::EventError, true);
        return {};
    }
    fittedAvatar_ = copy.fileName();
    return QImage::fromData(fitted);
}

// The current camera picture saved under the chosen name, in the format its extension names
// (JPEG for .jpg and for names without a picture extension), and taken as the avatar.
void AvatarPicker::savePicture()
{
    withErrorReport("Save Pic", [this] {
        const QString path = UserDialogs::current().saveFileName(
            dialog_, AvatarDialogTitle, QStringLiteral("JPEG Images (*.jpg);;All Files (*)"));
        if (!path.isEmpty()) {
            MainVideo* camera = SetupHelpers::camera(session_);
            const QImage picture = camera ? camera->snapshot() : QImage();
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
                ui_.txtAvatarFile->setText(path);
            }
        }
        ui_.chkCamera->setChecked(false);
    });
}

} // namespace cfb::client
