#include "speech/EspeakSpeechEngine.h"

#include "speech/EspeakRuntime.h"
#include "speech/MouthWidget.h"
#include "speech/SinkPlayback.h"
#include "speech/SpeechWorker.h"
#include "speech/VoicesDialog.h"
#include "speech/WallClockPlayback.h"

#include <QLocale>
#include <QMediaDevices>

#include <syslog.h>

#include <algorithm>

namespace cfb::client {

namespace {

// The clock rate of the silent stream when there is no synthesiser to say what it would be.
constexpr int SilentSampleRate = 22050;
// The mouth is checked at least this often while it speaks (the audio clock moves in steps).
constexpr int LongestTickMs = 20;

} // namespace

EspeakSpeechEngine::EspeakSpeechEngine(const Options& options, QObject* parent)
    : SpeechEngine(parent)
    , runtime_(EspeakRuntime::instance(options.dataPath))
    , eventLog_(options.eventLog)
    , tuning_(VoiceTuning::load())
{
    QString off;
    if (!runtime_.ready()) {
        off = runtime_.problem();
    } else if (!options.useAudioDevice) {
        off = QStringLiteral("audio output disabled");
    } else {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            off = QStringLiteral("no audio output device");
        } else {
            auto sink = std::make_unique<SinkPlayback>(device, runtime_.sampleRate());
            if (sink->started()) {
                connect(sink.get(), &SinkPlayback::failed, this, &EspeakSpeechEngine::onOutputFailed);
                playback_ = std::move(sink);
                audioAvailable_ = true;
            } else {
                off = QStringLiteral("the audio output \"%1\" did not start").arg(device.description());
            }
        }
    }
    if (!playback_)
        playback_ = std::make_unique<WallClockPlayback>(runtime_.ready() ? runtime_.sampleRate() : SilentSampleRate);
    if (!off.isEmpty())
        logLine(QStringLiteral("Speech is off (%1); the mouth still moves.").arg(off));

    worker_ = new SpeechWorker(runtime_);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(this, &EspeakSpeechEngine::synthesisRequested, worker_, &SpeechWorker::synthesise, Qt::QueuedConnection);
    connect(worker_, &SpeechWorker::chunk, this, &EspeakSpeechEngine::onChunk, Qt::QueuedConnection);
    connect(worker_, &SpeechWorker::done, this, &EspeakSpeechEngine::onDone, Qt::QueuedConnection);
    thread_.setObjectName(QStringLiteral("espeak-ng"));
    thread_.start();

    animation_.setSingleShot(true);
    animation_.setTimerType(Qt::PreciseTimer);
    connect(&animation_, &QTimer::timeout, this, &EspeakSpeechEngine::animate);
}

EspeakSpeechEngine::~EspeakSpeechEngine()
{
    stop();
    thread_.quit();
    thread_.wait();
}

bool EspeakSpeechEngine::synthesisAvailable() const
{
    return runtime_.ready();
}

void EspeakSpeechEngine::speak(const QString& text, MouthWidget* mouth)
{
    speakWith(text, currentVoice_, tuning_, mouth);
}

void EspeakSpeechEngine::speakWith(const QString& text, int voice, const VoiceTuning& tuning, MouthWidget* mouth)
{
    if (text.trimmed().isEmpty())
        return;
    if (holding_) {
        held_.push_back(HeldText{text, voice, tuning, mouth, mouth != nullptr});
        return;
    }
    const quint64 id = nextId_++;
    queue_.push_back(Utterance{id, text, mouth, mouth != nullptr, {}, false, 0, false});
    if (synthesisAvailable()) {
        const int index = voice >= 1 && voice <= voiceCount() ? voice : currentVoice_;
        emit synthesisRequested(SpeechRequest{id, text, runtime_.voices().at(index - 1).selector, tuning});
        return;
    }
    // No synthesiser: a silent stream as long as the letters take, and their shapes.
    Utterance& u = queue_.back();
    u.timeline = MouthTimeline::fromText(text);
    begin(u);
    playback_->append(QByteArray(qsizetype(u.timeline.endMs()) * playback_->sampleRate() / 1000 * 2, '\0'));
    u.synthesised = true;
    const MouthTimeline timeline = u.timeline;
    emit textStarted(text);
    emit textSynthesised(text, timeline);
    animate();
}

void EspeakSpeechEngine::setHeld(bool held)
{
    if (held == holding_)
        return;
    holding_ = held;
    // The text being spoken stops where it is, its mouth closed, and goes on from there.
    playback_->setPaused(held);
    if (held) {
        animation_.stop();
        for (const Utterance& u : queue_)
            showShape(u.mouth, MouthShape::Closed);
        return;
    }
    animate();
    // Taken first: speaking may run receivers that hold or speak again.
    const std::deque<HeldText> waiting = std::move(held_);
    held_.clear();
    for (const HeldText& t : waiting) {
        if (holding_) {
            held_.push_back(t);
            continue;
        }
        // A mouth whose window closed meanwhile is left out; the text is still heard.
        speakWith(t.text, t.voice, t.tuning, t.hasMouth ? t.mouth.data() : nullptr);
    }
}

void EspeakSpeechEngine::stop()
{
    held_.clear();
    if (worker_)
        worker_->cancelBelow(nextId_);
    // Emptied first: closing a mouth runs its watchers, which may queue new text.
    const std::deque<Utterance> dropped = std::move(queue_);
    queue_.clear();
    playback_->clear();
    animation_.stop();
    for (const Utterance& u : dropped)
        if (u.mouth)
            u.mouth->setShape(MouthShape::Closed);
    if (shownShape_ != MouthShape::Closed) {
        shownShape_ = MouthShape::Closed;
        emit mouthShapeChanged(shownShape_);
    }
}

EspeakSpeechEngine::Utterance* EspeakSpeechEngine::find(quint64 id)
{
    const auto it = std::find_if(queue_.begin(), queue_.end(), [id](const Utterance& u) { return u.id == id; });
    return it == queue_.end() ? nullptr : &*it;
}

bool EspeakSpeechEngine::begin(Utterance& u)
{
    if (u.begun)
        return false;
    u.begun = true;
    u.startUs = playback_->queuedUs();
    return true;
}

void EspeakSpeechEngine::onChunk(quint64 id, const QByteArray& pcm, const QVector<PhonemeMark>& marks)
{
    Utterance* u = find(id);
    if (!u)
        return; // stopped meanwhile
    const bool started = begin(*u);
    for (const PhonemeMark& mark : marks)
        u->timeline.add(mark);
    if (!pcm.isEmpty())
        playback_->append(pcm);
    // The signals last: their receivers may speak or stop, which changes the queue.
    if (started)
        emit textStarted(QString(u->text));
    if (!pcm.isEmpty())
        emit audioReady(pcm);
    if (!animation_.isActive())
        animate();
}

void EspeakSpeechEngine::onDone(quint64 id, int totalMs)
{
    Utterance* u = find(id);
    if (!u)
        return;
    const bool started = begin(*u);
    u->timeline.finish(totalMs);
    u->synthesised = true;
    const QString text = u->text;
    const MouthTimeline timeline = u->timeline;
    if (started)
        emit textStarted(text);
    emit textSynthesised(text, timeline);
    animate();
}

void EspeakSpeechEngine::animate()
{
    if (holding_)
        return; // the mouths stay closed until speech goes on

    const qint64 now = playback_->playedUs();
    while (!queue_.empty()) {
        Utterance& u = queue_.front();
        if (!u.begun)
            return; // no audio yet: a chunk or the end of synthesis calls again
        const Utterance* next = queue_.size() > 1 ? &queue_[1] : nullptr;
        // A text ends where the next one's audio starts, or where the stream ends.
        const qint64 endUs = next && next->begun ? next->startUs : playback_->queuedUs();
        if (u.synthesised && now >= endUs) {
            const Utterance done = std::move(u);
            queue_.pop_front();
            showShape(done.mouth, MouthShape::Closed);
            emit textFinished(done.text);
            continue;
        }
        const int ms = int(std::max<qint64>(0, now - u.startUs) / 1000);
        const int change = u.timeline.nextChangeAfter(ms);
        animation_.start(change < 0 ? LongestTickMs : std::clamp(change - ms, 1, LongestTickMs));
        showShape(u.mouth, u.timeline.shapeAt(ms));
        return;
    }
}

void EspeakSpeechEngine::showShape(const QPointer<MouthWidget>& mouth, MouthShape shape)
{
    if (mouth)
        mouth->setShape(shape);
    if (shape != shownShape_) {
        shownShape_ = shape;
        emit mouthShapeChanged(shape);
    }
}

QString EspeakSpeechEngine::voiceName(int index) const
{
    return index >= 1 && index <= voiceCount() ? runtime_.voices().at(index - 1).name : QString();
}

// The language of the voice's selector ("en-us+f3" is English), in English; empty for a code the
// locale data does not know.
QString EspeakSpeechEngine::voiceLanguage(int index) const
{
    if (index < 1 || index > voiceCount())
        return QString();
    const QByteArray selector = runtime_.voices().at(index - 1).selector;
    const QString code
        = QString::fromLatin1(selector.left(selector.indexOf('+') < 0 ? selector.size() : selector.indexOf('+')));
    const QLocale::Language language = QLocale(code.section(u'-', 0, 0)).language();
    return language == QLocale::C || language == QLocale::AnyLanguage ? QString() : QLocale::languageToString(language);
}

int EspeakSpeechEngine::voiceCount() const
{
    return int(runtime_.voices().size());
}

void EspeakSpeechEngine::setCurrentVoice(int index)
{
    if (index >= 1 && index <= voiceCount())
        currentVoice_ = index;
}

void EspeakSpeechEngine::showVoicesDialog(QWidget* owner, const QString& title)
{
    QStringList names;
    for (int i = 1; i <= voiceCount(); ++i)
        names << voiceName(i);
    VoicesDialog dialog(names, currentVoice_, tuning_, title, owner);
    connect(&dialog, &VoicesDialog::speakRequested, this,
        [this](const QString& text, int voice, const VoiceTuning& tuning) { speakWith(text, voice, tuning); });
    if (dialog.exec() != QDialog::Accepted)
        return;
    tuning_ = dialog.tuning();
    tuning_.save();
    if (dialog.voice() != currentVoice_) {
        setSwitchFlag(true);
        setCurrentVoice(dialog.voice());
        setSwitchFlag(false);
    }
}

void EspeakSpeechEngine::onOutputFailed(const QString& why)
{
    // The rest of what was queued runs on the wall clock from where the device stopped, so the
    // queue still drains and the mouth still moves.
    const qint64 played = playback_->playedUs(), queued = playback_->queuedUs();
    auto silent = std::make_unique<WallClockPlayback>(playback_->sampleRate());
    silent->append(QByteArray(qsizetype((queued - played) * silent->sampleRate() / 1000000) * 2, '\0'));
    for (Utterance& u : queue_)
        u.startUs -= played;
    // This runs inside the failing output's own signal: it goes once that has returned.
    if (auto* output = dynamic_cast<QObject*>(playback_.get())) {
        playback_.release();
        output->deleteLater();
    }
    playback_ = std::move(silent);
    audioAvailable_ = false;
    logLine(QStringLiteral("Speech is off (%1); the mouth still moves.").arg(why));
    animate();
}

void EspeakSpeechEngine::logLine(const QString& line) const
{
    if (eventLog_) {
        eventLog_(line);
        return;
    }
    syslog(LOG_WARNING, "%s", line.toUtf8().constData());
}

} // namespace cfb::client
