#pragma once

#include <QString>

namespace cfb::client {

// How the voices sound, whichever voice speaks: espeak-ng's rate, pitch and volume.
struct VoiceTuning {
    static constexpr int MinRate = 80, MaxRate = 450, MaxPitch = 100, MaxVolume = 200;

    int rate = 175;
    int pitch = 50;
    int volume = 100;
    QString testPhrase;

    // Out-of-range or unreadable settings fall back to their defaults.
    static VoiceTuning load();
    void save() const;

    bool operator==(const VoiceTuning&) const = default;
};

} // namespace cfb::client
