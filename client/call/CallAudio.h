#pragma once

#include "call/AudioRing.h"

#include <QAudioDevice>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>

namespace cfb::client {

// The sound of a call on this computer: the microphone (QAudioSource) and the loudspeaker
// (QAudioSink) run on a thread of their own and meet the call's 20 ms frames in two rings, so
// that nothing of the devices waits on the window's thread or it on them. The devices are the
// ones Setup chose ("Audio Input", "Audio Output"), the system's defaults when none was chosen
// or the chosen one is gone. Without a device the call goes on: silence is sent in place of the
// microphone and what is heard goes nowhere.
class CallAudio : public QObject {
    Q_OBJECT
public:
    explicit CallAudio(QObject* parent = nullptr);
    ~CallAudio() override;

    // The devices the settings name now; a null device for none.
    static QAudioDevice chosenInput();
    static QAudioDevice chosenOutput();

    void start();
    void stop();
    bool running() const { return running_; }
    void setMuted(bool muted) { muted_ = muted; }
    bool muted() const { return muted_; }

    // For the call, on its own thread: one frame of the microphone (silence while muted, or for
    // what has not come yet), and one frame to play.
    void capture(int16_t* frame);
    void play(const int16_t* frame);

private:
    class Devices;

    AudioRing microphone_;
    AudioRing loudspeaker_;
    std::atomic<bool> muted_ = false;
    bool running_ = false;
    QThread thread_;
    Devices* devices_ = nullptr; // lives on thread_
};

} // namespace cfb::client
