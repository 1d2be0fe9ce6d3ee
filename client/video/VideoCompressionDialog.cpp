#include "video/VideoCompressionDialog.h"

#include "platform/Settings.h"
#include "video/CaptureSource.h"
#include "video/FrameSender.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace cfb::client {

VideoCompressionDialog::VideoCompressionDialog(FrameSender* sender, QWidget* parent)
    : QDialog(parent)
    , sender_(sender)
    , sldQuality_(new QSlider(Qt::Horizontal, this))
    , spnQuality_(new QSpinBox(this))
    , chkEncodeFromPlanes_(new QCheckBox(tr("&Fast encoding, straight from the camera's picture"), this))
{
    setWindowTitle(tr("Video Compression"));
    sldQuality_->setObjectName(QStringLiteral("sldQuality"));
    spnQuality_->setObjectName(QStringLiteral("spnQuality"));
    sldQuality_->setRange(1, 100);
    spnQuality_->setRange(1, 100);
    sldQuality_->setTickPosition(QSlider::TicksBelow);
    sldQuality_->setTickInterval(10);
    connect(sldQuality_, &QSlider::valueChanged, spnQuality_, &QSpinBox::setValue);
    connect(spnQuality_, &QSpinBox::valueChanged, sldQuality_, &QSlider::setValue);
    bool ok = false;
    const int quality = Settings::ImageQuality.read().toInt(&ok);
    spnQuality_->setValue(ok ? quality : 75);
    chkEncodeFromPlanes_->setObjectName(QStringLiteral("chkEncodeFromPlanes"));
    chkEncodeFromPlanes_->setChecked(Settings::EncodeFromPlanes.read().trimmed() != QLatin1String("0"));

    auto* label = new QLabel(tr("Image &Quality:"), this);
    label->setBuddy(spnQuality_);
    auto* row = new QHBoxLayout;
    row->addWidget(sldQuality_, 1);
    row->addWidget(spnQuality_);
    auto* hint = new QLabel(tr("Lower quality sends smaller pictures; higher quality sends sharper ones."), this);
    hint->setWordWrap(true);
    auto* encoderHint = new QLabel(tr("Fast encoding takes about two thirds of the time and looks the same. "
                                      "Unchecked, every frame goes through a full-colour picture first: the "
                                      "exact but slower way."),
        this);
    encoderHint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addWidget(hint);
    layout->addSpacing(8);
    layout->addWidget(chkEncodeFromPlanes_);
    layout->addWidget(encoderHint);
    layout->addWidget(buttons);
    resize(360, sizeHint().height());
}

bool VideoCompressionDialog::showFor(CaptureSource* source, QWidget* parent, FrameSender* sender)
{
    if (!source)
        return false;
    VideoCompressionDialog dialog(sender, parent);
    dialog.exec();
    return true;
}

void VideoCompressionDialog::accept()
{
    Settings::ImageQuality.write(QString::number(spnQuality_->value()));
    const bool fromPlanes = chkEncodeFromPlanes_->isChecked();
    Settings::EncodeFromPlanes.write(fromPlanes ? QStringLiteral("1") : QStringLiteral("0"));
    if (sender_) {
        sender_->setQuality(spnQuality_->value());
        sender_->setEncodeFromPlanes(fromPlanes);
    }
    QDialog::accept();
}

} // namespace cfb::client
