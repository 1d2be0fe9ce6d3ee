#include "setup/VideoTab.h"

#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "setup/DigitKeyFilter.h"
#include "setup/SetupHelpers.h"
#include "video/CaptureSource.h"
#include "video/MainVideo.h"
#include "video/VideoCompressionDialog.h"
#include "video/VideoFormatDialog.h"
#include "video/VideoSourceDialog.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace cfb::client {
namespace {

const QStringList FrameRates = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10"),
    QStringLiteral("20"), QStringLiteral("30"), QStringLiteral("45")};

} // namespace

VideoTab::VideoTab(const Widgets& widgets, ClientSession& session, QWidget* dialog)
    : QObject(dialog)
    , ui_(widgets)
    , session_(session)
    , dialog_(dialog)
{
    ui_.txtJPEGQuality->installEventFilter(new DigitKeyFilter(this));
    ui_.scrlJPEGImageQuality->setRange(1, 99);
    // Up is better quality.
    ui_.scrlJPEGImageQuality->setInvertedAppearance(true);
    ui_.scrlJPEGImageQuality->setInvertedControls(true);

    connect(ui_.scrlJPEGImageQuality, &QScrollBar::valueChanged, this,
        [this](int value) { ui_.txtJPEGQuality->setText(QString::number(value)); });
    connect(ui_.cmbFrameRate, &QComboBox::activated, this, &VideoTab::frameRateChosen);
    connect(ui_.cmdFormat, &QPushButton::clicked, this, &VideoTab::showFormatDialog);
    connect(ui_.cmdSource, &QPushButton::clicked, this, &VideoTab::showSourceDialog);
    connect(ui_.cmdCompression, &QPushButton::clicked, this, &VideoTab::showCompressionDialog);
    showCodecCaption();
}

// Which codec buddies get, right below the buttons (the spacer moves below it): the quality above
// is JPEG's alone.
void VideoTab::showCodecCaption()
{
    auto* settings = dialog_->findChild<QGridLayout*>(QStringLiteral("layoutVideoSettings"));
    if (!settings)
        return;
    auto* caption = new QLabel(QStringLiteral("Video to buddies: VP8 where their Confabo decodes it, at the rate the "
                                              "path carries; JPEG frames at the quality above to older clients."),
        ui_.cmdCompression->parentWidget());
    caption->setObjectName(QStringLiteral("lblVideoCodec"));
    caption->setWordWrap(true);
    int row = settings->rowCount();
    QLayoutItem* spacer = settings->itemAtPosition(row - 1, 0);
    if (spacer && spacer->spacerItem()) {
        settings->removeItem(spacer);
        settings->addItem(spacer, row, 0);
        --row;
    }
    settings->addWidget(caption, row, 0, 1, 2);
}

void VideoTab::load()
{
    ui_.cmbFrameRate->addItems(FrameRates);
    showStoredQuality();
    keepFormat();
}

// The scroll bar writes its clamped value; the field shows the stored one.
void VideoTab::showStoredQuality()
{
    const QString quality = Settings::ImageQuality.read(QStringLiteral("75"));
    ui_.scrlJPEGImageQuality->setValue(quality.toInt());
    ui_.txtJPEGQuality->setText(quality);
}

void VideoTab::keepFormat()
{
    if (MainVideo* camera = SetupHelpers::camera(session_)) {
        savedFrameSize_ = camera->source()->frameSize();
        savedFrameRate_ = camera->source()->frameRate();
    }
}

void VideoTab::activate()
{
    // Never chosen, the list shows the rate the camera runs at (the VP8 default), so that OK
    // stores nothing the user did not choose; without a camera, the dialog's own default.
    QString rate = Settings::FrameRate.read(QString());
    if (MainVideo* camera = SetupHelpers::camera(session_); rate.isEmpty() && camera)
        rate = QString::number(camera->source()->frameRate());
    if (!FrameRates.contains(rate))
        rate = Settings::FrameRate.read(QStringLiteral("10"));
    SetupHelpers::selectListText(ui_.cmbFrameRate, rate);
    shownRate_ = ui_.cmbFrameRate->currentText();
}

void VideoTab::showPreview()
{
    if (MainVideo* camera = SetupHelpers::camera(session_))
        camera->showPreviewIn(ui_.picVideo);
}

void VideoTab::frameRateChosen()
{
    withErrorReport("Frame Rate", [this] {
        const int rate = ui_.cmbFrameRate->currentText().toInt();
        if (MainVideo* camera = SetupHelpers::camera(session_); camera && rate > 0)
            camera->source()->setFrameRate(rate);
    });
}

void VideoTab::noCaptureSource()
{
    UserDialogs::current().messageBox(dialog_, QStringLiteral("Confabo cannot locate your video camera or software."),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, QStringLiteral("Confabo - Video Settings"));
}

void VideoTab::showFormatDialog()
{
    withErrorReport("Video Format", [this] {
        MainVideo* camera = SetupHelpers::camera(session_);
        if (!VideoFormatDialog::showFor(camera ? camera->source() : nullptr, dialog_))
            return noCaptureSource();
        emit session_.videoFormatShown(camera->formatText());
        showPreview();
    });
}

void VideoTab::showSourceDialog()
{
    withErrorReport("Video Source", [this] {
        MainVideo* camera = SetupHelpers::camera(session_);
        QString chosen;
        if (!VideoSourceDialog::showFor(camera ? camera->source() : nullptr, dialog_, &chosen))
            return noCaptureSource();
        if (!chosen.isEmpty() && chosen != session_.video()->source()->name()) {
            emit session_.videoSourceChanged();
            keepFormat();
        }
        showPreview();
    });
}

void VideoTab::showCompressionDialog()
{
    withErrorReport("Video Compression", [this] {
        MainVideo* camera = SetupHelpers::camera(session_);
        if (!VideoCompressionDialog::showFor(
                camera ? camera->source() : nullptr, dialog_, camera ? &camera->sender() : nullptr))
            return noCaptureSource();
        showStoredQuality();
        showPreview();
    });
}

void VideoTab::save()
{
    // The rate and the size are stored once chosen (or stored before): a first OK, such as the
    // registration's, leaves the camera's defaults to follow what buddies decode.
    if (!Settings::FrameRate.read(QString()).isEmpty() || ui_.cmbFrameRate->currentText() != shownRate_)
        Settings::FrameRate.write(ui_.cmbFrameRate->currentText());
    const QString quality = ui_.txtJPEGQuality->text();
    Settings::ImageQuality.write(quality);
    if (session_.video())
        session_.video()->sender().setQuality(int(quality.toDouble()));

    MainVideo* camera = SetupHelpers::camera(session_);
    if (!camera)
        return;
    // The stored rate is the one the status bar names, so the source runs at it too.
    if (const int rate = ui_.cmbFrameRate->currentText().toInt(); rate > 0)
        camera->source()->setFrameRate(rate);
    const QSize size = camera->source()->frameSize();
    if (!Settings::VideoWidth.read(QString()).isEmpty() || !Settings::VideoHeight.read(QString()).isEmpty()
        || size != savedFrameSize_) {
        Settings::VideoHeight.write(QString::number(size.height()));
        Settings::VideoWidth.write(QString::number(size.width()));
    }
    emit session_.videoFormatShown(
        QStringLiteral("%1x%2 %3fps").arg(size.width()).arg(size.height()).arg(camera->source()->frameRate()));
    // Cancel undoes what is changed after this.
    keepFormat();
}

void VideoTab::restoreFormat()
{
    MainVideo* camera = SetupHelpers::camera(session_);
    if (!camera || !savedFrameSize_.isValid())
        return;
    camera->source()->setFrameSize(savedFrameSize_);
    camera->source()->setFrameRate(savedFrameRate_);
    emit session_.videoFormatShown(camera->formatText());
}

} // namespace cfb::client
