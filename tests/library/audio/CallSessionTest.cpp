// Two (or three) call sessions wired to each other through the event loop, as the encrypted
// channel carries their contents: the signalling both ways and spoken words from one
// microphone to the other's playback.
#include "SpokenClip.h"

#include "audio/CallContent.h"
#include "audio/CallSession.h"
#include "audio/EnvelopeCorrelation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace cfb;
using namespace cfb::testing;

namespace {

struct Ends {
    QStringList events;
};

// Sessions by handle; a content goes to its addressee from the event loop, never within send.
class Switchboard {
public:
    CallSession& add(const QString& handle)
    {
        auto session = std::make_unique<CallSession>([this, handle](const QString& to, QByteArrayView content) {
            if (!sessions_.contains(to))
                return true; // gone: nobody answers
            const QByteArray bytes = content.toByteArray();
            QTimer::singleShot(delayMs, Qt::PreciseTimer, [this, handle, to, bytes] {
                if (auto it = sessions_.find(to); it != sessions_.end())
                    it->second->receive(handle, bytes);
            });
            return true;
        });
        CallSession& s = *session;
        QObject::connect(&s, &CallSession::incoming, [this, handle](const QString& from) { log(handle, "call " + from); });
        QObject::connect(&s, &CallSession::started, [this, handle](const QString& with) { log(handle, "started " + with); });
        QObject::connect(&s, &CallSession::ended,
            [this, handle](const QString& with, const QString& reason) { log(handle, "ended " + with + " " + reason); });
        sessions_.emplace(handle, std::move(session));
        return s;
    }
    void log(const QString& handle, const QString& event) { events.append(handle + ": " + event); }
    bool waitFor(const QString& event, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        while (!events.contains(event) && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        return events.contains(event);
    }
    void run(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    QStringList events;
    int delayMs = 0; // each way

private:
    std::map<QString, std::unique_ptr<CallSession>> sessions_;
};

} // namespace

TEST(CallContent, ReadsWhatItWritesAndRefusesTheMalformed)
{
    QByteArray packet;
    const QByteArray opus("\x08\x01\x02", 3);
    CallContent::audio(7, 65535, 0xfffffff0u, opus, packet);
    const auto fields = CallContent::read(packet);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->kind, CallContent::Audio);
    EXPECT_EQ(fields->callId, 7u);
    EXPECT_EQ(fields->sequence, 65535);
    EXPECT_EQ(fields->timestamp, 0xfffffff0u);
    EXPECT_EQ(fields->payload, opus);
    EXPECT_FALSE(CallContent::read(packet.first(CallContent::AudioHeader))); // no payload
    EXPECT_TRUE(CallContent::read(CallContent::signal(CallContent::Hangup, 9)));
    EXPECT_FALSE(CallContent::read(CallContent::signal(CallContent::Hangup, 0))); // no call id
    EXPECT_FALSE(CallContent::read(CallContent::signal(CallContent::Hangup, 9) + 'x'));
    EXPECT_FALSE(CallContent::read(CallContent::signal(CallContent::Kind(0x2f), 9))); // a later kind
    const QByteArray probe = CallContent::probe(CallContent::Echo, 9, 0xfedcba98u);
    const auto echo = CallContent::read(probe);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->kind, CallContent::Echo);
    EXPECT_EQ(echo->timestamp, 0xfedcba98u);
    EXPECT_FALSE(CallContent::read(probe.first(5))); // no clock
    EXPECT_FALSE(CallContent::read(probe + 'x'));
    EXPECT_FALSE(CallContent::read(QByteArray(CallContent::AudioHeader + 1276, '\x26')));
}

TEST(CallSession, CarriesSpokenWordsAndTurnsAwayASecondCaller)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    const std::vector<int16_t> clip = spokenClip("Can you hear me now? The call carries every word.");
    if (clip.empty())
        GTEST_SKIP() << "espeak-ng has no voice data";
    const std::vector<int16_t> mic = looped(clip, 200); // 4 s
    Switchboard board;
    CallSession& amelia = board.add("amelia");
    CallSession& bertram = board.add("bertram");
    CallSession& carla = board.add("carla");
    std::size_t at = 0;
    std::vector<int16_t> sent, heard;
    amelia.setCapture([&](int16_t* frame) {
        for (int i = 0; i < VoiceFormat::FrameSamples; ++i)
            frame[i] = mic[(at + i) % mic.size()];
        sent.insert(sent.end(), frame, frame + VoiceFormat::FrameSamples);
        at += VoiceFormat::FrameSamples;
    });
    bertram.setPlayback([&](const int16_t* frame) { heard.insert(heard.end(), frame, frame + VoiceFormat::FrameSamples); });

    ASSERT_TRUE(amelia.call("bertram"));
    EXPECT_FALSE(amelia.call("carla")); // one call at a time
    ASSERT_TRUE(board.waitFor("bertram: call amelia"));
    ASSERT_TRUE(carla.call("bertram"));
    EXPECT_TRUE(board.waitFor("carla: ended bertram busy"));
    ASSERT_TRUE(bertram.answer());
    ASSERT_TRUE(board.waitFor("amelia: started bertram"));
    board.run(4000);
    ASSERT_TRUE(amelia.hangup());
    EXPECT_TRUE(board.waitFor("bertram: ended amelia hangup"));
    EXPECT_EQ(bertram.state(), CallSession::State::Idle);

    const EnvelopeMatch match = EnvelopeMatch::of(sent, heard, VoiceFormat::SampleRate);
    std::printf("loopback: envelope correlation %.3f at %d ms mouth to ear\n", match.correlation, match.lagMs);
    EXPECT_GT(match.correlation, 0.7);
    EXPECT_LT(match.lagMs, 200);
}

TEST(CallSession, TimesTheRoundTripWhileTheCallIsOn)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    Switchboard board;
    board.delayMs = 40;
    CallSession& amelia = board.add("amelia");
    CallSession& bertram = board.add("bertram");
    ASSERT_TRUE(amelia.call("bertram"));
    ASSERT_TRUE(board.waitFor("bertram: call amelia"));
    ASSERT_TRUE(bertram.answer());
    ASSERT_TRUE(board.waitFor("amelia: started bertram"));
    EXPECT_EQ(amelia.roundTripMs(), -1) << "nothing timed yet";
    board.run(2500);
    for (const CallSession* side : {&amelia, &bertram}) {
        EXPECT_GE(side->roundTripMs(), 78);
        EXPECT_LE(side->roundTripMs(), 160);
    }
    ASSERT_TRUE(amelia.hangup());
    EXPECT_EQ(amelia.roundTripMs(), -1) << "the next call times its own";
}

TEST(CallSession, EndsDeclinedAndUnansweredCalls)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    Switchboard board;
    CallSession& amelia = board.add("amelia");
    CallSession& bertram = board.add("bertram");
    amelia.setRingMs(300);
    bertram.setRingMs(300);
    ASSERT_TRUE(amelia.call("bertram"));
    ASSERT_TRUE(board.waitFor("bertram: call amelia"));
    EXPECT_FALSE(amelia.answer()); // only the called answers
    ASSERT_TRUE(bertram.decline());
    EXPECT_TRUE(board.waitFor("amelia: ended bertram declined"));

    ASSERT_TRUE(amelia.call("bertram"));
    EXPECT_TRUE(board.waitFor("amelia: ended bertram missed"));
    EXPECT_TRUE(board.waitFor("bertram: ended amelia missed"));

    // Nobody there: the invite goes out again and again, then the call is missed.
    ASSERT_TRUE(amelia.call("dora"));
    EXPECT_TRUE(board.waitFor("amelia: ended dora missed"));
    EXPECT_EQ(amelia.state(), CallSession::State::Idle);
}
