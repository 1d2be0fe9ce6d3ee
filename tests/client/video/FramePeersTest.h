#pragma once

// Two users of the library signed in at the real service, Amelia with Bonnie as her buddy, each on a
// data port of its own: the frame tests send from Amelia to Bonnie and count what Bonnie receives.
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "channel/Identity.h"
#include "channel/SecureChannel.h"
#include "messaging/Confabo.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"
#include "transport/ivUDP.h"

#include "FreeDataPort.h"
#include "ServiceProcess.h"
#include "TempConfig.h"

#include <QList>
#include <QSize>
#include <gtest/gtest.h>

#include <memory>

class FramePeersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        using namespace cfb;
        ASSERT_TRUE(service_.isRunning()) << service_.errorText().toStdString();
        previous_ = UserNotice::setHandler([](const QString&, const QString&) {});
        SettingsStore::save("Data", "CFBSERVER", service_.serverSetting());
        amy_ = signIn("Amelia");
        bo_ = signIn("Bonnie", plainBonnie_);
        if (bonnieSaysNoCodecs_) // before any session: she never says them
            bo_->secureChannel()->setVideoCodecs(0);
        ASSERT_EQ(amy_->AddBuddy("Bonnie"), "Bonnie");
        boAtAmy_ = amy_->Buddies()->Item(QStringLiteral("Bonnie")).get();
        ASSERT_TRUE(boAtAmy_);
        QObject::connect(bo_.get(), &Confabo::VideoFrame, [this](QString& from, QImage& picture) {
            if (from == "Amelia")
                pictures_.append(picture.size());
        });
        QObject::connect(bo_.get(), &Confabo::VideoFrameBytes,
            [this](QString&, QByteArray& bytes) { jpegs_ += bytes.startsWith("\xFF\xD8\xFF") ? 1 : 0; });
    }
    void TearDown() override { cfb::UserNotice::setHandler(previous_); }

    // plain: a client without a key, which gets frames in the plain format, one datagram each.
    std::unique_ptr<cfb::Confabo> signIn(const QString& handle, bool plain = false)
    {
        cfb::SettingsStore::save("Data", "DataPort", freeDataPort());
        auto confabo = std::make_unique<cfb::Confabo>();
        if (plain)
            confabo->setIdentity(std::nullopt);
        EXPECT_TRUE(confabo->Register(handle, "PW", handle.toLower() + "@example.org"));
        EXPECT_TRUE(confabo->Login(handle, "PW", "127.0.0.1"));
        return confabo;
    }
    int16_t boPort() const { return int16_t(bo_->wsReceive()->LocalPort().toInt()); }

    bool plainBonnie_ = false; // set in a test fixture's constructor
    bool bonnieSaysNoCodecs_ = false; // likewise: a client from before VP8
    TempConfig config_;
    ServiceProcess service_;
    cfb::UserNotice::Handler previous_;
    std::unique_ptr<cfb::Confabo> amy_, bo_;
    cfb::Buddy* boAtAmy_ = nullptr;
    QList<QSize> pictures_; // sizes of the pictures Bonnie received from Amelia
    int jpegs_ = 0; // of the frames Bonnie received, those that are JPEG data
};
