// Calls between two Confabo objects with keys of their own, signed in to the real service, over
// the encrypted channel on loopback: a buddy whose client announced calls is called, hears it
// ring, answers and gets the caller's sound until the caller hangs up; a buddy on a client from
// before calls is never taken for one that takes calls.
#include "audio/CallSession.h"
#include "audio/JitterBuffer.h"
#include "audio/VoiceFormat.h"
#include "channel/Identity.h"
#include "channel/SecureChannel.h"
#include "channel/VideoContent.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "FreeDataPort.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace cfb;

namespace {

class BuddyCallsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString();
        previous_ = UserNotice::setHandler([](const QString&, const QString&) {});
        SettingsStore::save("Data", "CFBSERVER", service_.serverSetting());
        amy_ = make("Amelia");
        bo_ = make("Bonnie");
        ASSERT_EQ(amy_->AddBuddy("Bonnie"), "Bonnie");
        ASSERT_EQ(bo_->AddBuddy("Amelia"), "Amelia");
        boAtAmy_ = amy_->Buddies()->Item("Bonnie").get();
        ASSERT_TRUE(boAtAmy_ && amy_->calls() && bo_->calls());
    }
    void TearDown() override { UserNotice::setHandler(previous_); }

    std::unique_ptr<Confabo> make(const QString& handle)
    {
        SettingsStore::save("Data", "DataPort", freeDataPort());
        auto confabo = std::make_unique<Confabo>();
        // A key of its own: both share one settings folder, where the default key would be one.
        Key32 secret;
        secret.fill(uint8_t(handle.front().unicode()));
        confabo->setIdentity(Identity::fromSecret(secret));
        EXPECT_TRUE(confabo->Register(handle, "PW", handle.toLower() + "@example.org"));
        EXPECT_TRUE(confabo->Login(handle, "PW", "127.0.0.1"));
        return confabo;
    }
    static int16_t portOf(Confabo& c) { return int16_t(c.wsReceive()->LocalPort().toInt()); }

    // A line each way, each shown: the encrypted session is up and each side knows the other's
    // key (calls come only from buddies known by their key).
    bool sessionUp()
    {
        return line(*amy_, *bo_, "Bonnie") && line(*bo_, *amy_, "Amelia");
    }
    static bool line(Confabo& from, Confabo& to, const QString& toHandle)
    {
        bool arrived = false;
        const auto watch = QObject::connect(&to, &Confabo::NewMessage, [&](QString&, QString&, int16_t&, QString&) { arrived = true; });
        const bool sent = from.SendMessage(toHandle, "hello", portOf(to), portOf(to));
        const bool up = sent && waitUntil([&] { return arrived; }, 10000);
        QObject::disconnect(watch);
        return up;
    }

    TempConfig config_;
    ServiceProcess service_;
    UserNotice::Handler previous_;
    std::unique_ptr<Confabo> amy_, bo_;
    Buddy* boAtAmy_ = nullptr;
};

} // namespace

TEST_F(BuddyCallsTest, ABuddyThatTakesCallsHearsItRingAnswersAndHearsTheCallerUntilTheHangUp)
{
    ASSERT_TRUE(sessionUp());
    ASSERT_TRUE(waitUntil([&] { return amy_->takesCalls(*boAtAmy_); }, 5000)) << "Bonnie's client never said calls";

    // Amelia's microphone: a 440 Hz tone, past no noise suppression (it takes a steady tone for
    // noise).
    amy_->calls()->setEchoCancellation(false);
    int64_t sample = 0;
    amy_->calls()->setCapture([&](int16_t* frame) {
        for (int i = 0; i < VoiceFormat::FrameSamples; ++i, ++sample)
            frame[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(sample) / VoiceFormat::SampleRate));
    });
    double loudest = 0;
    bo_->calls()->setPlayback([&](const int16_t* frame) {
        for (int i = 0; i < VoiceFormat::FrameSamples; ++i)
            loudest = std::max(loudest, std::abs(double(frame[i])));
    });
    QStringList atAmy, atBo;
    QObject::connect(bo_.get(), &Confabo::CallIncoming, [&](const QString& h) { atBo << "incoming:" + h; });
    QObject::connect(bo_.get(), &Confabo::CallStarted, [&](const QString& h) { atBo << "started:" + h; });
    QObject::connect(bo_.get(), &Confabo::CallEnded, [&](const QString& h, const QString& r) { atBo << "ended:" + h + ":" + r; });
    QObject::connect(amy_.get(), &Confabo::CallStarted, [&](const QString& h) { atAmy << "started:" + h; });
    QObject::connect(amy_.get(), &Confabo::CallEnded, [&](const QString& h, const QString& r) { atAmy << "ended:" + h + ":" + r; });

    QString error;
    ASSERT_TRUE(amy_->Call("Bonnie", portOf(*bo_), error)) << error.toStdString();
    // One call at a time: a second one is refused with its reason.
    QString second;
    EXPECT_FALSE(amy_->Call("Bonnie", portOf(*bo_), second));
    EXPECT_FALSE(second.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return atBo.contains("incoming:Amelia"); }, 5000)) << atBo.join(' ').toStdString();
    EXPECT_EQ(bo_->calls()->state(), CallSession::State::Ringing);
    ASSERT_TRUE(bo_->Answer());
    ASSERT_TRUE(waitUntil([&] { return atAmy.contains("started:Bonnie"); }, 5000));
    // A second of the call: Bonnie plays Amelia's tone.
    runFor(1000);
    ASSERT_TRUE(bo_->calls()->jitter());
    EXPECT_GT(bo_->calls()->jitter()->counters().decoded, 25);
    EXPECT_GT(loudest, 5000) << "Bonnie heard nothing of the tone";

    ASSERT_TRUE(amy_->Hangup());
    ASSERT_TRUE(waitUntil([&] { return atBo.contains("ended:Amelia:hangup"); }, 5000)) << atBo.join(' ').toStdString();
    EXPECT_EQ(atBo, QStringList({"incoming:Amelia", "started:Amelia", "ended:Amelia:hangup"}));
    EXPECT_EQ(atAmy, QStringList({"started:Bonnie", "ended:Bonnie:hangup"}));
    EXPECT_FALSE(bo_->Hangup()) << "nothing is left to hang up";
}

TEST_F(BuddyCallsTest, ABuddyOnAClientFromBeforeCallsIsNotTakenForOneThatTakesThem)
{
    // Bonnie's client says its codecs but nothing of calls, as one from before them.
    bo_->secureChannel()->setVideoCodecs(bo_->secureChannel()->ownVideoCodecs() & ~VideoContent::Calls);
    ASSERT_TRUE(sessionUp());
    Buddy* amyAtBo = bo_->Buddies()->Item("Amelia").get();
    ASSERT_TRUE(amyAtBo);
    // Amelia's side is newer: Bonnie's client knows she takes calls, not the other way round.
    ASSERT_TRUE(waitUntil([&] { return bo_->takesCalls(*amyAtBo); }, 5000));
    runFor(500);
    EXPECT_FALSE(amy_->takesCalls(*boAtAmy_));
}
