#pragma once

#include "audio/AudioProcessor.h"
#include "audio/JitterBuffer.h"
#include "audio/OpusEncoder.h"
#include "audio/VoiceFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace cfb {

// One call at a time with one buddy: the signalling (invite, ringing, answer, decline, busy,
// hang up; a call not answered within the ring time ends as missed; a second caller hears busy)
// and, while the call is up, the sound both ways, on a 20 ms timer: a microphone frame is
// cleaned of echo (AudioProcessor), encoded (OpusEncoder) and sent; the buddy's packets go
// through a JitterBuffer and each played frame is handed to playback (and to the canceller as
// the far end). Signals that may be lost (invite, answer) are sent again until answered.
// Nothing here knows the network: send carries a content to the handle (the encrypted channel).
class CallSession : public QObject {
    Q_OBJECT

public:
    enum class State { Idle, Calling, Ringing, Active };
    using Send = std::function<bool(const QString& handle, QByteArrayView content)>;
    // Fills one frame of VoiceFormat::FrameSamples samples (the microphone); silence when unset.
    using Capture = std::function<void(int16_t* frame)>;
    using Playback = std::function<void(const int16_t* frame)>;

    static constexpr int DefaultRingMs = 45000;
    static constexpr int ResendMs = 1000;
    // A call whose buddy sends nothing for this long has failed.
    static constexpr int SilentPeerMs = 10000;
    // How often an active call times its round trip.
    static constexpr int ProbeMs = 1000;

    explicit CallSession(Send send, QObject* parent = nullptr);

    void setCapture(Capture capture) { capture_ = std::move(capture); }
    void setPlayback(Playback playback) { playback_ = std::move(playback); }
    void setRingMs(int ms) { ringMs_ = ms; }
    void setEchoCancellation(bool on) { cancelEcho_ = on; }

    State state() const { return state_; }
    QString peer() const { return peer_; }

    // False when a call is on already or the invite could not be sent.
    bool call(const QString& handle);
    bool answer();
    bool decline();
    bool hangup();
    // A call content from handle (one of CallContent's kinds), from a key known as handle's.
    void receive(const QString& handle, QByteArrayView content);

    // What came of the buddy's packets in the current (or last) call; nullptr before the first.
    const JitterBuffer* jitter() const { return jitter_.get(); }
    // The current call's round trip, smoothed over its probes; -1 until the first echo.
    int roundTripMs() const { return roundTripMs_; }

signals:
    void incoming(const QString& handle);
    void started(const QString& handle);
    // reason: hangup, declined, busy, missed, failed.
    void ended(const QString& handle, const QString& reason);

private:
    void tick();
    void start();
    void end(const QString& reason);
    void echoed(uint32_t clockMs);
    void reset(State state, const QString& handle, uint32_t id);
    bool sendSignal(uint8_t kind, const QString& handle, uint32_t id);
    int64_t now() const { return clock_.elapsed(); }

    Send send_;
    Capture capture_;
    Playback playback_;
    QTimer timer_;
    QElapsedTimer clock_;
    State state_ = State::Idle;
    QString peer_;
    uint32_t id_ = 0;
    int ringMs_ = DefaultRingMs;
    bool cancelEcho_ = true;
    int64_t since_ = 0; // when the state began
    int64_t lastSignalAt_ = 0;
    int64_t heardAt_ = 0; // the buddy's last content of this call
    int64_t probedAt_ = 0;
    int roundTripMs_ = -1;

    AudioProcessor processor_;
    OpusEncoder encoder_;
    std::unique_ptr<JitterBuffer> jitter_; // new for each call
    uint16_t sequence_ = 0;
    uint32_t timestamp_ = 0;
    std::array<int16_t, VoiceFormat::FrameSamples> mic_{}, speaker_{};
    QByteArray packet_;
};

} // namespace cfb
