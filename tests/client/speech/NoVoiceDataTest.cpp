// espeak-ng is set up once per process, so speech without voice data gets a program of its own.
#include "SpeechWait.h"
#include "TempConfig.h"
#include "speech/EspeakSpeechEngine.h"
#include "speech/MouthWidget.h"
#include "speech/SpeechEngineFactory.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace cfb::client;

TEST(SpeechWithoutVoiceData, SpeechIsOffAndTheMouthStillMoves)
{
    TempConfig config;
    QTemporaryDir empty;
    QStringList log;
    EspeakSpeechEngine::Options options;
    options.dataPath = empty.path();
    options.eventLog = [&](const QString& line) { log << line; };
    EspeakSpeechEngine engine(options);
    EXPECT_FALSE(engine.synthesisAvailable());
    EXPECT_FALSE(engine.audioAvailable());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().contains("voice data")) << log.first().toStdString();
    EXPECT_TRUE(engine.voiceName(1).isEmpty());
    engine.setCurrentVoice(3);
    EXPECT_EQ(engine.currentVoice(), 1);

    MouthWidget mouth;
    QSet<MouthShape> shapes;
    QObject::connect(&mouth, &MouthWidget::shapeChanged, [&](MouthShape s) { shapes.insert(s); });
    QStringList finished;
    QObject::connect(&engine, &EspeakSpeechEngine::textFinished, [&](const QString& t) { finished << t; });
    engine.speak(QStringLiteral("Hello, my old friend."), &mouth);
    engine.speak(QStringLiteral("Bye!"), &mouth);
    ASSERT_TRUE(waitUntil([&] { return finished.size() == 2; }));
    EXPECT_EQ(finished, (QStringList{"Hello, my old friend.", "Bye!"}));
    EXPECT_GE(shapes.size(), 4);
    EXPECT_EQ(mouth.shape(), MouthShape::Closed);

    // The factory's engine shares the process's espeak-ng: it must not fail either.
    EXPECT_NE(createSpeechEngine(), nullptr);
}
