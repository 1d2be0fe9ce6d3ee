#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace cfb {

// Sound as a WAV file holds it: 16-bit PCM, one channel.
struct WavAudio {
    int sampleRate = 48000;
    std::vector<int16_t> samples;
};

// Reads and writes 16-bit PCM mono WAV files, for playing a file as a call's microphone and
// keeping what a call heard. Reading walks the RIFF chunks with every size checked against what
// is there; a data chunk that claims more than the file holds (a recorder that never finished)
// gives what there is. Anything else (compressed, stereo, 8 or 24 bits, a rate outside
// MinRate..MaxRate, over MaxBytes) is refused with a reason.
class WavFile {
public:
    static std::optional<WavAudio> read(const QString& path, QString* error = nullptr);
    static std::optional<WavAudio> parse(QByteArrayView bytes, QString* error = nullptr);
    // Written to a temporary file beside path and renamed over it.
    static bool write(const QString& path, const WavAudio& audio, QString* error = nullptr);
    static QByteArray serialize(const WavAudio& audio);

    static constexpr int MinRate = 8000;
    static constexpr int MaxRate = 192000;
    static constexpr qint64 MaxBytes = qint64(1) << 30;
};

} // namespace cfb
