#include "setup/AudioTab.h"

#include "platform/Settings.h"

#include <QAudioDevice>
#include <QComboBox>
#include <QLabel>
#include <QMediaDevices>

namespace cfb::client {
namespace {

// The item data is the device's id; empty for the system's default.
void fill(QComboBox& box, const QList<QAudioDevice>& devices, const QString& stored)
{
    box.clear();
    box.addItem(QStringLiteral("System default"), QString());
    for (const QAudioDevice& device : devices)
        box.addItem(device.description(), QString::fromUtf8(device.id()));
    int index = box.findData(stored);
    if (index < 0) {
        box.addItem(QStringLiteral("%1 (not connected)").arg(stored), stored);
        index = box.count() - 1;
    }
    box.setCurrentIndex(index);
}

} // namespace

AudioTab::AudioTab(const Widgets& widgets, QObject* parent)
    : QObject(parent)
    , ui_(widgets)
{
}

void AudioTab::load()
{
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    fill(*ui_.cmbAudioInput, inputs, Settings::AudioInput.read());
    fill(*ui_.cmbAudioOutput, outputs, Settings::AudioOutput.read());
    ui_.lblAudioNote->setText(inputs.isEmpty() && outputs.isEmpty()
            ? QStringLiteral("No sound devices were found: calls send silence and play nothing.")
            : QStringLiteral("Calls ring and play on the loudspeaker chosen here."));
}

void AudioTab::save()
{
    Settings::AudioInput.write(ui_.cmbAudioInput->currentData().toString());
    Settings::AudioOutput.write(ui_.cmbAudioOutput->currentData().toString());
}

} // namespace cfb::client
