#include "speech/SpeechWorker.h"

#include "speech/EspeakRuntime.h"

#include <espeak-ng/speak_lib.h>

#include <cstring>

namespace cfb::client {

namespace {

// espeak-ng calls back on the synthesising thread from inside espeak_Synth; this says to whom.
thread_local SpeechWorker* synthesising = nullptr;

} // namespace

SpeechWorker::SpeechWorker(EspeakRuntime& runtime)
    : runtime_(runtime)
{
    static const bool registered = [] {
        qRegisterMetaType<SpeechRequest>();
        qRegisterMetaType<QVector<PhonemeMark>>();
        return true;
    }();
    Q_UNUSED(registered);
}

void SpeechWorker::synthesise(const SpeechRequest& request)
{
    if (request.id < cancelBelow_.load())
        return;
    current_ = request.id;
    samples_ = 0;
    if (runtime_.ready()) {
        std::lock_guard guard(runtime_.lock());
        runtime_.selectVoice(request.voice);
        espeak_SetParameter(espeakRATE, request.tuning.rate, 0);
        espeak_SetParameter(espeakPITCH, request.tuning.pitch, 0);
        espeak_SetParameter(espeakVOLUME, request.tuning.volume, 0);
        espeak_SetSynthCallback([](short* s, int n, espeak_EVENT* e) { return SpeechWorker::onSynth(s, n, e); });
        const QByteArray text = request.text.toUtf8();
        synthesising = this;
        espeak_Synth(
            text.constData(), size_t(text.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        synthesising = nullptr;
    }
    emit done(request.id, runtime_.sampleRate() > 0 ? int(samples_ * 1000 / runtime_.sampleRate()) : 0);
}

int SpeechWorker::onSynth(short* samples, int count, void* eventList)
{
    auto* events = static_cast<espeak_EVENT*>(eventList);
    SpeechWorker* self = synthesising;
    if (!self)
        return 1;
    if (self->current_ < self->cancelBelow_.load())
        return 1;
    QVector<PhonemeMark> marks;
    for (espeak_EVENT* e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
        if (e->type != espeakEVENT_PHONEME)
            continue;
        // The name fills all eight bytes when it needs them, without a terminating zero.
        marks.append(PhonemeMark{e->audio_position, QByteArray(e->id.string, int(strnlen(e->id.string, 8)))});
    }
    if (count <= 0 && marks.isEmpty())
        return 0;
    const QByteArray pcm(reinterpret_cast<const char*>(samples), count > 0 ? count * int(sizeof(short)) : 0);
    self->samples_ += count > 0 ? count : 0;
    emit self->chunk(self->current_, pcm, marks);
    return 0;
}

} // namespace cfb::client
