#include "video/VideoFormatDialog.h"

#include "platform/Settings.h"
#include "video/CaptureSource.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace cfb::client {

VideoFormatDialog::VideoFormatDialog(CaptureSource& source, QWidget* parent)
    : QDialog(parent)
    , source_(source)
    , cmbSize_(new QComboBox(this))
    , spnRate_(new QSpinBox(this))
{
    setWindowTitle(tr("Video Format"));
    cmbSize_->setObjectName(QStringLiteral("cmbSize"));
    spnRate_->setObjectName(QStringLiteral("spnRate"));

    const QSize current = source.frameSize();
    for (const QSize& size : source.supportedSizes())
        cmbSize_->addItem(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()), size);
    int index = cmbSize_->findData(current);
    if (index < 0) { // a size of the user's own from the settings stays on offer
        cmbSize_->addItem(QStringLiteral("%1 x %2").arg(current.width()).arg(current.height()), current);
        index = cmbSize_->count() - 1;
    }
    cmbSize_->setCurrentIndex(index);
    spnRate_->setRange(CaptureSource::MinRate, CaptureSource::MaxRate);
    spnRate_->setSuffix(tr(" frames per second"));
    spnRate_->setValue(source.frameRate());

    auto* form = new QFormLayout;
    form->addRow(new QLabel(source.description(), this));
    form->addRow(tr("&Size:"), cmbSize_);
    form->addRow(tr("&Rate:"), spnRate_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(320, sizeHint().height());
}

bool VideoFormatDialog::showFor(CaptureSource* source, QWidget* parent)
{
    if (!source)
        return false;
    VideoFormatDialog dialog(*source, parent);
    dialog.exec();
    return true;
}

void VideoFormatDialog::accept()
{
    const QSize size = cmbSize_->currentData().toSize();
    if (source_.setFrameSize(size)) {
        Settings::VideoWidth.write(QString::number(size.width()));
        Settings::VideoHeight.write(QString::number(size.height()));
    }
    if (source_.setFrameRate(spnRate_->value()))
        Settings::FrameRate.write(QString::number(spnRate_->value()));
    QDialog::accept();
}

} // namespace cfb::client
