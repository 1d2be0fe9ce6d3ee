#include "audio/CallSession.h"

#include "audio/CallContent.h"

#include <sodium.h>

namespace cfb {

CallSession::CallSession(Send send, QObject* parent)
    : QObject(parent)
    , send_(std::move(send))
{
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(VoiceFormat::FrameMs);
    connect(&timer_, &QTimer::timeout, this, &CallSession::tick);
}

void CallSession::reset(State state, const QString& handle, uint32_t id)
{
    state_ = state;
    peer_ = handle;
    id_ = id;
    since_ = lastSignalAt_ = heardAt_ = probedAt_ = now();
    roundTripMs_ = -1;
    if (state == State::Idle)
        timer_.stop();
    else
        timer_.start();
}

bool CallSession::sendSignal(uint8_t kind, const QString& handle, uint32_t id)
{
    lastSignalAt_ = now();
    return send_(handle, CallContent::signal(CallContent::Kind(kind), id));
}

bool CallSession::call(const QString& handle)
{
    if (state_ != State::Idle || handle.isEmpty())
        return false;
    uint32_t id = 0;
    while (id == 0)
        id = randombytes_random();
    if (!send_(handle, CallContent::signal(CallContent::Invite, id)))
        return false;
    reset(State::Calling, handle, id);
    return true;
}

bool CallSession::answer()
{
    if (state_ != State::Ringing)
        return false;
    sendSignal(CallContent::Answer, peer_, id_);
    start();
    return true;
}

bool CallSession::decline()
{
    if (state_ != State::Ringing)
        return false;
    sendSignal(CallContent::Decline, peer_, id_);
    end(QStringLiteral("declined"));
    return true;
}

bool CallSession::hangup()
{
    if (state_ == State::Idle)
        return false;
    if (state_ == State::Ringing)
        return decline();
    // Twice: there is no answer to a hang-up, and a lost one would leave the buddy waiting for
    // the silence timeout.
    sendSignal(CallContent::Hangup, peer_, id_);
    sendSignal(CallContent::Hangup, peer_, id_);
    end(QStringLiteral("hangup"));
    return true;
}

void CallSession::start()
{
    const QString handle = peer_;
    const uint32_t id = id_;
    reset(State::Active, handle, id);
    encoder_.open();
    jitter_ = std::make_unique<JitterBuffer>();
    sequence_ = uint16_t(randombytes_random());
    timestamp_ = randombytes_random();
    emit started(handle);
}

void CallSession::end(const QString& reason)
{
    const QString handle = peer_;
    reset(State::Idle, {}, 0);
    encoder_.close();
    emit ended(handle, reason);
}

void CallSession::receive(const QString& handle, QByteArrayView content)
{
    using namespace CallContent;
    const std::optional<Fields> fields = read(content);
    if (!fields)
        return;
    const bool ours = state_ != State::Idle && fields->callId == id_ && handle.compare(peer_, Qt::CaseInsensitive) == 0;
    if (fields->kind == Invite) {
        if (state_ == State::Idle) {
            reset(State::Ringing, handle, fields->callId);
            sendSignal(Ringing, handle, fields->callId);
            emit incoming(handle);
        } else if (ours && state_ == State::Ringing) {
            sendSignal(Ringing, handle, fields->callId); // the first was lost
        } else if (ours && state_ == State::Active) {
            sendSignal(Answer, handle, fields->callId); // the answer was lost
        } else if (!ours) {
            sendSignal(Busy, handle, fields->callId);
        }
        return;
    }
    if (!ours)
        return; // a call that ended, or someone else's
    heardAt_ = now();
    switch (fields->kind) {
    case Ringing:
        return;
    case Answer:
        if (state_ == State::Calling)
            start();
        return;
    case Decline:
        if (state_ == State::Calling)
            end(QStringLiteral("declined"));
        return;
    case Busy:
        if (state_ == State::Calling)
            end(QStringLiteral("busy"));
        return;
    case Hangup:
        end(state_ == State::Ringing ? QStringLiteral("missed") : QStringLiteral("hangup"));
        return;
    case Audio:
        if (state_ == State::Calling)
            start(); // the answer was lost, its sound was not
        if (state_ == State::Active)
            jitter_->push(fields->sequence, fields->timestamp, now(), fields->payload);
        return;
    case Probe:
        if (state_ == State::Active)
            send_(peer_, probe(Echo, id_, fields->timestamp));
        return;
    case Echo:
        if (state_ == State::Active)
            echoed(fields->timestamp);
        return;
    case Invite:
        return;
    }
}

void CallSession::echoed(uint32_t clockMs)
{
    // Modulo 2^32 ms, as the probe carried it; an echo from before this call's clock is dropped.
    const uint32_t ms = uint32_t(now()) - clockMs;
    if (ms > uint32_t(SilentPeerMs))
        return;
    // Smoothed as TCP smooths its round trip, so one late echo does not swing the figure.
    roundTripMs_ = roundTripMs_ < 0 ? int(ms) : (7 * roundTripMs_ + int(ms) + 4) / 8;
}

void CallSession::tick()
{
    const int64_t t = now();
    switch (state_) {
    case State::Idle:
        return;
    case State::Calling:
        if (t - since_ >= ringMs_) {
            sendSignal(CallContent::Hangup, peer_, id_);
            end(QStringLiteral("missed"));
        } else if (t - lastSignalAt_ >= ResendMs) {
            sendSignal(CallContent::Invite, peer_, id_);
        }
        return;
    case State::Ringing:
        // The caller gives up at the same time (and says so); this side does not wait for it.
        if (t - since_ >= ringMs_ + ResendMs)
            end(QStringLiteral("missed"));
        return;
    case State::Active:
        break;
    }
    if (t - heardAt_ >= SilentPeerMs) {
        sendSignal(CallContent::Hangup, peer_, id_);
        end(QStringLiteral("failed"));
        return;
    }
    if (t - probedAt_ >= ProbeMs) {
        probedAt_ = t;
        send_(peer_, CallContent::probe(CallContent::Probe, id_, uint32_t(t)));
    }
    if (capture_)
        capture_(mic_.data());
    else
        mic_.fill(0);
    if (cancelEcho_ && processor_.isValid())
        processor_.nearEnd(mic_.data(), mic_.data());
    const QByteArrayView opus = encoder_.encode(mic_.data());
    if (!opus.isEmpty()) {
        CallContent::audio(id_, sequence_, timestamp_, opus, packet_);
        send_(peer_, packet_);
    }
    ++sequence_;
    timestamp_ += VoiceFormat::FrameSamples;

    jitter_->pull(speaker_.data(), t);
    if (cancelEcho_ && processor_.isValid())
        processor_.farEnd(speaker_.data());
    if (playback_)
        playback_(speaker_.data());
}

} // namespace cfb
