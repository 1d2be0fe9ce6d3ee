#include "speech/EspeakSpeechEngine.h"
#include "SpeechWait.h"
#include "TempConfig.h"
#include "platform/Settings.h"
#include "speech/MouthWidget.h"
#include "speech/VoicesDialog.h"

#include <QApplication>
#include <QAudioDevice>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace cfb::client;

namespace {

// A quiet engine: the tests listen to its signals, not to the loudspeaker.
EspeakSpeechEngine::Options silent()
{
    EspeakSpeechEngine::Options options;
    options.useAudioDevice = false;
    options.eventLog = [](const QString&) {};
    return options;
}

// Speaks text and returns the timeline and audio that came back for it.
struct Spoken {
    MouthTimeline timeline;
    QByteArray audio;
};

Spoken synthesise(EspeakSpeechEngine& engine, const QString& text)
{
    Spoken result;
    bool done = false;
    QObject scope;
    QObject::connect(
        &engine, &EspeakSpeechEngine::audioReady, &scope, [&](const QByteArray& pcm) { result.audio += pcm; });
    QObject::connect(
        &engine, &EspeakSpeechEngine::textSynthesised, &scope, [&](const QString&, const MouthTimeline& timeline) {
            result.timeline = timeline;
            done = true;
        });
    engine.speak(text);
    EXPECT_TRUE(waitUntil([&] { return done; }));
    engine.stop();
    return result;
}

// The median fundamental frequency of the voiced parts of 16-bit mono audio at 22050 Hz, from
// the autocorrelation peak of each loud 40 ms frame between 70 and 400 Hz.
double medianPitch(const QByteArray& pcm)
{
    const auto* x = reinterpret_cast<const qint16*>(pcm.constData());
    const int n = int(pcm.size() / 2), frame = 882, minLag = 22050 / 400, maxLag = 22050 / 70;
    std::vector<double> pitches;
    for (int start = 0; start + frame + maxLag < n; start += frame) {
        double energy = 0;
        for (int i = 0; i < frame; ++i)
            energy += double(x[start + i]) * x[start + i];
        if (energy / frame < 1e6)
            continue;
        int best = 0;
        double bestScore = 0.5;
        for (int lag = minLag; lag <= maxLag; ++lag) {
            double sum = 0, other = 0;
            for (int i = 0; i < frame; ++i) {
                sum += double(x[start + i]) * x[start + i + lag];
                other += double(x[start + i + lag]) * x[start + i + lag];
            }
            const double score = sum / std::sqrt(energy * other + 1);
            if (score > bestScore) {
                bestScore = score;
                best = lag;
            }
        }
        if (best)
            pitches.push_back(22050.0 / best);
    }
    if (pitches.empty())
        return 0;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}

bool isVowel(const QByteArray& phoneme)
{
    return !phoneme.isEmpty() && QByteArray("aAeEiIoOuUV@3").contains(phoneme.at(0));
}

class SpeechTest : public ::testing::Test {
protected:
    TempConfig config;
};

} // namespace

TEST_F(SpeechTest, TimelineClosesOnLipConsonantsOpensOnVowelsAndRestsClosed)
{
    EspeakSpeechEngine engine(silent());
    ASSERT_TRUE(engine.synthesisAvailable());
    const Spoken spoken = synthesise(engine, QStringLiteral("Bob made a map by the pool, and Amy bought a big lamp."));
    const MouthTimeline& timeline = spoken.timeline;
    ASSERT_TRUE(timeline.finished());
    EXPECT_EQ(timeline.endMs(), int(spoken.audio.size() / 2 * 1000 / 22050));
    EXPECT_EQ(timeline.shapeAt(0), MouthShape::Closed);
    EXPECT_EQ(timeline.shapeAt(timeline.endMs()), MouthShape::Closed);
    EXPECT_EQ(timeline.shapeAt(timeline.endMs() - 1), MouthShape::Closed) << "the audio ends in a pause";

    int lips = 0, vowels = 0;
    for (const MouthTimeline::Key& key : timeline.keys()) {
        if (key.phoneme == "p" || key.phoneme == "b" || key.phoneme == "m") {
            ++lips;
            EXPECT_EQ(timeline.shapeAt(key.ms), MouthShape::Closed) << key.phoneme.constData() << " at " << key.ms;
        } else if (isVowel(key.phoneme)) {
            ++vowels;
            EXPECT_NE(timeline.shapeAt(key.ms), MouthShape::Closed) << key.phoneme.constData() << " at " << key.ms;
        }
    }
    EXPECT_GE(lips, 8);
    EXPECT_GE(vowels, 10);
}

TEST_F(SpeechTest, TextsQueuedAtOnceAreAllSpokenInOrder)
{
    EspeakSpeechEngine engine(silent());
    QStringList started, finished;
    QObject::connect(&engine, &EspeakSpeechEngine::textStarted, [&](const QString& text) { started << text; });
    QObject::connect(&engine, &EspeakSpeechEngine::textFinished, [&](const QString& text) { finished << text; });
    VoiceTuning fast = engine.tuning();
    fast.rate = VoiceTuning::MaxRate;
    const QStringList texts{"One.", "Two, too.", "Three", "Four for you.", "Five"};
    for (const QString& text : texts)
        engine.speakWith(text, 1, fast);
    engine.speak(QStringLiteral("   ")); // nothing to say: not queued

    ASSERT_TRUE(waitUntil([&] { return finished.size() == texts.size(); }));
    EXPECT_EQ(started, texts);
    EXPECT_EQ(finished, texts);

    // Held (a call is on): the text being spoken stops where it is with its mouth closed, one
    // given meanwhile waits, and on release both go on in order, none lost.
    const QString counting = QStringLiteral("Six, seven, eight, nine, ten, eleven, twelve.");
    int countingMs = -1;
    QElapsedTimer since;
    qint64 countingFinishedAt = -1;
    QList<MouthShape> whileHeld;
    bool holding = false;
    QObject::connect(&engine, &EspeakSpeechEngine::textSynthesised, [&](const QString& text, const MouthTimeline& t) {
        if (text == counting)
            countingMs = t.endMs();
    });
    QObject::connect(&engine, &EspeakSpeechEngine::textFinished, [&](const QString& text) {
        if (text == counting)
            countingFinishedAt = since.elapsed();
    });
    QObject::connect(&engine, &EspeakSpeechEngine::mouthShapeChanged, [&](MouthShape shape) {
        if (holding)
            whileHeld << shape;
    });
    engine.speakWith(counting, 1, engine.tuning());
    ASSERT_TRUE(waitUntil([&] { return started.size() == texts.size() + 1; }));
    since.start();
    engine.setHeld(true);
    holding = true;
    engine.speakWith("Thirteen", 1, fast);
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    holding = false;
    EXPECT_EQ(started.size(), texts.size() + 1) << "nothing new begun while held";
    EXPECT_EQ(finished.size(), texts.size());
    EXPECT_TRUE(std::all_of(whileHeld.begin(), whileHeld.end(), [](MouthShape m) { return m == MouthShape::Closed; }))
        << "the mouth moved while held";
    engine.setHeld(false);
    ASSERT_TRUE(waitUntil([&] { return finished.size() == texts.size() + 2; }));
    EXPECT_EQ(finished.mid(texts.size()), (QStringList{counting, "Thirteen"}));
    ASSERT_GT(countingMs, 1500) << "long enough to be cut by the hold";
    EXPECT_GE(countingFinishedAt, 1500 + countingMs - 300) << "it went on where it stopped, not over the hold";
}

TEST_F(SpeechTest, VoicesAreNumberedFromOneAndEachTextKeepsItsVoice)
{
    EspeakSpeechEngine engine(silent());
    ASSERT_GT(engine.voiceCount(), 30);
    QStringList names;
    for (int i = 1; i <= 30; ++i)
        names << engine.voiceName(i);
    EXPECT_FALSE(names.contains(QString()));
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_TRUE(engine.voiceName(0).isEmpty());
    EXPECT_TRUE(engine.voiceName(engine.voiceCount() + 1).isEmpty());

    int female = 0;
    for (int i = 30; i >= 1; --i)
        if (engine.voiceName(i).contains("female"))
            female = i;
    ASSERT_GT(female, 1);

    // A voice change between two texts: the first keeps the voice it was queued with.
    const QString text = QStringLiteral("Hello there, how are you today?");
    QVector<QByteArray> audio(1);
    QObject::connect(&engine, &EspeakSpeechEngine::audioReady, [&](const QByteArray& pcm) { audio.last() += pcm; });
    QObject::connect(&engine, &EspeakSpeechEngine::textSynthesised, [&] { audio.append(QByteArray()); });
    engine.speak(text);
    engine.setSwitchFlag(true);
    engine.setCurrentVoice(female);
    engine.setSwitchFlag(false);
    engine.speak(text);
    ASSERT_TRUE(waitUntil([&] { return audio.size() == 3; }));
    engine.stop();
    const double male = medianPitch(audio[0]), higher = medianPitch(audio[1]);
    EXPECT_GT(male, 70);
    EXPECT_LT(male, 160);
    EXPECT_GT(higher, male * 1.4) << "voice " << female << " speaks higher";

    engine.setCurrentVoice(engine.voiceCount() + 1);
    EXPECT_EQ(engine.currentVoice(), female) << "an index with no voice is ignored";
}

TEST_F(SpeechTest, MouthMovesOnTheWallClockWithoutAnAudioDevice)
{
    QStringList log;
    EspeakSpeechEngine::Options options;
    options.eventLog = [&](const QString& line) { log << line; };
    // Offscreen test machines have no audio device; on one with sound, the engine is told not
    // to use it, which takes the same path.
    options.useAudioDevice = QMediaDevices::audioOutputs().isEmpty();
    EspeakSpeechEngine tested(options);
    EXPECT_FALSE(tested.audioAvailable());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().startsWith("Speech is off")) << log.first().toStdString();

    MouthWidget mouth;
    mouth.placeOver(QPoint(10, 20), 300, 150); // twips at 15 per pixel
    EXPECT_EQ(mouth.pos(), QPoint(30, 30));
    QVector<QPair<qint64, MouthShape>> changes;
    QElapsedTimer clock;
    QObject::connect(&mouth, &MouthWidget::shapeChanged, [&](MouthShape s) { changes.append({clock.elapsed(), s}); });
    bool finished = false;
    QObject::connect(&tested, &EspeakSpeechEngine::textFinished, [&] { finished = true; });
    clock.start();
    tested.speak(QStringLiteral("Wide open vowels, then a firm map."), &mouth);
    ASSERT_TRUE(waitUntil([&] { return finished; }));

    ASSERT_GE(changes.size(), 8);
    EXPECT_GE(changes.last().first - changes.first().first, 1000) << "the shapes follow the audio's time";
    EXPECT_EQ(mouth.shape(), MouthShape::Closed);
    EXPECT_GE(clock.elapsed(), 1500);
}

TEST_F(SpeechTest, VoicesDialogKeepsTuningInTheSettingsAndTheEngineUsesIt)
{
    cfb::Settings::SpeechRate.write("9999"); // out of range: the default is used
    cfb::Settings::SpeechPitch.write("loud");
    EspeakSpeechEngine engine(silent());
    EXPECT_EQ(engine.tuning().rate, 175);
    EXPECT_EQ(engine.tuning().pitch, 50);
    const QString text = QStringLiteral("The quick brown fox jumps over the lazy dog.");
    const int normalBytes = int(synthesise(engine, text).audio.size());

    bool spokeTest = false;
    QObject::connect(&engine, &EspeakSpeechEngine::textStarted, [&](const QString& t) { spokeTest |= t == "Testing"; });
    QString title;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<VoicesDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        dialog->findChild<QSlider*>("sldRate")->setValue(350);
        dialog->findChild<QComboBox*>("cmbVoice")->setCurrentIndex(2);
        dialog->findChild<QLineEdit*>("txtTestPhrase")->setText("Testing");
        dialog->findChild<QPushButton*>("cmdSpeak")->click();
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    engine.showVoicesDialog(nullptr, QStringLiteral("Confabo Voices"));
    EXPECT_EQ(title, "Confabo Voices");
    EXPECT_TRUE(waitUntil([&] { return spokeTest; }));
    EXPECT_EQ(engine.currentVoice(), 3);
    EXPECT_EQ(cfb::Settings::SpeechRate.read(), "350");
    EXPECT_EQ(cfb::Settings::SpeechTestPhrase.read(), "Testing");
    EXPECT_EQ(VoiceTuning::load().rate, 350);

    engine.setCurrentVoice(1);
    const int fastBytes = int(synthesise(engine, text).audio.size());
    EXPECT_LT(fastBytes, normalBytes * 3 / 4) << "the faster rate shortens the audio";
}
