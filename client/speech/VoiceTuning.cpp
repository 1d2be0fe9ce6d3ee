#include "speech/VoiceTuning.h"

#include "platform/Settings.h"

namespace cfb::client {

namespace {

int readInRange(const Setting& setting, int low, int high)
{
    bool ok = false;
    const int value = setting.read().trimmed().toInt(&ok);
    if (ok && value >= low && value <= high)
        return value;
    return QString::fromLatin1(setting.defaultValue).toInt();
}

} // namespace

VoiceTuning VoiceTuning::load()
{
    VoiceTuning tuning;
    tuning.rate = readInRange(Settings::SpeechRate, MinRate, MaxRate);
    tuning.pitch = readInRange(Settings::SpeechPitch, 0, MaxPitch);
    tuning.volume = readInRange(Settings::SpeechVolume, 0, MaxVolume);
    tuning.testPhrase = Settings::SpeechTestPhrase.read();
    return tuning;
}

void VoiceTuning::save() const
{
    Settings::SpeechRate.write(QString::number(rate));
    Settings::SpeechPitch.write(QString::number(pitch));
    Settings::SpeechVolume.write(QString::number(volume));
    Settings::SpeechTestPhrase.write(testPhrase);
}

} // namespace cfb::client
