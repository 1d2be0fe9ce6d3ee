#pragma once

#include "speech/MouthTimeline.h"
#include "speech/SpeechEngine.h"
#include "speech/VoiceTuning.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

namespace cfb::client {

class EspeakRuntime;
class SpeechPlayback;
class SpeechWorker;
struct SpeechRequest;
struct PhonemeMark;

// SpeechEngine on espeak-ng. Texts are synthesised on a worker thread of the engine's own; their
// audio and phonemes come back to this thread as queued signals, the audio goes to the default
// audio output as each piece arrives, and the phonemes become mouth shapes shown in step with
// the audio clock. Without an audio device the same timeline runs on the wall clock; without
// voice data the mouth follows the letters of the text.
class EspeakSpeechEngine : public SpeechEngine {
    Q_OBJECT
public:
    struct Options {
        // The espeak-ng-data folder; empty for the library's own search. Only the first engine
        // of a process decides it.
        QString dataPath;
        // False plays nothing even when a device exists.
        bool useAudioDevice = true;
        // Receives the one line saying why speech is off; empty logs to syslog.
        std::function<void(const QString&)> eventLog;
    };

    explicit EspeakSpeechEngine(QObject* parent = nullptr)
        : EspeakSpeechEngine(Options{}, parent)
    {
    }
    explicit EspeakSpeechEngine(const Options& options, QObject* parent = nullptr);
    ~EspeakSpeechEngine() override;

    void speak(const QString& text, MouthWidget* mouth = nullptr) override;
    // Speaks with a voice and tuning of the caller's, leaving the engine's own alone.
    void speakWith(const QString& text, int voice, const VoiceTuning& tuning, MouthWidget* mouth = nullptr);
    // Drops every text not yet spoken (held ones too) and closes the mouths.
    void stop();
    void setHeld(bool held) override;
    bool held() const { return holding_; }

    QString voiceName(int index) const override;
    QString voiceLanguage(int index) const override;
    int voiceCount() const;
    int currentVoice() const override { return currentVoice_; }
    // An index with no voice is ignored.
    void setCurrentVoice(int index) override;
    // Recorded only: each text keeps the voice it was queued with, so a switch never changes a
    // text already waiting.
    void setSwitchFlag(bool on) override { switching_ = on; }
    bool switchFlag() const { return switching_; }

    void showVoicesDialog(QWidget* owner, const QString& title) override;
    const VoiceTuning& tuning() const { return tuning_; }

    // Whether texts are heard. synthesisAvailable() is whether the mouth follows real phonemes.
    bool audioAvailable() const override { return audioAvailable_; }
    bool synthesisAvailable() const;

signals:
    // A piece of the text's audio, handed to playback the moment it arrives from the worker.
    void audioReady(const QByteArray& pcm);
    void textStarted(const QString& text);
    // The whole of a text has been synthesised; its timeline is complete.
    void textSynthesised(const QString& text, const cfb::client::MouthTimeline& timeline);
    // The text's audio has been played and its mouth closed.
    void textFinished(const QString& text);
    void mouthShapeChanged(cfb::client::MouthShape shape);
    // Queued to the worker.
    void synthesisRequested(const cfb::client::SpeechRequest& request);

private:
    struct Utterance {
        quint64 id;
        QString text;
        QPointer<MouthWidget> mouth;
        bool hasMouth;
        MouthTimeline timeline;
        bool begun = false; // its first sample is in the stream
        qint64 startUs = 0; // stream position of its first sample
        bool synthesised = false;
    };

    struct HeldText {
        QString text;
        int voice;
        VoiceTuning tuning;
        QPointer<MouthWidget> mouth;
        bool hasMouth;
    };

    void onChunk(quint64 id, const QByteArray& pcm, const QVector<PhonemeMark>& marks);
    void onDone(quint64 id, int totalMs);
    Utterance* find(quint64 id);
    // Places the text's start at the end of the stream; false when it already has one.
    bool begin(Utterance& u);
    void animate();
    void showShape(const QPointer<MouthWidget>& mouth, MouthShape shape);
    void logLine(const QString& line) const;
    void onOutputFailed(const QString& why);

    EspeakRuntime& runtime_;
    std::function<void(const QString&)> eventLog_;
    std::unique_ptr<SpeechPlayback> playback_;
    bool audioAvailable_ = false;
    QThread thread_;
    SpeechWorker* worker_ = nullptr; // lives on thread_
    std::deque<Utterance> queue_;
    bool holding_ = false;
    std::deque<HeldText> held_;
    quint64 nextId_ = 1;
    int currentVoice_ = 1;
    bool switching_ = false;
    VoiceTuning tuning_;
    MouthShape shownShape_ = MouthShape::Closed;
    QTimer animation_;
};

} // namespace cfb::client
