#include "speech/VoicesDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace cfb::client {

VoicesDialog::VoicesDialog(
    const QStringList& voices, int currentVoice, const VoiceTuning& tuning, const QString& title, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    auto* form = new QFormLayout(this);

    cmbVoice_ = new QComboBox(this);
    cmbVoice_->setObjectName(QStringLiteral("cmbVoice"));
    cmbVoice_->addItems(voices);
    cmbVoice_->setCurrentIndex(currentVoice - 1);
    form->addRow(tr("&Voice:"), cmbVoice_);

    sldRate_ = addSlider(QStringLiteral("sldRate"), VoiceTuning::MinRate, VoiceTuning::MaxRate, tuning.rate);
    form->addRow(tr("&Rate:"), sldRate_);
    sldPitch_ = addSlider(QStringLiteral("sldPitch"), 0, VoiceTuning::MaxPitch, tuning.pitch);
    form->addRow(tr("&Pitch:"), sldPitch_);
    sldVolume_ = addSlider(QStringLiteral("sldVolume"), 0, VoiceTuning::MaxVolume, tuning.volume);
    form->addRow(tr("V&olume:"), sldVolume_);

    auto* test = new QHBoxLayout;
    txtTestPhrase_ = new QLineEdit(tuning.testPhrase, this);
    txtTestPhrase_->setObjectName(QStringLiteral("txtTestPhrase"));
    auto* cmdSpeak = new QPushButton(tr("&Speak"), this);
    cmdSpeak->setObjectName(QStringLiteral("cmdSpeak"));
    cmdSpeak->setAutoDefault(false);
    test->addWidget(txtTestPhrase_, 1);
    test->addWidget(cmdSpeak);
    form->addRow(tr("&Test phrase:"), test);
    connect(cmdSpeak, &QPushButton::clicked, this,
        [this] { emit speakRequested(txtTestPhrase_->text(), voice(), this->tuning()); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

QSlider* VoicesDialog::addSlider(const QString& name, int low, int high, int value)
{
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(name);
    slider->setRange(low, high);
    slider->setValue(value);
    slider->setMinimumWidth(200);
    return slider;
}

int VoicesDialog::voice() const
{
    return cmbVoice_->currentIndex() + 1;
}

VoiceTuning VoicesDialog::tuning() const
{
    return VoiceTuning{sldRate_->value(), sldPitch_->value(), sldVolume_->value(), txtTestPhrase_->text()};
}

} // namespace cfb::client
