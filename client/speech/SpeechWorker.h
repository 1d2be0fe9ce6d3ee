#pragma once

#include "speech/MouthTimeline.h"
#include "speech/VoiceTuning.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QVector>

#include <atomic>

namespace cfb::client {

class EspeakRuntime;

// One text to synthesise, with the voice and tuning it was queued with.
struct SpeechRequest {
    quint64 id = 0;
    QString text;
    QByteArray voice;
    VoiceTuning tuning;
};

// Runs espeak-ng on the thread it lives on. Each request's audio comes back in pieces as it is
// synthesised (16-bit mono samples at the runtime's rate) with the phonemes that start in them,
// then done(); requests are handled in the order they arrive.
class SpeechWorker : public QObject {
    Q_OBJECT
public:
    explicit SpeechWorker(EspeakRuntime& runtime);

    // Thread-safe: requests with an id below this one are dropped, and one under way stops.
    void cancelBelow(quint64 id) { cancelBelow_.store(id); }

public slots:
    void synthesise(const cfb::client::SpeechRequest& request);

signals:
    void chunk(quint64 id, const QByteArray& pcm, const QVector<cfb::client::PhonemeMark>& marks);
    void done(quint64 id, int totalMs);

private:
    // espeak-ng's synthesis callback; events is the library's event list.
    static int onSynth(short* samples, int count, void* events);

    EspeakRuntime& runtime_;
    std::atomic<quint64> cancelBelow_{0};
    quint64 current_ = 0;
    qint64 samples_ = 0;
};

} // namespace cfb::client

Q_DECLARE_METATYPE(cfb::client::SpeechRequest)
Q_DECLARE_METATYPE(cfb::client::PhonemeMark)
