#include "audio/WavFile.h"

#include <QFile>
#include <QSaveFile>

namespace cfb {

namespace {

uint32_t le32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

uint16_t le16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint16_t(u[0] | u[1] << 8);
}

void put32(QByteArray& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(v >> (8 * i)));
}

void put16(QByteArray& out, uint16_t v)
{
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}

std::optional<WavAudio> refuse(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<WavAudio> WavFile::parse(QByteArrayView bytes, QString* error)
{
    if (bytes.size() > MaxBytes)
        return refuse(error, QStringLiteral("the file is larger than 1 GiB"));
    if (bytes.size() < 12 || bytes.first(4) != "RIFF" || bytes.sliced(8, 4) != "WAVE")
        return refuse(error, QStringLiteral("not a WAV file"));
    const char* p = bytes.data();
    const qint64 size = bytes.size();
    qint64 at = 12;
    bool haveFormat = false;
    WavAudio audio;
    while (at + 8 <= size) {
        const QByteArrayView id = bytes.sliced(at, 4);
        const qint64 length = le32(p + at + 4);
        const qint64 body = at + 8;
        const qint64 available = std::min(length, size - body);
        if (id == "fmt ") {
            if (available < 16)
                return refuse(error, QStringLiteral("the format chunk is too short"));
            const uint16_t tag = le16(p + body), channels = le16(p + body + 2), bits = le16(p + body + 14);
            const uint32_t rate = le32(p + body + 4);
            if (tag != 1)
                return refuse(error, QStringLiteral("not PCM (format %1)").arg(tag));
            if (channels != 1)
                return refuse(error, QStringLiteral("%1 channels; only mono is read").arg(channels));
            if (bits != 16)
                return refuse(error, QStringLiteral("%1-bit samples; only 16-bit are read").arg(bits));
            if (rate < uint32_t(MinRate) || rate > uint32_t(MaxRate))
                return refuse(error, QStringLiteral("a sample rate of %1 Hz").arg(rate));
            audio.sampleRate = int(rate);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return refuse(error, QStringLiteral("the data comes before the format"));
            const qint64 count = available / 2;
            audio.samples.resize(std::size_t(count));
            for (qint64 i = 0; i < count; ++i)
                audio.samples[std::size_t(i)] = int16_t(le16(p + body + 2 * i));
            return audio;
        }
        at = body + length + (length & 1); // chunks are padded to an even length
    }
    return refuse(error, haveFormat ? QStringLiteral("no sound data") : QStringLiteral("no format chunk"));
}

std::optional<WavAudio> WavFile::read(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(error, file.errorString());
    if (file.size() > MaxBytes)
        return refuse(error, QStringLiteral("the file is larger than 1 GiB"));
    return parse(file.readAll(), error);
}

QByteArray WavFile::serialize(const WavAudio& audio)
{
    const uint32_t data = uint32_t(audio.samples.size() * 2);
    QByteArray out;
    out.reserve(int(44 + data));
    out.append("RIFF");
    put32(out, 36 + data);
    out.append("WAVEfmt ");
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, uint32_t(audio.sampleRate));
    put32(out, uint32_t(audio.sampleRate) * 2);
    put16(out, 2);
    put16(out, 16);
    out.append("data");
    put32(out, data);
    for (int16_t s : audio.samples)
        put16(out, uint16_t(s));
    return out;
}

bool WavFile::write(const QString& path, const WavAudio& audio, QString* error)
{
    if (audio.sampleRate < MinRate || audio.sampleRate > MaxRate || qint64(audio.samples.size()) * 2 + 44 > MaxBytes) {
        if (error)
            *error = QStringLiteral("cannot write a sample rate of %1 Hz or over 1 GiB").arg(audio.sampleRate);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(serialize(audio)) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace cfb
