#pragma once

#include "audio/WavFile.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cfb {
class CallSession;
}

// A call's sound as files, for tests and bots without a sound card: a WAV file played as the
// microphone, looped from its start at each call, and what the loudspeaker played kept and
// written to another WAV file when the call ends (each call replaces the file; a session with
// no call writes none). Both at the call's rate, 48 kHz; an input at another rate is brought to
// it by linear interpolation.
class CallAudioFiles {
public:
    // Each way, at most this much: a longer input is refused, a longer call keeps its start.
    static constexpr int MaxMinutes = 10;

    // False with a reason when the file cannot be used as a microphone (unreadable, not 16-bit
    // PCM mono, silent-empty, too long).
    bool setInput(const QString& path, QString& error);
    // False with a reason when the folder the file would go into is not there.
    bool setOutput(const QString& path, QString& error);
    bool hasOutput() const { return !outputPath_.isEmpty(); }

    // The microphone and loudspeaker of the calls, from and into these files.
    void attach(cfb::CallSession& calls);
    // The input from its start, and nothing heard yet.
    void callStarted();
    // Writes what the call heard; false with a reason when that fails. Nothing without an output
    // or when the call carried no sound.
    bool callEnded(QString& error);

    // audio at VoiceFormat's rate.
    static std::vector<int16_t> resampled(const cfb::WavAudio& audio);

private:
    void capture(int16_t* frame);
    void playback(const int16_t* frame);

    std::vector<int16_t> input_;
    std::size_t inputAt_ = 0;
    QString outputPath_;
    std::vector<int16_t> heard_;
};
