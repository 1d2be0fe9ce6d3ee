// WAV files as the command-line client reads a microphone from and writes what it heard to.
#include "audio/WavFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace cfb;

TEST(WavFile, WritesAndReadsBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    WavAudio audio{22050, {0, 1, -1, 32767, -32768, 1234}};
    const QString path = dir.filePath(QStringLiteral("heard.wav"));
    ASSERT_TRUE(WavFile::write(path, audio));
    QString error;
    const std::optional<WavAudio> back = WavFile::read(path, &error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(back->sampleRate, 22050);
    EXPECT_EQ(back->samples, audio.samples);
    EXPECT_FALSE(WavFile::read(dir.filePath(QStringLiteral("none.wav")), &error));
    EXPECT_FALSE(WavFile::write(dir.filePath(QStringLiteral("no/such/folder.wav")), audio, &error));
}

TEST(WavFile, OtherChunksAndACutShortRecordingAreRead)
{
    QByteArray bytes = WavFile::serialize({48000, {10, 20, 30, 40}});
    // A LIST chunk of odd length (padded) between the format and the data.
    bytes.insert(36, QByteArray("LIST\x03\x00\x00\x00" "abc\x00", 12));
    std::optional<WavAudio> audio = WavFile::parse(bytes);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->samples, (std::vector<int16_t>{10, 20, 30, 40}));
    // The data chunk says more than is there (the recorder never finished), and the last sample
    // is cut in half.
    bytes.chop(1);
    bytes[48 + 7] = char(0x7f); // the data chunk (after the LIST chunk) claims 2 GiB
    audio = WavFile::parse(bytes);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->samples, (std::vector<int16_t>{10, 20, 30}));
}

TEST(WavFile, RefusesWhatItCannotReadAndSurvivesDamage)
{
    const QByteArray good = WavFile::serialize({16000, std::vector<int16_t>(100, 7)});
    auto with = [&](int at, QByteArray value) {
        QByteArray b = good;
        b.replace(at, value.size(), value);
        return b;
    };
    QString error;
    EXPECT_FALSE(WavFile::parse(good.first(11), &error));
    EXPECT_FALSE(WavFile::parse(with(0, "RIFX"), &error));
    EXPECT_FALSE(WavFile::parse(with(20, QByteArray("\x03\x00", 2)), &error)) << "float samples";
    EXPECT_FALSE(WavFile::parse(with(22, QByteArray("\x02\x00", 2)), &error)) << "stereo";
    EXPECT_TRUE(error.contains(QStringLiteral("mono")));
    EXPECT_FALSE(WavFile::parse(with(34, QByteArray("\x08\x00", 2)), &error)) << "8-bit";
    EXPECT_FALSE(WavFile::parse(with(24, QByteArray("\x00\x00\x00\x00", 4)), &error)) << "0 Hz";
    EXPECT_FALSE(WavFile::parse(with(16, QByteArray("\x08\x00\x00\x00", 4)), &error)) << "short format";
    EXPECT_FALSE(WavFile::parse(with(12, "data"), &error)) << "data before the format";
    EXPECT_FALSE(WavFile::parse(good.first(44 - 8), &error)) << "no data chunk";
    // A format chunk claiming 4 GiB: the walk ends at the file's end instead of reading past it.
    EXPECT_FALSE(WavFile::parse(with(16, QByteArray("\xff\xff\xff\xff", 4)), &error));

    // Random damage anywhere: refused or read, never out of bounds (the sanitizer build checks).
    std::mt19937 random(4);
    for (int i = 0; i < 20000; ++i) {
        QByteArray b = good.first(qsizetype(random() % good.size()));
        for (int k = 0; k < 3 && !b.isEmpty(); ++k)
            b[qsizetype(random() % b.size())] = char(random());
        if (const std::optional<WavAudio> a = WavFile::parse(b)) {
            ASSERT_LE(qsizetype(a->samples.size()) * 2, b.size());
        }
    }
}
