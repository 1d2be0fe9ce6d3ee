#include "CallAudioFiles.h"

#include "audio/CallSession.h"
#include "audio/VoiceFormat.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace cfb;

namespace {

constexpr std::size_t MaxSamples = std::size_t(CallAudioFiles::MaxMinutes) * 60 * VoiceFormat::SampleRate;

} // namespace

std::vector<int16_t> CallAudioFiles::resampled(const WavAudio& audio)
{
    const std::vector<int16_t>& in = audio.samples;
    if (audio.sampleRate == VoiceFormat::SampleRate || in.size() < 2)
        return in;
    const double step = double(audio.sampleRate) / VoiceFormat::SampleRate;
    std::vector<int16_t> out(std::size_t(double(in.size() - 1) / step) + 1);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double at = double(i) * step;
        const std::size_t k = std::min(std::size_t(at), in.size() - 2);
        const double f = std::min(1.0, at - double(k));
        out[i] = int16_t(double(in[k]) * (1 - f) + double(in[k + 1]) * f);
    }
    return out;
}

bool CallAudioFiles::setInput(const QString& path, QString& error)
{
    QString why;
    const std::optional<WavAudio> audio = WavFile::read(path, &why);
    if (!audio) {
        error = QStringLiteral("--audio-in %1 cannot be a call's microphone: %2 (it takes 16-bit PCM mono WAV, "
                               "%3 to %4 Hz)")
                    .arg(path, why)
                    .arg(WavFile::MinRate)
                    .arg(WavFile::MaxRate);
        return false;
    }
    // Checked before resampling, which would make a long low-rate file larger still.
    const double seconds = double(audio->samples.size()) / audio->sampleRate;
    if (audio->samples.empty() || seconds > MaxMinutes * 60) {
        error = QStringLiteral("--audio-in %1 holds %2 s of sound; a call's microphone takes more than none and at "
                               "most %3 minutes")
                    .arg(path)
                    .arg(seconds, 0, 'f', 1)
                    .arg(MaxMinutes);
        return false;
    }
    input_ = resampled(*audio);
    return true;
}

bool CallAudioFiles::setOutput(const QString& path, QString& error)
{
    const QFileInfo info(path);
    if (!info.absoluteDir().exists() || info.isDir()) {
        error = QStringLiteral("--audio-out %1 cannot be written: %2")
                    .arg(path,
                        info.isDir() ? QStringLiteral("it is a folder") : QStringLiteral("its folder is not there"));
        return false;
    }
    outputPath_ = info.absoluteFilePath();
    return true;
}

void CallAudioFiles::attach(CallSession& calls)
{
    if (!input_.empty())
        calls.setCapture([this](int16_t* frame) { capture(frame); });
    if (!outputPath_.isEmpty())
        calls.setPlayback([this](const int16_t* frame) { playback(frame); });
}

void CallAudioFiles::callStarted()
{
    inputAt_ = 0;
    heard_.clear();
}

void CallAudioFiles::capture(int16_t* frame)
{
    for (int i = 0; i < VoiceFormat::FrameSamples; ++i) {
        frame[i] = input_[inputAt_];
        inputAt_ = (inputAt_ + 1) % input_.size();
    }
}

void CallAudioFiles::playback(const int16_t* frame)
{
    if (heard_.size() + VoiceFormat::FrameSamples <= MaxSamples)
        heard_.insert(heard_.end(), frame, frame + VoiceFormat::FrameSamples);
}

bool CallAudioFiles::callEnded(QString& error)
{
    if (outputPath_.isEmpty() || heard_.empty())
        return true;
    WavAudio audio;
    audio.sampleRate = VoiceFormat::SampleRate;
    audio.samples.swap(heard_);
    QString why;
    const bool ok = WavFile::write(outputPath_, audio, &why);
    if (!ok)
        error = QStringLiteral("cannot write %1: %2").arg(outputPath_, why);
    return ok;
}
